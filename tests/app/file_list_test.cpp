// The file list step reads each descriptor from disk once, however many rows
// it holds, and lists what the descriptors name as before.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/main_window.h"
#include "platform/encoding.h"
#include "platform/headless/headless_window.h"
#include "support/scratch_folder.h"

namespace {

using platform::FileColumn;
using test_support::ScratchFolder;
using test_support::WriteRaw;

std::string Rows(int first, int count, const std::string& type) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const std::string n = std::to_string(i);
    text += "[r" + n + "]\r\nName=file" + n + ".txt\r\ntype=" + type + "\r\nSize=" + n + "KB\r\nDate=2024-01-01\r\n";
  }
  return text;
}

// How often each file of the folder was opened, as inotify saw it. Closes
// are watched too: inotify folds an event into an identical one just
// before it, so opens alone would be counted once.
class OpenCounter {
 public:
  explicit OpenCounter(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(inotify_add_watch(fd_, folder.c_str(), IN_OPEN | IN_CLOSE), 0);
  }
  ~OpenCounter() { close(fd_); }
  std::map<std::string, int> Counts() {
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (char* p = buffer; p < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        if (event->len > 0 && (event->mask & IN_OPEN) != 0) ++counts_[event->name];
        p += sizeof(inotify_event) + event->len;
      }
    }
    return counts_;
  }

 private:
  int fd_;
  std::map<std::string, int> counts_;
};

TEST(FileList, ReadsEachDescriptorOnceWhateverItsRows) {
  ScratchFolder folder;
  const std::string nowlog = folder / "Update/nowlog";
  std::filesystem::create_directories(nowlog);
  WriteRaw(nowlog + "/6.ini", Rows(0, 300, "DOC"));
  WriteRaw(nowlog + "/10.ini", Rows(299, 3, "BIN"));  // file299 again, then two new ones
  platform::HeadlessWindow window;
  app::TForm1 form(window, folder.Path() + "/");
  OpenCounter opens(nowlog);

  form.Button4Click();

  EXPECT_EQ(opens.Counts(), (std::map<std::string, int>{{"10.ini", 1}, {"6.ini", 1}}));
  ASSERT_EQ(window.RowCount(), 302);
  EXPECT_EQ(window.RowText(0, FileColumn::Name), "file0.txt");
  EXPECT_EQ(window.RowText(299, FileColumn::Type), "DOC") << "the lower version's row wins";
  EXPECT_EQ(window.RowText(301, FileColumn::Name), "file301.txt");
  EXPECT_EQ(window.RowText(301, FileColumn::Size), "301KB");
  EXPECT_EQ(platform::GbkToUtf8(window.RowText(301, FileColumn::Status)), "未下载");
}

// A large product's first release: its section names run far past the 16 KiB
// that a section listing holds. Every row is offered; one left out would be
// recorded as installed and never offered again.
TEST(FileList, ListsEveryRowOfADescriptorWhoseSectionNamesPassAListingBuffer) {
  ScratchFolder folder;
  const std::string nowlog = folder / "Update/nowlog";
  std::filesystem::create_directories(nowlog);
  WriteRaw(nowlog + "/2.ini", Rows(0, 5000, "DOC"));  // about 33 KB of section names
  platform::HeadlessWindow window;
  app::TForm1 form(window, folder.Path() + "/");

  form.Button4Click();

  ASSERT_EQ(window.RowCount(), 5000);
  EXPECT_EQ(window.RowText(4999, FileColumn::Name), "file4999.txt");
}

}  // namespace
