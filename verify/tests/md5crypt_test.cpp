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

TEST(Md5Crypt, MatchesLibcryptOnRandomPasswordsAndSalts) {
    std::mt19937 rng(34);
    for (int round = 0; round < 150; ++round) {
        size_t pwLen = round < 10 ? round : rng() % (round < 140 ? 40 : 300);
        std::string pw = RandomText(rng, pwLen, kPasswordChars);
        std::string salt = RandomText(rng, rng() % 12, kItoa64);
        for (const std::string &setting : {"$1$" + salt + "$", "$1$" + salt}) {
            ASSERT_EQ(Ours(pw, setting), Libcrypt(pw, setting))
                << "password \"" << pw << "\" setting \"" << setting << "\"";
        }
    }
}

TEST(Md5Crypt, EmptySalt) {
    const std::string bare = Ours("x", "$1$");
    EXPECT_EQ(bare, "$1$$LP5.V3ajGqHDdXW6XwZQy.");
    EXPECT_EQ(bare.size(), 26u);
    EXPECT_EQ(Ours("x", "$1$$"), bare);
    EXPECT_EQ(Ours("x", ""), bare);
    EXPECT_EQ(Ours("x", "$1$$"), Libcrypt("x", "$1$$"));
}

TEST(Md5Crypt, SaltIsCutToEight) {
    EXPECT_EQ(Ours("x", "$1$abcdefghijkl"), "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/");
    EXPECT_EQ(Ours("x", "abcdefghijkl"), "$1$abcdefgh$znAnv9M.XU2pRYfmSs46h/");
}

TEST(Md5Crypt, BareSaltActsAsIfAfterTheMagic) {
    std::mt19937 rng(8);
    for (int round = 0; round < 20; ++round) {
        std::string salt = RandomText(rng, rng() % 10, kItoa64);
        std::string pw = RandomText(rng, rng() % 20, kPasswordChars);
        EXPECT_EQ(Ours(pw, salt), Ours(pw, "$1$" + salt)) << salt;
    }
    EXPECT_EQ(Ours("x", "abc$def"), Ours("x", "$1$abc$"));
    // Any other text is only salt too, even another scheme's prefix.
    EXPECT_EQ(Ours("x", "$5$abc$"), Ours("x", "$1$$"));
}

TEST(Md5Crypt, EmptyAndLongPasswords) {
    EXPECT_EQ(Ours("", "$1$abcdefgh$"), "$1$abcdefgh$M55TzYaaccxVGbptZWaxX/");
    for (size_t len : {15, 16, 17, 31, 32, 33, 64, 255, 511}) {
        std::string pw(len, 'p');
        EXPECT_EQ(Ours(pw, "$1$saltsalt$"), Libcrypt(pw, "$1$saltsalt$")) << len;
    }
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
