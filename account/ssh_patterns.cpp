// ssh_patterns.cpp - sshd's patterns: wildcards, comma lists with '!',
// networks, and the USER@HOST entries of AllowUsers and DenyUsers.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "account/internal.h"

namespace credaccount {
namespace {

// An address as sshd reads one: numeric only, IPv4 or IPv6.
struct Address {
    int family = 0;
    unsigned char bytes[16] = {};
    unsigned bits() const { return family == AF_INET ? 32 : 128; }
};

bool ParseAddress(const std::string &text, Address *out) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    if (text.empty() || getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) return false;
    out->family = found->ai_family;
    if (found->ai_family == AF_INET)
        std::memcpy(out->bytes, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, 4);
    else if (found->ai_family == AF_INET6)
        std::memcpy(out->bytes, &reinterpret_cast<sockaddr_in6 *>(found->ai_addr)->sin6_addr, 16);
    else
        out->family = 0;
    freeaddrinfo(found);
    return out->family != 0;
}

// Whether the first bits of a and b agree.
bool SamePrefix(const Address &a, const Address &b, unsigned bits) {
    if (a.family != b.family) return false;
    for (unsigned i = 0; i < bits; ++i) {
        unsigned mask = 0x80u >> (i % 8);
        if ((a.bytes[i / 8] & mask) != (b.bytes[i / 8] & mask)) return false;
    }
    return true;
}

// "ADDR" or "ADDR/BITS": 0 a network, -1 not one, -2 a malformed one (a
// prefix past the family's size, or host bits set).
int ParseNetwork(std::string_view text, Address *net, unsigned *bits) {
    std::string addr(text.substr(0, text.find('/')));
    long n = -1;
    if (addr.size() < text.size()) {
        std::string digits(text.substr(addr.size() + 1));
        char *end = nullptr;
        n = std::strtol(digits.c_str(), &end, 10);
        if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0])) ||
            *end != '\0' || n > 128)
            return -1;
    }
    if (!ParseAddress(addr, net)) return -1;
    *bits = n < 0 ? net->bits() : static_cast<unsigned>(n);
    if (*bits > net->bits()) return -2;
    for (unsigned i = *bits; i < net->bits(); ++i)
        if (net->bytes[i / 8] & (0x80u >> (i % 8))) return -2;
    return 0;
}

}  // namespace

bool MatchPattern(std::string_view text, std::string_view pattern) {
    std::size_t t = 0, p = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int MatchPatternList(std::string_view text, std::string_view list, bool lower) {
    std::string subject(text);
    if (lower)
        for (char &c : subject) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int result = 0;
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string item(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        bool negated = !item.empty() && item[0] == '!';
        if (negated) item.erase(0, 1);
        if (lower)
            for (char &c : item) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!MatchPattern(subject, item)) continue;
        if (negated) return -1;
        result = 1;
    }
    return result;
}

int MatchAddressList(const char *address, std::string_view list) {
    Address client;
    if (!ParseAddress(address, &client)) return 0;
    int result = 0;
    while (true) {
        std::size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        bool negated = !item.empty() && item[0] == '!';
        if (negated) item.remove_prefix(1);
        if (item.empty()) return -2;
        Address net;
        unsigned bits = 0;
        int parsed = ParseNetwork(item, &net, &bits);
        if (parsed == -2) return -2;
        bool hit = parsed == 0 ? SamePrefix(client, net, bits) : MatchPattern(address, item);
        if (hit && negated) return -1;
        if (hit) result = 1;
        if (comma == std::string_view::npos) return result;
        list.remove_prefix(comma + 1);
    }
}

bool IsNumericAddress(const char *text) {
    Address unused;
    return ParseAddress(text, &unused);
}

// A host list is matched against the client's address and against its host
// name, which is that same address text since sshd does not look names up
// by default.  A '!' item that matches in either refuses.
bool MatchHosts(const char *address, std::string_view hosts) {
    int byAddress = MatchAddressList(address, hosts);
    if (byAddress < 0) return false;
    int byName = MatchPatternList(address, hosts, true);
    return byName != -1 && (byName == 1 || byAddress == 1);
}

// sshd compares the user part with one pattern (no list, no '!'), and the
// host part, after the first '@', as a host list.
bool MatchUserEntry(std::string_view user, const char *address, std::string_view entry) {
    std::size_t at = entry.find('@');
    if (at == std::string_view::npos) return MatchPattern(user, entry);
    return MatchPattern(user, entry.substr(0, at)) && MatchHosts(address, entry.substr(at + 1));
}

}  // namespace credaccount
