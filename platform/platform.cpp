// The platform layer's definitions that are the same everywhere.
#include <cstdlib>

#include "platform/platform.h"

void ExitNormally(int status) { std::exit(status); }
