// The release key built into the program: the build option
// UPDATER_PUBLIC_KEY (minisign's "RW..." text), empty when it was not set.
#pragma once

namespace app {

const char* BuiltInReleaseKey();

}  // namespace app
