// The MD5-based crypt against known answers, libcrypt and `openssl passwd -1`.
#include <crypt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "verify/verify.h"

namespace {

struct Vector {
    const char *password;
    const char *salt;
    const char *result;
};

constexpr Vector kVectors[] = {
#include "md5crypt_vectors.inc"
};

constexpr char kItoa64[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string Ours(const std::string &pw, const std::string &setting) {
    return Cred_md5_crypt(pw.c_str(), setting.c_str());
}

std::string Libcrypt(const std::string &pw, const std::string &setting) {
    const char *r = crypt(pw.c_str(), setting.c_str());
    return r != nullptr ? r : "NULL";
}

std::string RandomText(std::mt19937 &rng, size_t len, std::string_view from) {
    std::string s;
    for (size_t i = 0; i < len; ++i) s += from[rng() % from.size()];
    return s;
}

// Printable characters but "$" and ":".
const std::string kPasswordChars = [] {
    std::string s;
    for (char c = ' '; c < 127; ++c) {
        if (c != '$' && c != ':') s += c;
    }
    return s;
}();

TEST(Md5Crypt, KnownAnswersFromOpenSsl) {
    for (const Vector &v : kVectors) {
        EXPECT_EQ(Ours(v.password, std::string("$1$") + v.salt + "$"), v.result)
            << "password \"" << v.password << "\" salt \"" << v.salt << "\"";
        // The stored string is itself a setting that reproduces it.
        EXPECT_EQ(Ours(v.password, v.result), v.result);
    }
}

// Empty and long passwords, empty salts and salts of up to 11 characters
// (cut to 8), with and without the closing "$", and the same salts bare.
TEST(Md5Crypt, MatchesLibcryptOnRandomPasswordsAndSalts) {
    std::mt19937 rng(34);
    for (int round = 0; round < 150; ++round) {
        size_t pwLen = round < 10 ? round : rng() % (round < 140 ? 40 : 300);
        std::string pw = RandomText(rng, pwLen, kPasswordChars);
        std::string salt = RandomText(rng, rng() % 12, kItoa64);
        const std::string want = Libcrypt(pw, "$1$" + salt + "$");
        for (const std::string &setting : {"$1$" + salt + "$", "$1$" + salt, salt}) {
            ASSERT_EQ(Ours(pw, setting), want)
                << "password \"" << pw << "\" setting \"" << setting << "\"";
        }
    }
}

TEST(Md5Crypt, SaltRule) {
    // openssl passwd -1 -salt '' x
    const char *emptySalt = "$1$$LP5.V3ajGqHDdXW6XwZQy.";
    const char *cutSalt = "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/";
    const struct {
        const char *setting;
        const char *result;
    } cases[] = {
        {"$1$", emptySalt},           {"$1$$", emptySalt},       {"", emptySalt},
        {"$5$abc$", emptySalt},  // another scheme's prefix is only salt too
        {"$1$abcdefghijkl", cutSalt}, {"abcdefghijkl", cutSalt}, {"abcdefgh$rest", cutSalt},
    };
    for (const auto &c : cases) EXPECT_EQ(Ours("x", c.setting), c.result) << c.setting;
}

TEST(Md5Crypt, ArgumentsMayPointIntoThePreviousResult) {
    // The salt "bcdefgh" and a password that is a whole earlier result.
    const std::string want = Ours("x", "bcdefgh");
    EXPECT_EQ(Cred_md5_crypt("x", Cred_md5_crypt("x", "$1$abcdefgh$") + 4), want);
    const std::string chained = Ours(Ours("x", "$1$abcdefgh$"), "$1$salt$");
    EXPECT_EQ(Cred_md5_crypt(Cred_md5_crypt("x", "$1$abcdefgh$"), "$1$salt$"), chained);
}

// Runs `openssl passwd -1 -salt SALT -in FILE` on the passwords, one a line.
std::vector<std::string> OpenSslPasswd(const std::string &salt,
                                       const std::vector<std::string> &pws) {
    char path[] = "/tmp/md5crypt_test.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    {
        std::ofstream in(path);
        for (const std::string &pw : pws) in << pw << '\n';
    }
    std::string cmd = "openssl passwd -1 -salt '" + salt + "' -in " + path + " 2>/dev/null";
    std::vector<std::string> out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p) != nullptr) {
            std::string s(line);
            if (!s.empty() && s.back() == '\n') s.pop_back();
            out.push_back(s);
        }
        pclose(p);
    }
    unlink(path);
    return out;
}

TEST(Md5Crypt, MatchesOpenSslPasswdOnRandomPasswords) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    std::mt19937 rng(1);
    // Leading and trailing blanks may be trimmed by the tool: keep them inside.
    std::string chars = kPasswordChars.substr(1);
    for (int set = 0; set < 4; ++set) {
        std::string salt = RandomText(rng, set * 3, kItoa64);  // 0, 3, 6, 9 (cut to 8)
        std::vector<std::string> pws;
        for (int i = 0; i < 25; ++i) pws.push_back(RandomText(rng, 1 + rng() % 60, chars));
        std::vector<std::string> want = OpenSslPasswd(salt, pws);
        ASSERT_EQ(want.size(), pws.size()) << "openssl passwd failed";
        for (size_t i = 0; i < pws.size(); ++i) {
            EXPECT_EQ(Ours(pws[i], "$1$" + salt), want[i]) << pws[i];
        }
    }
}

}  // namespace
