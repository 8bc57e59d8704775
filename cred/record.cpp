// The Cred record, library start-up and the debug trace.
#include <cstdio>

#include "cred/internal.h"

FILE *CredDebugStream = nullptr;
