// CredToLine on records filled with arbitrary bytes, into buffers of
// arbitrary size; Strlcat on arbitrary texts and sizes, checked against its
// contract.
#include <cstring>
#include <memory>
#include <vector>

#include "cred/cred.h"
#include "fuzz_common.h"

namespace {

void CheckStrlcat(fuzz::Input &in) {
    const size_t size = in.Word() % 600;
    const std::string start = fuzz::CString(in.Sized());
    const std::string src = fuzz::CString(in.Sized());
    // An exactly sized heap buffer, so that any byte past it is caught.
    std::vector<char> dst(size ? size : 1, '\x5a');
    if (size == 0) {
        if (Strlcat(dst.data(), src.c_str(), 0) != dst.data() || dst[0] != '\x5a')
            fuzz::Fail("Strlcat with size 0 wrote");
        return;
    }
    const size_t n = std::min(start.size(), size - 1);
    memcpy(dst.data(), start.data(), n);
    dst[n] = '\0';
    const std::vector<char> before = dst;
    if (Strlcat(dst.data(), src.c_str(), size) != dst.data()) fuzz::Fail("Strlcat result");
    if (n >= size - 1) {
        if (dst != before) fuzz::Fail("Strlcat changed a full buffer");
        return;
    }
    const size_t want = std::min(n + src.size(), size - 1);
    if (strnlen(dst.data(), size) != want) fuzz::Fail("Strlcat length");
    if (memcmp(dst.data(), start.data(), n) != 0 ||
        memcmp(dst.data() + n, src.data(), want - n) != 0)
        fuzz::Fail("Strlcat text");
    for (size_t i = want; i < size; ++i)
        if (dst[i] != '\0') fuzz::Fail("Strlcat left bytes after the text");
}

void CheckCredToLine(fuzz::Input &in) {
    const size_t size = 1 + in.Word() % 2100;
    auto cp = std::make_unique<Cred>();
    const std::string raw = in.Bytes(sizeof(Cred));
    memcpy(cp.get(), raw.data(), raw.size());
    // Text fields are terminated (the record's invariant); ids and the
    // group count are anything at all.
    cp->username[sizeof cp->username - 1] = '\0';
    cp->passwd[sizeof cp->passwd - 1] = '\0';
    cp->gecos[sizeof cp->gecos - 1] = '\0';
    cp->homedir[sizeof cp->homedir - 1] = '\0';
    cp->shell[sizeof cp->shell - 1] = '\0';
    std::vector<char> dst(size, '\x5a');
    CredToLine(dst.data(), size, cp.get());
    const size_t len = strnlen(dst.data(), size);
    if (len == size) fuzz::Fail("CredToLine left the line unterminated");
    if (strncmp(dst.data(), cp->username, std::min(len, strlen(cp->username))) != 0)
        fuzz::Fail("CredToLine does not start with the user name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CredDebugStream = fuzz::DiscardStream();
    fuzz::Input in(data, size);
    if (in.Byte() & 1)
        CheckCredToLine(in);
    else
        CheckStrlcat(in);
    return 0;
}
