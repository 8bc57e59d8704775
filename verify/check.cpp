// Password verification: encrypt the guess with the answer as the setting
// and compare.  "$1$" answers go to the own MD5-based crypt, every other
// answer to the host's crypt(), which knows which schemes it supports.
#include <crypt.h>
#include <strings.h>  // explicit_bzero

#include <cerrno>
#include <cstring>
#include <string_view>

#include "cred/internal.h"
#include "verify/verify.h"

namespace {

constexpr size_t kCopySize = 256;    // crypt inputs: 255 characters and a NUL
constexpr size_t kShortAnswer = 12;  // answers this short match too easily

// A crypt input, cut to 255 characters, wiped when it goes.
class CryptInput {
  public:
    explicit CryptInput(const char *text) {
        std::strncpy(buf_, text != nullptr ? text : "", kCopySize);
        buf_[kCopySize - 1] = '\0';
    }
    ~CryptInput() { explicit_bzero(buf_, sizeof buf_); }
    CryptInput(const CryptInput &) = delete;
    CryptInput &operator=(const CryptInput &) = delete;
    const char *c_str() const { return buf_; }

  private:
    char buf_[kCopySize];
};

const char *OrNull(const char *s) {
    return s != nullptr ? s : "NULL";
}

}  // namespace

extern "C" char *CryptGuess(const char *guess, const char *answer) noexcept {
    const CryptInput key(guess);
    const CryptInput setting(answer);
    errno = 0;
    if (std::string_view(setting.c_str()).starts_with("$1$")) {
        char *encrypted = Cred_md5_crypt(key.c_str(), setting.c_str());
        CredTrace("Cred_md5_crypt = [%s]\n", OrNull(encrypted));
        return encrypted;
    }
    char *encrypted = crypt(key.c_str(), setting.c_str());
    CredTrace("crypt = [%s]\n", OrNull(encrypted));
    return encrypted;
}

extern "C" int CheckGuess(const char *guess, const char *answer) noexcept {
    if (answer == nullptr) answer = "";
    const char *encrypted = CryptGuess(guess, answer);
    if (encrypted == nullptr) {
        CredTrace("encrypted guess == NULL\n");
        return -1;
    }
    if (std::strcmp(encrypted, answer) != 0) {
        CredTrace("encrypted guess did not equal encrypted answer\n");
        return -1;
    }
    size_t length = std::strlen(answer);
    if (length <= kShortAnswer) {
        CredTrace("guess == answer, but answer was too short (%d chars)\n",
                  static_cast<int>(length));
    }
    CredTrace("encrypted guess == encrypted answer\n");
    return 0;
}
