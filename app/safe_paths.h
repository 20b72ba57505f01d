// Names that come from the server or from a descriptor are joined to local
// folders of the program. These checks decide whether such a name stays
// inside the folder it is joined to. They split a name exactly as the local
// file operations do: "\" and "/" both separate, except a "\" that is the
// second byte of a GBK double-byte character.
#pragma once

#include <string>

namespace app {

// A relative path that cannot leave the folder it is appended to: not empty,
// not starting with a separator (absolute), no drive letter ("C:"), no ".."
// component, no NUL byte, and at least one component that is not ".".
bool IsSafeRelativeName(const std::string& name);

// One plain entry name (a server folder or a descriptor file): a safe
// relative name without any separator and other than ".".
bool IsSafeEntryName(const std::string& name);

}  // namespace app
