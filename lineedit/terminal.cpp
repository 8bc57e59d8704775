// Raw mode, byte I/O, screen settings and fatal errors.
#include "lineedit/internal.h"
