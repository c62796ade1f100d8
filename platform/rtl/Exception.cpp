#include "rtl/Exception.h"

// The class is header-only; this unit anchors the library until more of the
// run-time layer lands.
