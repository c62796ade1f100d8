#include "rtl/Exception.h"

// The exception classes are header-only; this unit keeps the library's source
// list stable for the build.
