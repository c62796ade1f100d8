// The user's folders that the plug-in builds its paths on.
//
// Threads: safe to call from several threads at once (it reads the environment,
// which nothing in the system changes).
#pragma once

#include <string>

namespace os {

// The user's Documents folder, without a trailing slash: $XDG_DOCUMENTS_DIR when
// set and not empty, else $HOME/Documents. The folder need not exist. Throws
// OsError (code ENOENT) when neither variable is set.
std::string DocumentsFolder();

}  // namespace os
