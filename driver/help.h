// help.h - credcheck --help and --version.
#ifndef DRIVER_HELP_H
#define DRIVER_HELP_H

namespace credcheck {

// When arg is --help or --version: print the full help or the version on
// standard output and return the exit status (0, or 1 when the output
// could not be written).  Otherwise print nothing and return -1.
int RunInfoOption(const char *arg);

}  // namespace credcheck

#endif  // DRIVER_HELP_H
