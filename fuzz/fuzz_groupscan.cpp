// The /etc/group scan on arbitrary contents, user names, capacities and
// line buffer sizes.
#include <cstring>
#include <vector>

#include "cred/internal.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CredDebugStream = fuzz::DiscardStream();
    fuzz::Input in(data, size);
    const size_t maxg = 1 + in.Byte() % 40;
    const std::string user = fuzz::CString(in.Bytes(in.Byte() % 64));
    const size_t bufSize = 1 + in.Word() % 1100;
    std::string contents = in.Rest();
    if (contents.empty()) contents = "\n";

    std::vector<char> text(contents.begin(), contents.end());
    FILE *fp = fmemopen(text.data(), text.size(), "r");
    if (fp == nullptr) return 0;
    std::vector<int32_t> gids(maxg, 0x5a5a5a5a);
    std::vector<char> buf(bufSize);
    const int n = ScanGroupStream(fp, gids.data(), maxg, user.c_str(), buf.data(), bufSize);
    fclose(fp);
    if (n < 0 || static_cast<size_t>(n) > maxg) fuzz::Fail("ScanGroupStream count");
    // A stored group names the user: every id stored came from a line
    // whose text holds the user name.
    if (n > 0 && !user.empty() && contents.find(user.substr(0, 37)) == std::string::npos)
        fuzz::Fail("ScanGroupStream matched a user that is not in the file");
    return 0;
}
