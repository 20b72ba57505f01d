#include "app/built_in_key.h"

// Defined for this file alone (CMakeLists.txt), so that changing the key
// rebuilds nothing else.
#ifndef UPDATER_PUBLIC_KEY
#define UPDATER_PUBLIC_KEY ""
#endif

namespace app {

const char* BuiltInReleaseKey() { return UPDATER_PUBLIC_KEY; }

}  // namespace app
