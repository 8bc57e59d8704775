// sshd's patterns where the end-to-end tests do not reach: IPv6 networks,
// malformed networks, backtracking wildcards, case in host names.  The
// expected answers are those of sshd's own allow and deny rules.
#include <gtest/gtest.h>

#include "account/internal.h"

namespace {

struct EntryCase {
    const char *user, *address, *entry;
    bool matches;
};

const EntryCase kEntries[] = {
    {"alice", "10.1.2.3", "a*c?", true},
    {"alice", "10.1.2.3", "a*c*e*", true},
    {"alice", "10.1.2.3", "a*x*", false},
    {"alice", "10.1.2.3", "ALICE", false},      // user names keep their case
    {"alice", "10.1.2.3", "alice,bob", false},  // no list in the user part
    {"alice", "10.1.2.3", "alice@10.1.2.3", true},
    {"alice", "10.1.2.3", "alice@10.1.2.0/24", true},
    {"alice", "10.1.2.3", "alice@10.1.2.0/24,!10.1.2.3", false},
    {"alice", "10.1.2.3", "alice@!10.0.0.0/8", false},  // a '!' alone never admits
    {"alice", "10.1.2.3", "alice@10.1.0.0/8", false},   // host bits set: malformed
    {"alice", "10.1.2.3", "alice@10.1.2.*", true},
    {"alice", "10.1.2.3", "alice@gw.example", false},
    {"alice", "2001:db8::7", "alice@2001:db8::/32", true},
    {"alice", "2001:db8::7", "alice@10.0.0.0/8", false},
    {"alice", "2001:db8::7", "alice@2001:DB8::7", true},  // host names compare without case
    {"alice", "::ffff:10.1.2.3", "alice@10.0.0.0/8", false},
    {"alice", "10.1.2.3", "*@10.1.2.3/33", false},
};

TEST(SshPatterns, UserEntriesAsSshdMatchesThem) {
    for (const EntryCase &c : kEntries)
        EXPECT_EQ(credaccount::MatchUserEntry(c.user, c.address, c.entry), c.matches) << c.entry;
}

TEST(SshPatterns, AddressLists) {
    EXPECT_EQ(credaccount::MatchAddressList("10.1.2.3", "10.0.0.0/8,!10.1.0.0/16"), -1);
    EXPECT_EQ(credaccount::MatchAddressList("10.1.2.3", "10.0.0.0/8,"), -2);
    EXPECT_EQ(credaccount::MatchAddressList("10.1.2.3", "192.168.0.0/16"), 0);
    EXPECT_FALSE(credaccount::IsNumericAddress("10.1.2.3,user=root"));
    EXPECT_FALSE(credaccount::IsNumericAddress("gw.example"));
}

}  // namespace
