// The table of hash methods against hashes made by mkpasswd and the host's
// crypt, every one of them cut at every length and spoilt with a ':' at
// every position; and the aging rules where the files cannot reach.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "account/internal.h"

namespace {

struct Vector {
    const char *hash;
    const char *method;
    const char *params;  // "name=value ..." as decoded
};

// Made with "mkpasswd -m METHOD [-R ROUNDS] [-S SALT] WORD" unless noted.
const Vector kVectors[] = {
    {"$y$j9T$NLP0NgirNOCT5sTCW8rRB/$fhMIlhULeZwJ9fiiaS/qX8DpeaPhAn3sZ2BvLS2FcJA", "yescrypt",
     "N=4096 r=32 p=1"},
    {"$y$j75$ys/lifjcIKlMr9X.VUBgs/$BKMJ3lzW0/NXHPREl.n52DJx98G3Xsw8Rua75U0gx68", "yescrypt",
     "N=1024 r=8 p=1"},
    {"$gy$j9T$bNYRfFE8eWtWXbFP.VBGz1$.FtmfTysVd72zDg5OpNxbc8vwT9r925gbzF/jaq6ebA", "gost-yescrypt",
     "N=4096 r=32 p=1"},
    {"$7$CU..../....SpMKjOZEIFUuLpCK5t7mV1$u.uAshx49cXOrbHt8rPVxnh25TrVKksCj0t5ZXGaWr2", "scrypt",
     "N=16384 r=32 p=1"},
    {"$2b$05$saltsaltsaltsaltsaltsOAI1/sMDlQz6BwcL7IkeG0H2PQ6HeQdG", "bcrypt", "cost=5"},
    // The host's crypt with the settings $2y$05$ and $2x$05$ and this salt.
    {"$2y$05$saltsaltsaltsaltsaltsOAI1/sMDlQz6BwcL7IkeG0H2PQ6HeQdG", "bcrypt-y", "cost=5"},
    {"$2x$05$saltsaltsaltsaltsaltsOAI1/sMDlQz6BwcL7IkeG0H2PQ6HeQdG", "bcrypt-x", "cost=5"},
    {"$6$rounds=6000$saltsalt$2WDmdRD08MvUA0nwqywI82Jchvj0W.d8v12D2LnCPIjCpbi/1277f1cr4A1."
     "JjCMx044DdEGMfAESXBix9n9o1",
     "sha512crypt", "rounds=6000"},
    {"$5$saltsalt$0rl.MZtoLLPP3X0Rdl8riRnphIcAXJY27/aOAyK2hB5", "sha256crypt", "rounds=5000"},
    // The host's crypt with the setting $sha1$40000$saltsalt$.
    {"$sha1$40000$saltsalt$A9liKlb4i0OMkaAIL88AfLzfvW2I", "sha1crypt", "rounds=40000"},
    {"$md5$saltsalt$ajWr42qoXFgxoc81LYoxw0", "sunmd5", "rounds=0"},
    {"$md5,rounds=53309$Yg3MY/6k$$ObdFYTkXBcKGN.9ZFo6sf/", "sunmd5", "rounds=53309"},
    {"$1$saltsalt$6SNdNaZLKst2LlSm7oPPL1", "md5crypt", ""},
    {"_J9..xFyIi4dZmL6W4P.", "bsdicrypt", "count=725"},
    {"saAbkB/A/iW1Y", "descrypt", ""},
    {"$3$$8cc19b6a8cfeac299c2871c86b38de28", "nt", ""},
};

std::string Params(const CredHashInfo &info) {
    std::string out;
    for (int i = 0; i < info.nparams; ++i)
        out += (i ? " " : "") + std::string(info.params[i].name) + "=" +
               std::to_string(info.params[i].value);
    return out;
}

TEST(HashTable, DecodesTheHostsHashesAndRefusesEveryCutAndColon) {
    for (const Vector &v : kVectors) {
        SCOPED_TRACE(v.hash);
        CredHashInfo info;
        CredInspectHash(v.hash, &info);
        EXPECT_STREQ(info.method, v.method);
        EXPECT_EQ(Params(info), v.params);
        EXPECT_TRUE(info.valid) << info.problem;
        EXPECT_TRUE(info.supported);
        std::string full = v.hash;
        for (std::size_t n = 0; n < full.size(); ++n) {
            credaccount::DecodeHash(full.substr(0, n), &info);
            EXPECT_FALSE(info.valid && std::string(info.method) == v.method) << n;
            EXPECT_EQ(info.valid, info.problem == nullptr);
            std::string colon = full;
            colon.insert(n, ":");
            credaccount::DecodeHash(colon, &info);
            EXPECT_FALSE(info.valid) << colon;
        }
    }
}

TEST(HashTable, ParameterRangesAndUnknownForms) {
    const struct {
        const char *hash, *method;
    } rows[] = {
        {"$6$rounds=999$saltsalt$2WDmdRD08MvUA0nwqywI82Jchvj0W.d8v12D2LnCPIjCpbi/1277f1cr4A1."
         "JjCMx044DdEGMfAESXBix9n9o1",
         "sha512crypt"},
        {"$2b$03$saltsaltsaltsaltsaltsOAI1/sMDlQz6BwcL7IkeG0H2PQ6HeQdG", "bcrypt"},
        {"$2b$32$saltsaltsaltsaltsaltsOAI1/sMDlQz6BwcL7IkeG0H2PQ6HeQdG", "bcrypt"},
        {"_....xFyIi4dZmL6W4P.", "bsdicrypt"},
        {"$9$whatever", "unknown"},
        {"abcdefghijklmnopqrstuvw", "bigcrypt"},
    };
    for (const auto &row : rows) {
        CredHashInfo info;
        CredInspectHash(row.hash, &info);
        EXPECT_STREQ(info.method, row.method) << row.hash;
        EXPECT_FALSE(info.valid) << row.hash;
    }
}

TEST(LookupBuffer, GivesUpPastItsLimitAndFreesWhatItHeld) {
    credaccount::LookupBuffer buffer;
    int sizes = 0;
    while (buffer.Grow()) ++sizes;
    EXPECT_EQ(sizes, 7);  // 4 KiB to 16 MiB; then none, and nothing left to clear
    EXPECT_EQ(buffer.data, nullptr);
}

TEST(Aging, ValuesTheFilesCannotHold) {
    // today, last change, maximum, inactive, expiry, warning -> expired, password, change,
    // inactive, days before the account and the password expire (-1: not within warning)
    const struct {
        long t, last, max, inact, exp, warn;
        bool e, p, c, i;
        long account, password;
    } rows[] = {
        {100, -5, 90, -1, -1, 7, false, true, false, false, -1, -1},
        {100, 50, LONG_MAX, LONG_MAX, -1, LONG_MAX, false, false, false, false, -1, LONG_MAX - 50},
        {100, LONG_MIN, 10, LONG_MAX, -1, 7, false, true, false, true, -1, -1},
        {LONG_MAX, 1, 0, 0, LONG_MAX, LONG_MAX, true, true, false, true, -1, -1},
        {100, 95, 10, -1, 103, 7, false, false, false, false, 3, 5},
        {100, 0, 10, -1, 101, 7, false, false, true, false, 1, -1},
    };
    for (const auto &r : rows) {
        auto a = credaccount::DecideAging(r.t, r.last, r.max, r.inact, r.exp, r.warn);
        EXPECT_EQ(a.expired, r.e);
        EXPECT_EQ(a.passwordExpired, r.p);
        EXPECT_EQ(a.mustChange, r.c);
        EXPECT_EQ(a.inactive, r.i);
        EXPECT_EQ(a.accountExpiresIn, r.account);
        EXPECT_EQ(a.passwordExpiresIn, r.password);
    }
}

}  // namespace
