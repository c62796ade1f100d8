// Temporary files: scratch storage that the engine spills to and that must never
// outlive its handle, not even after a crash.
//
// The file is created with a unique name beginning "VEX" in the temporary folder
// ($TMPDIR, else /tmp) and unlinked at once, so no other handle can ever open it
// and nothing is left behind when the process ends, however it ends. Its space is
// freed when the returned handle closes.
//
// Threads: safe to call from several threads at once.
#pragma once

#include <string>

#include "os/File.h"

namespace os {

// The temporary folder: $TMPDIR when set and not empty, else "/tmp"; without a
// trailing slash.
std::string TempDirectory();

// Creates, opens (read and write, exclusive) and unlinks a new temporary file.
// On success returns the open handle and, when `name` is given, stores the name
// the file had (it no longer exists under it). Throws OsError (with the errno
// value) when the file cannot be created.
File CreateTempFile(std::string* name = nullptr);

}  // namespace os
