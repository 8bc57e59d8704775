// Any text against the account layer's table of hash methods: decoding
// never reads outside the text (which has no terminating NUL here), and a
// text is valid exactly when no problem is named.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "account/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CredHashInfo info;
    credaccount::DecodeHash(std::string_view(reinterpret_cast<const char *>(data), size), &info);
    if ((info.valid != 0) != (info.problem == nullptr)) __builtin_trap();
    if (info.method == nullptr || info.nparams > CRED_HASH_MAX_PARAMS) __builtin_trap();
    return 0;
}
