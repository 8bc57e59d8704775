// Classification of encrypted passwords by their text, and the salt maker.
//
// The formats are one ordered table, read top to bottom: the first row
// whose prefix (or predicate) matches names the scheme, writes its trace
// line and judges the text.  The most specific prefixes come first, the
// prefix-less DES forms last.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "cred/internal.h"
#include "verify/verify.h"

namespace {

constexpr std::string_view kCryptAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";
static_assert(kCryptAlphabet.size() == 64);

constexpr std::array<bool, 256> MakeAlphabetSet() {
    std::array<bool, 256> set{};
    for (char c : kCryptAlphabet) set[static_cast<unsigned char>(c)] = true;
    return set;
}
constexpr std::array<bool, 256> kInAlphabet = MakeAlphabetSet();

constexpr const char *kUnknown = "unknown";
constexpr std::string_view kOpenDirectory = "********";

constexpr size_t kShortestDes = 13;     // 2 salt and 11 hash characters
constexpr size_t kLongDesChecked = 19;  // count, salt and hash after the "_"
constexpr size_t kNameSearchFrom = 10;  // the text's third character in the name

// The built name of another dollar form: "unknown:" and the text's lead.
char otherName[32];

// The salt maker's own buffer and whether rand() has been seeded.
char saltBuffer[4];
bool saltSeeded = false;

// ---- Judging a matched text; each writes its own further lines ----------

int Accept(std::string_view) {
    return 1;
}
int Refuse(std::string_view) {
    return 0;
}

// 1 when the n characters of pw from start are all in the crypt alphabet;
// otherwise reports the first that is not, for the scheme called what.
int CheckAlphabet(std::string_view pw, size_t start, size_t n, const char *what) {
    for (size_t i = start; i < start + n; ++i) {
        auto byte = static_cast<unsigned char>(pw[i]);
        if (!kInAlphabet[byte]) {
            CredTrace("Non base-64 character ('%c', hex $%02X) detected in in %s.\n", pw[i], byte,
                      what);
            return 0;
        }
    }
    CredTrace("Encrypted password was valid.\n");
    return 1;
}

int CheckLongDes(std::string_view pw) {
    if (pw.size() <= kLongDesChecked) {
        CredTrace("BSD/OS or OpenBSD long password not long enough.\n");
        return 0;
    }
    return CheckAlphabet(pw, 1, kLongDesChecked, "BSD/OS long password");
}

int CheckDes(std::string_view pw) {
    return CheckAlphabet(pw, 0, kShortestDes, "DES crypt password");
}

int ReportTooShort(std::string_view pw) {
    CredTrace("Not long enough (\"%.*s\", only %lu char%s) to be a DES crypt password.\n",
              static_cast<int>(pw.size()), pw.data(), static_cast<unsigned long>(pw.size()),
              pw.size() == 1 ? "" : "s");
    return 0;
}

// ---- Predicates of the rows without a fixed prefix ------------------------

int IsOpenDirectory(const char *pw) {
    return pw == kOpenDirectory;
}
int IsTooShort(const char *pw) {
    return std::strlen(pw) < kShortestDes;
}
int IsAnything(const char *) {
    return 1;
}

struct Format {
    std::string_view prefix;         // matched when not empty ...
    int (*matches)(const char *pw);  // ... otherwise this decides
    const char *name;                // display name
    const char *detected;            // trace line, "%s" the name; or null
    int (*judge)(std::string_view pw);
};

constexpr Format kFormats[] = {
    {"$1$", nullptr, "BSD MD5", "BSD MD5 password detected.\n", Accept},
    {"$md5$", nullptr, "Sun MD5", "Sun MD5 password detected.\n", Accept},
    {{},
     IsBlowfishPassword,
     "Blowfish",
     "Blowfish password detected -- relying upon system crypt().\n",
     Accept},
    {{}, IsSha256Password, "SHA-256", "SHA-256 password detected.\n", Accept},
    {{}, IsSha512Password, "SHA-512", "SHA-512 password detected.\n", Accept},
    {{},
     IsOtherDollarFormat,
     otherName,
     "Unknown password encryption detected (%s) -- relying upon system crypt().\n",
     Accept},
    {{},
     IsOpenDirectory,
     kUnknown,
     "Sorry, but this version cannot process Mac OS X OpenDirectory passwords.  Implementing "
     "that is on the To-Do list for a future release.\n",
     Refuse},
    {"_", nullptr, "DES Long", "BSD/OS or OpenBSD long DES password detected.\n", CheckLongDes},
    {{}, IsTooShort, kUnknown, nullptr, ReportTooShort},
    {{}, IsAnything, "DES", "DES crypt password detected.\n", CheckDes},
};

bool Matches(const Format &f, const char *pw) {
    if (f.matches == nullptr) return std::string_view(pw).starts_with(f.prefix);
    return f.matches(pw) != 0;
}

}  // namespace

extern "C" int IsBlowfishPassword(const char *pw) noexcept {
    if (pw[0] != '$' || pw[1] != '2') return 0;
    if (pw[2] == '$') return 1;
    return pw[2] >= 'a' && pw[2] <= 'z' && pw[3] == '$';
}

extern "C" int IsSha256Password(const char *pw) noexcept {
    return std::string_view(pw).starts_with("$5$");
}

extern "C" int IsSha512Password(const char *pw) noexcept {
    return std::string_view(pw).starts_with("$6$");
}

extern "C" int IsOtherDollarFormat(const char *pw) noexcept {
    if (pw[0] != '$' || std::strchr(pw + 1, '$') == nullptr) return 0;
    // "unknown:" and the text, cut to the buffer; then the name ends before
    // the first "$" from the text's third character on.
    std::memset(otherName, 0, sizeof otherName);
    std::snprintf(otherName, sizeof otherName, "%s:%s", kUnknown, pw);
    if (char *dollar = std::strchr(otherName + kNameSearchFrom, '$')) {
        std::memset(dollar, 0, otherName + sizeof otherName - dollar);
    }
    return 1;
}

extern "C" int ClassifyEncryptedPassword(const char *pw, const char **algName) noexcept {
    if (pw == nullptr) pw = "";
    if (algName != nullptr) *algName = kUnknown;
    for (const Format &f : kFormats) {
        if (!Matches(f, pw)) continue;
        if (algName != nullptr) *algName = f.name;
        if (f.detected != nullptr) CredTrace(f.detected, f.name);
        return f.judge(pw);
    }
    return 0;  // not reached: the last row takes everything
}

extern "C" int IsValidEncryptedPassword(const char *pw) noexcept {
    return ClassifyEncryptedPassword(pw, nullptr);
}

extern "C" char *MakeSalt(char *buf) noexcept {
    if (buf == nullptr) buf = saltBuffer;
    if (!saltSeeded) {
        saltSeeded = true;
        std::srand(static_cast<unsigned>(std::time(nullptr) & 0x7FFF));
    }
    buf[0] = kCryptAlphabet[std::rand() % 64];
    buf[1] = kCryptAlphabet[std::rand() % 64];
    buf[2] = '\0';
    buf[3] = '\0';
    return buf;
}
