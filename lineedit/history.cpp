// The history ring, history files and incremental search.
#include "lineedit/internal.h"

void hist_setup(void) noexcept {}
void hist_release(void) noexcept {}
