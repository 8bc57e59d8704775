// The shadow index of a walk.  A walk over every user would otherwise ask
// the host's getspnam once per user, and the files backend reads the
// shadow file from its start on every call: quadratic in the number of
// users.  Instead, a walk reads the shadow database once, in the host's
// source order, and answers its lookups from memory.
//
// The index only answers as the host's lookup would: with the first entry
// of a name, and with "no entry" (errno 0) for a name it lacks only when
// the files backend alone serves the database and the file was read.
// Everything else goes to the host: a name missing from the index while
// other sources are configured (a source may answer lookups without
// enumerating), a name the files backend never matches by lookup, and
// every name when the enumeration failed or gave nothing (for instance to
// a process that may not read the shadow file), so that the errno and the
// trace of those lookups stay the host's.
#include "cred/internal.h"

#if CRED_WITH_SHADOW
#include <shadow.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace {

// Text of the entries, in blocks that never move: the copied hashes have
// no stray copies left behind by a reallocation, and are cleared block by
// block when the walk ends.
class TextArena {
  public:
    ~TextArena() { Clear(); }

    const char *Copy(const char *text) {
        const size_t len = strlen(text) + 1;
        if (blocks_.empty() || left_ < len) {
            const size_t size = len > kBlock ? len : kBlock;
            blocks_.push_back({std::make_unique<char[]>(size), size});
            left_ = size;
        }
        Block &b = blocks_.back();
        char *dst = b.data.get() + (b.size - left_);
        memcpy(dst, text, len);
        left_ -= len;
        return dst;
    }

    void Clear() {
        for (Block &b : blocks_) explicit_bzero(b.data.get(), b.size);
        blocks_.clear();
        left_ = 0;
    }

  private:
    static constexpr size_t kBlock = 64 * 1024;
    struct Block {
        std::unique_ptr<char[]> data;
        size_t size;
    };
    std::vector<Block> blocks_;
    size_t left_ = 0;
};

// Name to entry, open addressing with linear probing over a table of
// powers of two kept at most half full: one probe per lookup, mostly, and
// no allocation per entry.
class ShadowIndex {
  public:
    // Adds a copy of sp unless its name is already there (a lookup finds
    // the first entry of a name).
    void Add(const struct spwd &sp) {
        if (sp.sp_namp == nullptr) return;
        const uint32_t hash = Hash(sp.sp_namp);
        const size_t i = Probe(sp.sp_namp, hash);
        if (slots_[i].entry != 0) return;
        struct spwd copy = sp;
        copy.sp_namp = const_cast<char *>(text_.Copy(sp.sp_namp));
        if (sp.sp_pwdp != nullptr) copy.sp_pwdp = const_cast<char *>(text_.Copy(sp.sp_pwdp));
        entries_.push_back(copy);
        slots_[i] = {hash, static_cast<uint32_t>(entries_.size())};
        if (2 * entries_.size() > slots_.size()) Rehash();
    }

    // Walks mostly visit users in the order of the shadow database, so
    // the entry after the last one found is tried before the table.
    struct spwd *Find(const char *name) {
        if (next_ < entries_.size() && strcmp(entries_[next_].sp_namp, name) == 0)
            return &entries_[next_++];
        const size_t i = Probe(name, Hash(name));
        if (slots_[i].entry == 0) return nullptr;
        next_ = slots_[i].entry;
        return &entries_[next_ - 1];
    }

    bool Empty() const { return entries_.empty(); }

  private:
    static constexpr size_t kFirstSize = 1024;
    struct Slot {
        uint32_t hash = 0;
        uint32_t entry = 0;  // 1 + index into entries_; 0 when free
    };

    static uint32_t Hash(const char *name) {
        return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
    }

    // The slot that holds name, or the free slot where it would go.
    size_t Probe(const char *name, uint32_t hash) const {
        const size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i].entry != 0 &&
               (slots_[i].hash != hash || strcmp(entries_[slots_[i].entry - 1].sp_namp, name) != 0))
            i = (i + 1) & mask;
        return i;
    }

    void Rehash() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const Slot &s : old) {
            if (s.entry == 0) continue;
            size_t i = s.hash & mask;
            while (slots_[i].entry != 0) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    TextArena text_;
    // In the order read; pointers into text_, no text of their own.  A
    // deque grows without moving what it holds.
    std::deque<struct spwd> entries_;
    std::vector<Slot> slots_ = std::vector<Slot>(kFirstSize);
    size_t next_ = 0;  // the entry after the last one found
};

ShadowIndex *g_index = nullptr;
unsigned g_depth = 0;
// Whether a name the index lacks is absent from the host's database too.
bool g_complete = false;

// Whether the host's shadow database is the files backend alone, by the
// "shadow:" line of /etc/nsswitch.conf.  The enumeration then lists every
// line that a lookup could find.
bool FilesOnly() {
    char sources[1024];
    if (!NsswitchLine("/etc/nsswitch.conf", "shadow", sources, sizeof sources)) return false;
    char *save = nullptr;
    const char *source = strtok_r(sources, " \t", &save);
    return source != nullptr && strcmp(source, "files") == 0 &&
           strtok_r(nullptr, " \t", &save) == nullptr;
}

// The host's buffer for one entry of the enumeration; cleared after it.
char g_entryText[1 << 16];

// Read every entry of the host's open shadow enumeration.  Returns false
// when it ended on an error rather than at its end; an entry too long for
// the buffer is such an error (ERANGE).
bool Fill(ShadowIndex &ix) {
    struct spwd entry;
    struct spwd *got = nullptr;
    int rc;
    do {
        errno = 0;
        rc = getspent_r(&entry, g_entryText, sizeof g_entryText, &got);
        if (rc == 0 && got != nullptr) ix.Add(entry);
    } while (rc == 0 && got != nullptr);
    return (rc == 0 || rc == ENOENT) && (errno == 0 || errno == ENOENT);
}

}  // namespace

extern "C" void ShadowWalkBegin(void) noexcept {
    if (g_depth++ > 0) return;
    const int saved = errno;
    ShadowIndex *ix = nullptr;
    bool clean = false;
    setspent();
    try {
        ix = new ShadowIndex;
        clean = Fill(*ix);
    } catch (const std::bad_alloc &) {
        clean = false;
    }
    endspent();
    explicit_bzero(g_entryText, sizeof g_entryText);
    // After a failed enumeration every lookup of the walk goes to the host.
    if (!clean) {
        delete ix;
        ix = nullptr;
    }
    g_index = ix;
    // Entries prove the file was read: a process that may not read it
    // enumerates nothing, without an error, and its lookups fail.
    g_complete = ix != nullptr && !ix->Empty() && FilesOnly();
    errno = saved;
}

extern "C" int ShadowWalkFind(const char *name, struct spwd **entry) noexcept {
    *entry = nullptr;
    if (g_index == nullptr || name == nullptr) return 0;
    // The files backend never matches these names by lookup, though its
    // enumeration lists such lines.
    if (name[0] == '+' || name[0] == '-') return 0;
    *entry = g_index->Find(name);
    return *entry != nullptr || g_complete;
}

extern "C" void ShadowWalkEnd(void) noexcept {
    if (g_depth == 0 || --g_depth > 0) return;
    delete g_index;  // the arena clears the copied hashes
    g_index = nullptr;
    g_complete = false;
}

#else

// Without the host's shadow database there is nothing to index: every
// lookup goes to the stand-in.
extern "C" void ShadowWalkBegin(void) noexcept {}
extern "C" int ShadowWalkFind(const char *, struct spwd **entry) noexcept {
    *entry = nullptr;
    return 0;
}
extern "C" void ShadowWalkEnd(void) noexcept {}

#endif
