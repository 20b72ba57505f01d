#include "app/shell_list_view.h"

namespace app {

std::vector<platform::FolderEntry> TShellListView::List(const std::string& root) const {
  return platform::ListFolder(root);
}

}  // namespace app
