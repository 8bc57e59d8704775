// pam_stack.cpp - a service's PAM stack as Linux-PAM reads it: the
// service's file in /etc/pam.d (or its lines of /etc/pam.conf when that
// folder is missing), the "other" service for each type the service has no
// line of, include, substack and @include followed, "-type" lines,
// "[value=action]" controls, comments and continued lines.
#include <fcntl.h>
#include <security/pam_appl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "account/internal.h"

namespace credaccount {
namespace {

constexpr std::size_t kLineSize = 1024;  // Linux-PAM's buffer for one logical line
constexpr int kMaxIncludes = 16;         // the nesting at which Linux-PAM stops including
// Bounds on reading one service's stack, far past what a real host has (a
// login stack reads a dozen files of a few KiB): 256 lines kept, 256 files
// opened (an include read again counts again), 1 MiB per file and 16 MiB
// in all.  A stack past one of them is cut there and is not complete.
constexpr std::size_t kMaxLines = 256;
constexpr int kMaxFiles = 256;
constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxBytes = 16 << 20;
constexpr const char *kTypes[] = {"auth", "account", "password", "session"};

// The answers' names in a control, by value, then "default".
// clang-format off
constexpr const char *kValueNames[kPamValues + 1] = {
    "success", "open_err", "symbol_err", "service_err", "system_err", "buf_err", "perm_denied",
    "auth_err", "cred_insufficient", "authinfo_unavail", "user_unknown", "maxtries",
    "new_authtok_reqd", "acct_expired", "session_err", "cred_unavail", "cred_expired", "cred_err",
    "no_module_data", "conv_err", "authtok_err", "authtok_recover_err", "authtok_lock_busy",
    "authtok_disable_aging", "try_again", "ignore", "abort", "authtok_expired", "module_unknown",
    "bad_item", "conv_again", "incomplete", "default"};
// clang-format on
constexpr int kUndefined = -6;

// A file's text, read whole, and how far it has been read.
struct Text {
    std::string path;  // where data was read from
    std::string data;
    std::size_t pos = 0;
    int number = 0;  // the number of the line the last Gets read from
    // As fgets reads a file: at most size - 1 bytes, through a newline;
    // false at the end.
    bool Gets(char *to, std::size_t size) {
        if (pos == data.size() || size < 2) return false;
        if (pos == 0 || data[pos - 1] == '\n') ++number;
        std::size_t n = std::min(size - 1, data.size() - pos);
        const void *newline = std::memchr(data.data() + pos, '\n', n);
        if (newline != nullptr) n = static_cast<const char *>(newline) - (data.data() + pos) + 1;
        std::memcpy(to, data.data() + pos, n);
        to[n] = '\0';
        pos += n;
        return true;
    }
};

// One logical line as Linux-PAM assembles it: from a '#' on is a comment;
// a line that ends with '\' goes on (the backslash read as a space), past
// empty lines; all within one 1024-byte buffer, so that the rest of a
// longer line is read as a line of its own.  False at the end of the file,
// and when a continued line meets the end of the file or of the buffer
// (Linux-PAM then reads no more of the file).  *number: the line it
// starts on.
bool AssembleLine(Text *file, std::string *line, int *number) {
    char buffer[kLineSize];
    char *p = buffer, *end = buffer + sizeof buffer;
    for (;;) {
        if (!file->Gets(p, static_cast<std::size_t>(end - p))) return false;
        char *s = p + std::strspn(p, " \n\t");
        if (*s == '\0' || *s == '#') continue;
        if (p == buffer) *number = file->number;
        char *os = s;
        s += std::strcspn(s, "#");
        if (*s == '#') {
            *s = '\0';
            break;
        }
        s = os + std::strlen(os);
        while (s > os && (*--s == ' ' || *s == '\t' || *s == '\n')) {
        }
        if (*s != '\\') break;
        *s++ = ' ';
        *s = '\0';
        p = s;
    }
    *line = buffer;
    return true;
}

// The next token of text from *pos, split as Linux-PAM splits a line: a
// word between blanks, or "[...]" up to the first ']' not written "\]"
// (brackets dropped, "\]" read as "]").  False when none is left.
bool NextToken(std::string_view text, std::size_t *pos, std::string *token,
               bool *bracketed = nullptr) {
    std::size_t i = text.find_first_not_of(" \n\t", *pos);
    token->clear();
    if (i == std::string_view::npos) {
        *pos = text.size();
        return false;
    }
    if (bracketed != nullptr) *bracketed = text[i] == '[';
    if (text[i] == '[') {
        for (++i; i < text.size() && text[i] != ']'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ']') ++i;
            *token += text[i];
        }
    } else {
        std::size_t stop = std::min(text.find_first_of(" \n\t", i), text.size());
        *token = text.substr(i, stop - i);
        i = stop;
    }
    *pos = i < text.size() ? i + 1 : i;
    return true;
}

void SetDefault(int *actions, int action) {
    for (int v = 0; v < kPamValues; ++v)
        if (actions[v] == kUndefined) actions[v] = action;
}

// The action word or number at *text (moved past it), or kUndefined.
int ActionAt(const char **text) {
    static constexpr std::pair<const char *, int> kWords[] = {
        {"ignore", kActionIgnore}, {"ok", kActionOk},   {"done", kActionDone},
        {"bad", kActionBad},       {"die", kActionDie}, {"reset", kActionReset}};
    for (const auto &[name, action] : kWords) {
        if (strncasecmp(name, *text, std::strlen(name)) != 0) continue;
        *text += std::strlen(name);
        return action;
    }
    if (!std::isdigit(static_cast<unsigned char>(**text))) return kUndefined;
    int skip = 0;
    while (std::isdigit(static_cast<unsigned char>(**text)) && skip < 100000)
        skip = skip * 10 + (*(*text)++ - '0');
    // Linux-PAM refuses a jump of 0: the line's every answer is bad.
    return skip > 0 ? skip : kUndefined;
}

const char *SkipSpace(const char *text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    return text;
}

// "value=action ..." as Linux-PAM reads it: the first value name that the
// text starts with, '=', then an action; anything else makes every answer
// bad.
void ParseControl(const char *text, int *actions) {
    while (*(text = SkipSpace(text)) != '\0') {
        int value = 0;
        while (value <= kPamValues &&
               std::strncmp(kValueNames[value], text, std::strlen(kValueNames[value])) != 0)
            ++value;
        int action = kUndefined;
        if (value <= kPamValues) {
            text = SkipSpace(text + std::strlen(kValueNames[value]));
            if (*text == '=') {
                text = SkipSpace(text + 1);
                action = ActionAt(&text);
            }
        }
        if (action == kUndefined) {
            for (int v = 0; v < kPamValues; ++v) actions[v] = kActionBad;
            return;
        }
        if (value == kPamValues)
            SetDefault(actions, action);
        else
            actions[value] = action;
    }
}

// The actions of a control word or list; false for include and substack.
bool Actions(const std::string &control, int *actions) {
    for (int v = 0; v < kPamValues; ++v) actions[v] = kUndefined;
    const char *c = control.c_str();
    bool required = strcasecmp(c, "required") == 0, requisite = strcasecmp(c, "requisite") == 0;
    if (required || requisite) {
        actions[PAM_SUCCESS] = actions[PAM_NEW_AUTHTOK_REQD] = kActionOk;
        actions[PAM_IGNORE] = kActionIgnore;
        SetDefault(actions, required ? kActionBad : kActionDie);
    } else if (strcasecmp(c, "optional") == 0) {
        actions[PAM_SUCCESS] = actions[PAM_NEW_AUTHTOK_REQD] = kActionOk;
        SetDefault(actions, kActionIgnore);
    } else if (strcasecmp(c, "sufficient") == 0) {
        actions[PAM_SUCCESS] = actions[PAM_NEW_AUTHTOK_REQD] = kActionDone;
        SetDefault(actions, kActionIgnore);
    } else if (strcasecmp(c, "include") == 0 || strcasecmp(c, "substack") == 0) {
        SetDefault(actions, kActionBad);
        return false;
    } else {
        ParseControl(c, actions);
        SetDefault(actions, kActionBad);
    }
    return true;
}

// How a file was read.
enum class Load { kRead, kMissing, kFailed };

class Reader {
  public:
    Reader(std::string confdir, std::vector<PamStackLine> *out)
        : confdir_(std::move(confdir)), out_(out) {}

    // Reads the named file (a name in the folder, or an absolute path) for
    // the lines of type ("" for all).  Once the reading is cut, nothing
    // more is read, and what is not read counts as read.
    Load ReadNamed(const std::string &name, const std::string &type, int includes, int level,
                   int depth) {
        if (!cut_.empty()) return Load::kRead;
        if (includes >= kMaxIncludes || name.empty() ||
            (name[0] != '/' && name.find('/') != std::string::npos))
            return Load::kMissing;
        Text file;
        file.path = name[0] == '/' ? name : confdir_ + "/" + name;
        if (!Open(file.path, &file.data)) return cut_.empty() ? Load::kMissing : Load::kRead;
        return Read(&file, "", type, includes, level, depth) ? Load::kRead : Load::kFailed;
    }

    // Reads file's lines (in /etc/pam.conf form, those of service, when
    // service is not empty); false when an @include fails, which stops
    // the file.
    bool Read(Text *file, const std::string &service, const std::string &type, int includes,
              int level, int depth) {
        std::string line;
        int number = 0;
        while (cut_.empty() && AssembleLine(file, &line, &number)) {
            where_ = {file->path, number};
            if (!Line(line, service, type, includes, level, depth)) return false;
        }
        return true;
    }

    // Reads the file at path whole into *text, within the bounds; false
    // when it cannot be opened, or the reading is cut.
    bool Open(const std::string &path, std::string *text) {
        if (++files_ > kMaxFiles) return Cut("the stack includes more than 256 files");
        bool more = false;
        FileRead read = ReadRegularFile(path.c_str(), kMaxFileBytes, text, &more);
        if (read == FileRead::kSpecial)
            return Cut("the stack's " + path + " is not a regular file");
        if (read == FileRead::kFailed) return Cut("the stack's " + path + " cannot be read");
        if (read == FileRead::kMissing) return false;
        if (more) return Cut("the stack's " + path + " is larger than 1 MiB");
        bytes_ += text->size();
        if (bytes_ > kMaxBytes) return Cut("the stack's files hold more than 16 MiB");
        return true;
    }

    const std::string &cut() const { return cut_; }

  private:
    bool Line(const std::string &text, const std::string &service, const std::string &type,
              int includes, int level, int depth) {
        std::size_t pos = 0;
        std::string token;
        if (!service.empty() &&
            (!NextToken(text, &pos, &token) || strcasecmp(token.c_str(), service.c_str()) != 0))
            return true;
        if (!NextToken(text, &pos, &token)) return true;
        if (strcasecmp(token.c_str(), "@include") == 0)
            return NextToken(text, &pos, &token) &&
                   ReadNamed(token, type, includes + 1, level, depth + 1) == Load::kRead;
        PamStackLine l;
        l.level = level;
        l.depth = depth;
        l.file = where_.first;
        l.number = where_.second;
        l.optional = token[0] == '-';
        l.type = token.substr(l.optional ? 1 : 0);
        bool known = false;
        for (const char *t : kTypes)
            if (strcasecmp(l.type.c_str(), t) == 0) l.type = t, known = true;
        if (!known) l.type = type.empty() ? "auth" : type;
        if (!type.empty() && l.type != type) return true;
        l.mustFail = !known;
        bool bracketed = false;
        bool hasControl = NextToken(text, &pos, &token, &bracketed);
        l.control = bracketed ? "[" + token + "]" : token;
        bool module = Actions(token, l.actions);
        if (!hasControl) l.mustFail = true;
        bool hasName = NextToken(text, &pos, &l.module);
        if (module) {
            l.mustFail = l.mustFail || !hasName;
            std::size_t start = std::min(text.find_first_not_of(" \n\t", pos), text.size());
            l.args = text.substr(start, text.find_last_not_of(" \n\t") + 1 - start);
            Add(l);
            return true;
        }
        // include and substack: the named file's lines of this type
        bool substack = strcasecmp(token.c_str(), "substack") == 0;
        if (substack) {
            l.substack = true;
            Add(l);
        }
        if (ReadNamed(l.module, l.type, includes + 1, level + substack, depth + 1) == Load::kRead)
            return true;
        l.substack = false;
        l.mustFail = true;
        Add(l);
        return true;
    }

    void Add(const PamStackLine &line) {
        if (!cut_.empty()) return;
        if (out_->size() < kMaxLines)
            out_->push_back(line);
        else
            Cut("the stack has more than 256 lines");
    }

    // Stops the reading, with why (printable: a path may hold anything).
    bool Cut(std::string why) {
        for (char &c : why)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        if (cut_.empty()) cut_ = std::move(why);
        return false;
    }

    std::string confdir_;
    std::vector<PamStackLine> *out_;
    std::string cut_;                    // why the reading stopped; "" while it goes on
    std::pair<std::string, int> where_;  // the file and line being read
    int files_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace

FileRead ReadRegularFile(const char *path, std::size_t limit, std::string *text, bool *more,
                         bool follow) {
    text->clear();
    if (more != nullptr) *more = false;
    // The type is asked before the open: opening a device may act, and a
    // FIFO's open waits for a writer.  The open does not wait either, in
    // case the file changed in between, and what it opened is asked again.
    struct stat st;
    if ((follow ? stat(path, &st) : lstat(path, &st)) != 0) return FileRead::kMissing;
    if (!S_ISREG(st.st_mode)) return FileRead::kSpecial;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0 && errno == ELOOP && !follow) return FileRead::kSpecial;
    if (fd < 0) return FileRead::kMissing;
    FileRead result = FileRead::kRead;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) result = FileRead::kSpecial;
    char buffer[4096];
    while (result == FileRead::kRead && text->size() <= limit) {
        ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit + 1 - text->size()));
        if (n == 0) break;
        if (n > 0)
            text->append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            result = FileRead::kFailed;
    }
    int saved = errno;
    close(fd);
    errno = saved;
    if (text->size() > limit) {
        text->resize(limit);
        if (more != nullptr) *more = true;
    }
    return result;
}

std::string Lower(const char *text) {
    std::string out = text;
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view BaseName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

const char *PamValueName(int value) {
    return value >= 0 && value < kPamValues ? kValueNames[value] : "invalid";
}

bool ReadPamStack(const char *service, PamStack *stack, const char *confdir, const char *pamConf) {
    *stack = PamStack{};
    // Linux-PAM takes the service name in lower case.
    std::string name = Lower(service), other = "other";
    std::vector<PamStackLine> own, fallback;
    Reader ownReader(confdir, &own), otherReader(confdir, &fallback);
    struct stat st;
    if (stat(confdir, &st) == 0 && S_ISDIR(st.st_mode)) {
        Load load = ownReader.ReadNamed(name, "", 0, 0, 0);
        // A file that fails to load (an @include that cannot be read) stops
        // the whole run.
        stack->aborts = load == Load::kFailed;
        stack->fromOther = load == Load::kMissing;
        otherReader.ReadNamed(other, "", 0, 0, 0);
    } else {
        Text file;
        file.path = pamConf;
        if (ownReader.Open(pamConf, &file.data)) {
            ownReader.Read(&file, name, "", 0, 0, 0);
            file.pos = 0;
            file.number = 0;
            otherReader.Read(&file, other, "", 0, 0, 0);
        }
        stack->fromOther = own.empty();
    }
    stack->fromOther = stack->fromOther && !fallback.empty();
    stack->cut = !ownReader.cut().empty() ? ownReader.cut() : otherReader.cut();
    stack->complete = stack->cut.empty();
    for (const char *type : kTypes) {
        bool mine = false;
        for (const PamStackLine &l : own) mine = mine || l.type == type;
        for (const PamStackLine &l : mine ? own : fallback)
            if (l.type == type) stack->lines.push_back(l);
    }
    return !stack->lines.empty() && !stack->aborts;
}

}  // namespace credaccount
