// credcheck: find out whether this host's encrypted passwords can be read
// and whether passwords authenticate against them.
#include <clocale>
#include <string_view>

#include "cred/cred.h"
#include "driver/driver.h"
#include "driver/help.h"

int main(int argc, char **argv) {
    credcheck::HoldStandardDescriptors();
    std::setlocale(LC_CTYPE, "");  // passwords typed in UTF-8 are read by character
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "credcheck";
    if (argc < 2) {
        credcheck::PrintUsage(program);
        return credcheck::kUsageStatus;
    }
    std::string_view mode = argv[1];
    // A word that starts with "--" is an option: --help, --version or a
    // usage error, before the library says anything.
    if (mode.starts_with("--")) {
        if (mode != "--help" && mode != "--version")
            credcheck::UsageError(program, "unknown option " + credcheck::Quoted(argv[1]));
        if (argc > 2)
            credcheck::UsageError(
                program, std::string(mode) + " takes no arguments: " + credcheck::Quoted(argv[2]));
        return credcheck::RunInfoOption(argv[1]);
    }
    // The account report is the library's record, formatted: no trace.
    if (mode == "-a") credcheck::RunAccountMode(argc, argv);
    InitCredLibrary(argc, argv);
    CredDebugStream = stdout;

    if (mode == "-g") credcheck::RunProbeMode(argc, argv);
    if (mode == "-l") credcheck::RunQueryMode(argc, argv);
    if (mode == "-c") credcheck::RunCheckMode(argc, argv);
    credcheck::PrintUsage(program);
    return credcheck::kUsageStatus;
}
