// The file list: one ticked row for every file the fetched descriptors name,
// each name once, in the order of the descriptors' version numbers.
#include <string>
#include <unordered_set>
#include <vector>

#include "app/main_window.h"
#include "app/texts.h"
#include "platform/files.h"

namespace app {

using platform::Control;
using platform::FileColumn;

void TForm1::Button4Click() {
  window_.SetStatusMessage(texts::kChecking);
  window_.SetEnabled(Control::Button1, false);
  window_.SetStatusMessage(texts::kAnalysing);
  window_.ClearRows();

  const std::string nowlog = ExeDir + "Update\\nowlog";
  std::vector<std::string> paths;
  if (platform::DirectoryExists(nowlog)) {
    for (const platform::FolderEntry& entry : ShellListView1.List(nowlog)) {
      if (!entry.is_folder) paths.push_back(entry.path);
    }
  }

  // The list holds only the rows added here (nothing processes input in
  // between), so a set of their names answers FileListHasName without
  // reading every row back from the window for every section.
  std::unordered_set<std::string> listed;
  std::vector<std::string> sections;
  for (const std::string& path : paths) {
    // Read and parsed once, not once a value, and every section of it: a
    // large product's descriptor holds thousands of rows, more than a 16 KiB
    // section listing takes, and a row left out would be recorded as
    // installed and never offered again.
    const settings::TIniFileSnapshot descriptor(path);
    descriptor.ListAllSections(sections);
    for (const std::string& section : sections) {
      std::string name = descriptor.ReadTextValue(section, "Name", "");
      if (listed.count(name) != 0) continue;
      window_.AddRow(true, name, descriptor.ReadTextValue(section, "type", ""),
                     descriptor.ReadTextValue(section, "Size", ""), descriptor.ReadTextValue(section, "Date", ""),
                     texts::kNotDownloaded);
      listed.insert(std::move(name));
    }
  }
}

bool TForm1::FileListHasName(const std::string& Name) const {
  for (int row = 0; row < window_.RowCount(); ++row) {
    if (window_.RowText(row, FileColumn::Name) == Name) return true;
  }
  return false;
}

}  // namespace app
