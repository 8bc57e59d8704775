// Classification, verification and the MD5-based crypt on any password and
// any setting; MD5 fed in pieces against OpenSSL's, and the MD5-based crypt
// against the host's crypt where both accept the salt.
#include <crypt.h>
#include <openssl/evp.h>

#include <cstring>
#include <string_view>

#include "cred/cred.h"
#include "fuzz_common.h"
#include "verify/md5.h"
#include "verify/verify.h"

namespace {

constexpr std::string_view kItoa64 =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void CheckMd5(const std::string &data, size_t piece) {
    unsigned char want[EVP_MAX_MD_SIZE];
    unsigned int wantLen = 0;
    EVP_Digest(data.data(), data.size(), want, &wantLen, EVP_md5(), nullptr);

    MD5_CTX ctx;
    MD5Init(&ctx);
    for (size_t at = 0; at < data.size(); at += piece)
        MD5Update(&ctx, data.data() + at, std::min(piece, data.size() - at));
    unsigned char got[16];
    MD5Final(got, &ctx);
    if (wantLen != 16 || memcmp(got, want, 16) != 0) fuzz::Fail("MD5 differs from OpenSSL");
    for (size_t i = 0; i < sizeof ctx; ++i)
        if (reinterpret_cast<const unsigned char *>(&ctx)[i] != 0)
            fuzz::Fail("MD5Final left state");

    char hex[40];
    char *h = MD5HexDigest(data.data(), data.size(), hex, sizeof hex);
    if (data.empty() != (h == nullptr)) fuzz::Fail("MD5HexDigest result");
    for (int i = 0; h && i < 16; ++i) {
        static const char digits[] = "0123456789abcdef";
        if (h[2 * i] != digits[want[i] >> 4] || h[2 * i + 1] != digits[want[i] & 15])
            fuzz::Fail("MD5HexDigest digits");
    }
}

// The salt the MD5-based crypt takes from a setting.
std::string_view SaltOf(std::string_view setting) {
    if (setting.starts_with("$1$")) setting.remove_prefix(3);
    size_t end = setting.find('$');
    return setting.substr(0, std::min<size_t>(std::min(end, setting.size()), 8));
}

void CheckMd5Crypt(const std::string &pw, const std::string &setting) {
    const std::string_view salt = SaltOf(setting);
    const char *got = Cred_md5_crypt(pw.c_str(), setting.c_str());
    if (got == nullptr) fuzz::Fail("Cred_md5_crypt returned null");
    std::string_view out(got);
    if (!out.starts_with("$1$") || out.size() != 3 + salt.size() + 1 + 22 ||
        out.substr(3, salt.size()) != salt || out[3 + salt.size()] != '$' ||
        out.substr(4 + salt.size()).find_first_not_of(kItoa64) != std::string_view::npos)
        fuzz::Fail("Cred_md5_crypt result form");
    const std::string mine(out);

    // The host's crypt as the oracle, for salts that it takes.
    if (salt.find_first_not_of(kItoa64) != std::string_view::npos) return;
    const std::string hostSetting = "$1$" + std::string(salt) + "$";
    struct crypt_data cd {};
    const char *host = crypt_r(pw.c_str(), hostSetting.c_str(), &cd);
    if (host != nullptr && std::string_view(host).starts_with("$1$") && mine != host)
        fuzz::Fail("Cred_md5_crypt differs from the host's crypt");
}

// Whether the host's crypt answers this setting quickly: traditional DES
// (and the MD5-based crypt, which is ours).  Settings with a cost (rounds=,
// Blowfish, yescrypt, extended DES counts) could run for minutes.
bool CheapToCheck(const std::string &answer) {
    return answer.starts_with("$1$") || (answer[0] != '$' && answer[0] != '_');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CredDebugStream = fuzz::DiscardStream();
    fuzz::Input in(data, size);
    const size_t piece = 1 + in.Byte();
    const std::string rest = in.Rest();
    CheckMd5(rest, piece);

    const std::string pw = fuzz::CString(rest);
    const std::string setting =
        pw.size() < rest.size() ? fuzz::CString(rest.substr(pw.size() + 1)) : std::string();

    const char *name = nullptr;
    int valid = ClassifyEncryptedPassword(setting.c_str(), &name);
    if ((valid != 0 && valid != 1) || name == nullptr || strlen(name) > 31)
        fuzz::Fail("classification result");
    if (IsValidEncryptedPassword(pw.c_str()) != ClassifyEncryptedPassword(pw.c_str(), nullptr))
        fuzz::Fail("IsValidEncryptedPassword differs");
    IsOtherDollarFormat(setting.c_str());

    CheckMd5Crypt(pw, setting);
    if (CheapToCheck(setting)) {
        int rc = CheckGuess(pw.c_str(), setting.c_str());
        if (rc != 0 && rc != -1) fuzz::Fail("CheckGuess result");
        if (setting.starts_with("$1$") && rc == 0 && pw.size() < 256 &&
            setting != Cred_md5_crypt(pw.c_str(), setting.c_str()))
            fuzz::Fail("CheckGuess accepted a wrong guess");
    }
    char salt[4];
    MakeSalt(salt);
    return 0;
}
