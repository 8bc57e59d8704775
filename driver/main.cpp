// credcheck: find out whether this host's encrypted passwords can be read
// and whether passwords authenticate against them.
#include <clocale>
#include <string_view>

#include "cred/cred.h"
#include "driver/driver.h"
#include "driver/help.h"

namespace {

constexpr int kUsageStatus = 2;

}  // namespace

int main(int argc, char **argv) {
    std::setlocale(LC_CTYPE, "");  // passwords typed in UTF-8 are read by character
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "credcheck";
    if (argc < 2) {
        credcheck::PrintUsage(program);
        return kUsageStatus;
    }
    if (int status = credcheck::RunInfoOption(argv[1]); status >= 0) return status;
    // The account report is the library's record, formatted: no trace.
    if (std::string_view(argv[1]) == "-a") credcheck::RunAccountMode(argc, argv);
    InitCredLibrary(argc, argv);
    CredDebugStream = stdout;

    std::string_view mode = argv[1];
    if (mode == "-g") credcheck::RunProbeMode(argc, argv);
    if (mode == "-l") credcheck::RunQueryMode(argc, argv);
    if (mode == "-c") credcheck::RunCheckMode(argc, argv);
    credcheck::PrintUsage(program);
    return kUsageStatus;
}
