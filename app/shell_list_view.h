// The window's local folder lister: the entries directly inside one folder,
// folders first, then by name as a file manager orders them (letter case
// ignored, digit runs by value), hidden entries left out. Nothing is kept
// between listings, so each one shows the folder as it is at that moment.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace app {

class TShellListView {
 public:
  // Lists the root folder anew; an empty list when it is not a folder.
  std::vector<platform::FolderEntry> List(const std::string& root) const;
};

}  // namespace app
