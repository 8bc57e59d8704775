// hashes.cpp - the hash methods: one ordered table of prefix, libxcrypt
// name and decoder.  A decoder reads the method's parameters and checks the
// whole text (alphabet, salt and hash lengths, parameter ranges); the host's
// crypt then says whether it supports the hash and how strong it is.
#include <crypt.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "account/internal.h"

namespace credaccount {
namespace {

// The crypt alphabet in the order of its values ("." is 0, "z" is 63).
constexpr std::string_view kAlphabet =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
static_assert(kAlphabet.size() == 64);

constexpr std::array<signed char, 256> MakeValues() {
    std::array<signed char, 256> values{};
    for (auto &v : values) v = -1;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return values;
}
constexpr std::array<signed char, 256> kValues = MakeValues();

int Value(char c) {
    return kValues[static_cast<unsigned char>(c)];
}

bool InAlphabet(std::string_view text) {
    for (char c : text)
        if (Value(c) < 0) return false;
    return true;
}

void AddParam(CredHashInfo *info, const char *name, unsigned long long value) {
    if (info->nparams < CRED_HASH_MAX_PARAMS) info->params[info->nparams++] = {name, value};
}

// Reads a decimal number of at most maxDigits digits without a leading zero
// from the front of text; removes it.  False when there is none.
bool TakeDecimal(std::string_view &text, std::size_t maxDigits, unsigned long long *value) {
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
    if (n == 0 || n > maxDigits || (n > 1 && text[0] == '0')) return false;
    *value = 0;
    for (std::size_t i = 0; i < n; ++i) *value = *value * 10 + (text[i] - '0');
    text.remove_prefix(n);
    return true;
}

// Splits "salt$hash" at its last '$': the salt must have between minSalt
// and maxSalt characters, the hash exactly hashLength; both in the alphabet.
const char *CheckSaltAndHash(std::string_view rest, std::size_t minSalt, std::size_t maxSalt,
                             std::size_t hashLength) {
    std::size_t dollar = rest.find('$');
    if (dollar == std::string_view::npos) return "no '$' between the salt and the hash";
    std::string_view salt = rest.substr(0, dollar), hash = rest.substr(dollar + 1);
    if (salt.size() < minSalt || salt.size() > maxSalt) return "salt of the wrong length";
    if (!InAlphabet(salt)) return "salt has a character outside the crypt alphabet";
    if (hash.size() != hashLength) return "hash of the wrong length";
    if (!InAlphabet(hash)) return "hash has a character outside the crypt alphabet";
    return nullptr;
}

// ---- Decoders, one per family ------------------------------------------------

// $5$ and $6$: [rounds=N$]salt$hash, rounds 1000 to 999999999 (5000 when
// not given), salt of up to 16 characters.
const char *DecodeShaCrypt(std::string_view rest, CredHashInfo *info, std::size_t hashLength) {
    unsigned long long rounds = 5000;
    constexpr std::string_view kRounds = "rounds=";
    if (rest.substr(0, kRounds.size()) == kRounds) {
        rest.remove_prefix(kRounds.size());
        if (!TakeDecimal(rest, 9, &rounds) || rest.empty() || rest[0] != '$')
            return "rounds not a number";
        rest.remove_prefix(1);
        if (rounds < 1000) return "rounds out of range (1000 to 999999999)";
    }
    AddParam(info, "rounds", rounds);
    return CheckSaltAndHash(rest, 0, 16, hashLength);
}
const char *DecodeSha512(std::string_view h, CredHashInfo *info) {
    return DecodeShaCrypt(h.substr(3), info, 86);
}
const char *DecodeSha256(std::string_view h, CredHashInfo *info) {
    return DecodeShaCrypt(h.substr(3), info, 43);
}

// $sha1$rounds$salt$hash: rounds 1 to 4294967295, salt up to 64.
const char *DecodeSha1(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(6);
    unsigned long long rounds = 0;
    if (!TakeDecimal(rest, 10, &rounds) || rounds == 0 || rounds > 4294967295ull || rest.empty() ||
        rest[0] != '$')
        return "rounds not a number in range";
    AddParam(info, "rounds", rounds);
    return CheckSaltAndHash(rest.substr(1), 1, 64, 28);
}

// $md5[,rounds=N]$salt$[$]hash: N extra rounds (0 when not given).
const char *DecodeSunMd5(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(4);
    unsigned long long rounds = 0;
    constexpr std::string_view kRounds = ",rounds=";
    if (rest.substr(0, kRounds.size()) == kRounds) {
        rest.remove_prefix(kRounds.size());
        if (!TakeDecimal(rest, 10, &rounds) || rounds > 4294963199ull) return "rounds not a number";
    }
    AddParam(info, "rounds", rounds);
    if (rest.empty() || rest[0] != '$') return "no '$' after the parameters";
    rest.remove_prefix(1);
    std::size_t dollar = rest.find('$');
    if (dollar != std::string_view::npos && rest.substr(dollar, 2) == "$$") {
        // The older form doubles the '$' before the hash.
        std::string_view salt = rest.substr(0, dollar), hash = rest.substr(dollar + 2);
        if (salt.size() > 8 || !InAlphabet(salt)) return "salt of the wrong length or alphabet";
        if (hash.size() != 22 || !InAlphabet(hash)) return "hash of the wrong length or alphabet";
        return nullptr;
    }
    return CheckSaltAndHash(rest, 0, 8, 22);
}

// $1$salt$hash, salt up to 8.
const char *DecodeMd5(std::string_view h, CredHashInfo *) {
    return CheckSaltAndHash(h.substr(3), 0, 8, 22);
}

// $2?$NN$ then 22 salt and 31 hash characters; cost 04 to 31.
const char *DecodeBcrypt(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(4);
    if (rest.size() < 3 || rest[0] < '0' || rest[0] > '9' || rest[1] < '0' || rest[1] > '9' ||
        rest[2] != '$')
        return "cost not two digits";
    unsigned cost = (rest[0] - '0') * 10u + (rest[1] - '0');
    AddParam(info, "cost", cost);
    if (cost < 4 || cost > 31) return "cost out of range (04 to 31)";
    rest.remove_prefix(3);
    if (rest.size() != 53) return "salt and hash of the wrong length";
    if (!InAlphabet(rest)) return "salt or hash has a character outside the alphabet";
    return nullptr;
}

// A little-endian number in n characters of the alphabet.
bool TakeFixed(std::string_view &rest, std::size_t n, unsigned long long *value) {
    if (rest.size() < n) return false;
    *value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int v = Value(rest[i]);
        if (v < 0) return false;
        *value |= static_cast<unsigned long long>(v) << (6 * i);
    }
    rest.remove_prefix(n);
    return true;
}

// yescrypt's variable-length number: the first character says how many
// follow, as the yescrypt encoder writes it.
bool TakeVariable(std::string_view &rest, unsigned long long minimum, unsigned long long *value) {
    if (rest.empty() || Value(rest[0]) < 0) return false;
    unsigned long long c = Value(rest[0]), start = 0, end = 47, chars = 1, bits = 0;
    rest.remove_prefix(1);
    *value = minimum;
    while (c > end) {
        *value += (end + 1 - start) << bits;
        start = end + 1;
        end = start + (62 - end) / 2;
        ++chars;
        bits += 6;
    }
    *value += (c - start) << bits;
    while (--chars) {
        if (rest.empty() || Value(rest[0]) < 0) return false;
        *value += static_cast<unsigned long long>(Value(rest[0])) << bits;
        rest.remove_prefix(1);
        bits += 6;
    }
    return true;
}

// $y$ and $gy$: flavour, log2 N - 1, r, then optionally a mask of further
// parameters (p first); then $salt$hash of 43 characters.
const char *DecodeYescrypt(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(h[1] == 'g' ? 4 : 3);
    if (rest.size() < 3 || Value(rest[0]) < 0 || Value(rest[1]) < 0) return "parameters cut short";
    int nLog2 = Value(rest[1]) + 1;
    if (nLog2 > 63) return "N out of range";
    rest.remove_prefix(2);
    unsigned long long r = 0, p = 1, have = 0, unused = 0;
    if (!TakeVariable(rest, 1, &r)) return "r not readable";
    if (!rest.empty() && rest[0] != '$') {
        have = static_cast<unsigned long long>(Value(rest[0]));
        rest.remove_prefix(1);
        if (have > 15) return "parameter mask not readable";
        if ((have & 1) && !TakeVariable(rest, 2, &p)) return "p not readable";
        for (unsigned bit = 2; bit <= 8; bit <<= 1)  // t, g and the ROM size
            if ((have & bit) && !TakeVariable(rest, 1, &unused)) return "parameters not readable";
    }
    AddParam(info, "N", 1ull << nLog2);
    AddParam(info, "r", r);
    AddParam(info, "p", p);
    if (rest.empty() || rest[0] != '$') return "no '$' after the parameters";
    return CheckSaltAndHash(rest.substr(1), 1, 86, 43);
}

// $7$: log2 N in one character, r and p in five each, salt$hash of 43.
const char *DecodeScrypt(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(3);
    if (rest.empty() || Value(rest[0]) <= 0) return "N not readable";
    int nLog2 = Value(rest[0]);
    rest.remove_prefix(1);
    unsigned long long r = 0, p = 0;
    if (!TakeFixed(rest, 5, &r) || !TakeFixed(rest, 5, &p)) return "r or p not readable";
    AddParam(info, "N", 1ull << nLog2);
    AddParam(info, "r", r);
    AddParam(info, "p", p);
    if (r == 0 || p == 0 || r * p >= (1ull << 30)) return "r or p out of range";
    return CheckSaltAndHash(rest, 0, 43, 43);
}

// _ then a count and a salt of 4 characters each and 11 hash characters.
const char *DecodeBsdi(std::string_view h, CredHashInfo *info) {
    std::string_view rest = h.substr(1);
    unsigned long long count = 0;
    if (!TakeFixed(rest, 4, &count)) return "count not readable";
    AddParam(info, "count", count);
    if (count == 0) return "count of zero";
    if (rest.size() != 15 || !InAlphabet(rest)) return "salt and hash not 15 characters";
    return nullptr;
}

// $3$$ then 32 lower-case hexadecimal digits.
const char *DecodeNt(std::string_view h, CredHashInfo *) {
    std::string_view rest = h.substr(3);
    if (rest.empty() || rest[0] != '$') return "no '$' before the hash";
    rest.remove_prefix(1);
    if (rest.size() != 32) return "hash of the wrong length";
    for (char c : rest)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return "hash not hexadecimal";
    return nullptr;
}

// 13 characters: 2 salt, 11 hash.
const char *DecodeDes(std::string_view h, CredHashInfo *) {
    if (h.size() != 13) return "not 13 characters";
    return InAlphabet(h) ? nullptr : "a character outside the crypt alphabet";
}

// 13 characters, then blocks of 11.
const char *DecodeBigcrypt(std::string_view h, CredHashInfo *) {
    if ((h.size() - 13) % 11 != 0) return "not 13 characters and blocks of 11";
    return InAlphabet(h) ? nullptr : "a character outside the crypt alphabet";
}

const char *DecodeUnknown(std::string_view, CredHashInfo *) {
    return "not a hash of a known method";
}

bool ClaimsDes(std::string_view h) {
    return !h.empty() && h[0] != '$' && h.size() <= 13;
}
bool ClaimsBigcrypt(std::string_view h) {
    return !h.empty() && h[0] != '$' && h.size() > 13;
}
bool ClaimsAnything(std::string_view) {
    return true;
}

constexpr HashMethod kMethods[] = {
    {"$y$", nullptr, "yescrypt", DecodeYescrypt},
    {"$gy$", nullptr, "gost-yescrypt", DecodeYescrypt},
    {"$7$", nullptr, "scrypt", DecodeScrypt},
    {"$2b$", nullptr, "bcrypt", DecodeBcrypt},
    {"$2a$", nullptr, "bcrypt-a", DecodeBcrypt},
    {"$2x$", nullptr, "bcrypt-x", DecodeBcrypt},
    {"$2y$", nullptr, "bcrypt-y", DecodeBcrypt},
    {"$6$", nullptr, "sha512crypt", DecodeSha512},
    {"$5$", nullptr, "sha256crypt", DecodeSha256},
    {"$sha1$", nullptr, "sha1crypt", DecodeSha1},
    {"$md5$", nullptr, "sunmd5", DecodeSunMd5},
    {"$md5,", nullptr, "sunmd5", DecodeSunMd5},
    {"$1$", nullptr, "md5crypt", DecodeMd5},
    {"$3$", nullptr, "nt", DecodeNt},
    {"_", nullptr, "bsdicrypt", DecodeBsdi},
    {{}, ClaimsDes, "descrypt", DecodeDes},
    // A crypt without bigcrypt answers its settings with a DES hash.
    {{}, ClaimsBigcrypt, "bigcrypt", DecodeBigcrypt, "abcdefghijklmnopqrstuvwx"},
    {{}, ClaimsAnything, "unknown", DecodeUnknown},
};

CredHashStrength Strength(int checked) {
    switch (checked) {
        case CRYPT_SALT_OK:
            return CRED_STRENGTH_OK;
        case CRYPT_SALT_METHOD_LEGACY:
        case CRYPT_SALT_TOO_CHEAP:
            return CRED_STRENGTH_LEGACY;
        case CRYPT_SALT_METHOD_DISABLED:
            return CRED_STRENGTH_DISABLED;
        default:
            return CRED_STRENGTH_INVALID;
    }
}

// Whether the host's crypt computes with the method's trial setting: an
// answer of the setting's own length, not a failure token.  The setting
// is the method's own, so one trial per method answers for the process.
bool TrialSupports(const HashMethod &method) {
    static signed char answers[std::size(kMethods)];  // 0: not tried; 1: supported; -1: not
    signed char &answer = answers[&method - kMethods];
    if (answer != 0) return answer > 0;
    std::unique_ptr<crypt_data> data(new (std::nothrow) crypt_data);
    if (!data) return false;
    const char *setting = method.trial.data();  // a literal: NUL-terminated
    const char *out = crypt_r("", setting, data.get());
    bool ok = out != nullptr && out[0] != '*' && std::strlen(out) == method.trial.size();
    explicit_bzero(data.get(), sizeof *data);
    answer = ok ? 1 : -1;
    return ok;
}

}  // namespace

const HashMethod *HashMethods(std::size_t *count) {
    *count = std::size(kMethods);
    return kMethods;
}

const HashMethod &FindHashMethod(std::string_view hash) {
    for (const HashMethod &m : kMethods) {
        if (m.prefix.empty() ? m.claims(hash) : hash.substr(0, m.prefix.size()) == m.prefix)
            return m;
    }
    return kMethods[std::size(kMethods) - 1];
}

namespace {

unsigned long long Param(const CredHashInfo &info, std::string_view name,
                         unsigned long long absent) {
    for (int i = 0; i < info.nparams; ++i)
        if (name == info.params[i].name) return info.params[i].value;
    return absent;
}

// Whether a computation with these parameters would take far longer than a
// login allows: more than about a hundred times the method's usual cost
// (ten million rounds of the iterated methods; bcrypt's cost above 16; a
// memory-hard method asking for more than 1 GiB).
bool Costly(const CredHashInfo &info) {
    std::string_view method = info.method;
    if (method.substr(0, 6) == "bcrypt") return Param(info, "cost", 0) > 16;
    if (method == "yescrypt" || method == "gost-yescrypt" || method == "scrypt") {
        unsigned long long n = Param(info, "N", 0), r = Param(info, "r", 0),
                           p = Param(info, "p", 1);
        constexpr unsigned long long kBlocks = (1ull << 30) / 128;  // 1 GiB in blocks of 128 bytes
        return r != 0 && p != 0 && (n > kBlocks / r || n * r > kBlocks / p);
    }
    return std::max(Param(info, "rounds", 0), Param(info, "count", 0)) > 10'000'000;
}

}  // namespace

void DecodeHash(std::string_view hash, CredHashInfo *info) {
    *info = CredHashInfo{};
    const HashMethod &m = FindHashMethod(hash);
    info->method = m.name;
    info->problem = m.decode(hash, info);
    info->valid = info->problem == nullptr;
    info->costly = Costly(*info);
}

bool PasswordMatches(const char *password, const char *hash, bool *tooLong, CryptAnswer *answer) {
    *tooLong = std::strlen(password) >= CRYPT_MAX_PASSPHRASE_SIZE;
    *answer = CryptAnswer{};
    if (*tooLong || hash[0] == '\0') return false;
    std::unique_ptr<crypt_data> data(new (std::nothrow) crypt_data);
    if (!data) return false;
    const char *out = crypt_r(password, hash, data.get());
    bool match = false;
    answer->computed = true;
    answer->failed = out == nullptr || out[0] == '*';
    if (!answer->failed) {
        std::size_t n = std::strlen(hash);
        answer->length = std::strlen(out);
        unsigned char diff = answer->length != n;
        for (std::size_t i = 0; i < n && out[i] != '\0'; ++i)
            diff |= static_cast<unsigned char>(out[i] ^ hash[i]);
        match = diff == 0;
    }
    explicit_bzero(data.get(), sizeof *data);
    return match;
}

void InspectHash(const char *hash, const CryptAnswer *answer, CredHashInfo *info) {
    DecodeHash(hash, info);
    const HashMethod &method = FindHashMethod(hash);
    int checked = crypt_checksalt(hash);
    info->strength = Strength(checked);
    if (method.decode == DecodeUnknown || checked == CRYPT_SALT_INVALID) {
        info->supported = 0;
    } else if (method.trial.empty()) {
        // The host's crypt knows the method and takes its parameters; a
        // computation with the hash, when one was made, shows it worked.
        info->supported = answer == nullptr || !answer->computed || !answer->failed;
    } else if (answer != nullptr && answer->computed) {
        info->supported = !answer->failed && answer->length == std::strlen(hash);
    } else {
        info->supported = TrialSupports(method);
    }
}

}  // namespace credaccount

extern "C" void CredInspectHash(const char *hash, CredHashInfo *info) noexcept {
    credaccount::InspectHash(hash, nullptr, info);
}

extern "C" const char *CredStrengthName(CredHashStrength strength) noexcept {
    static const char *const kNames[] = {"ok", "legacy", "disabled", "invalid"};
    unsigned i = static_cast<unsigned>(strength);
    return i < std::size(kNames) ? kNames[i] : "invalid";
}
