#include "support/product_fixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "platform/encoding.h"
#include "support/test_util.h"

namespace test_support {
namespace {

void MakeParents(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
}

}  // namespace

void WriteGbk(const std::string& path, const std::string& utf8_text) { WriteFile(path, platform::Utf8ToGbk(utf8_text)); }

ProductFixture::ProductFixture(std::string server_root, const std::string& product)
    : dir_(std::move(server_root) + "/" + product) {
  std::filesystem::create_directories(dir_);
}

void ProductFixture::Version(int client_version, int database_version) const {
  WriteFile(dir_ + "/version.ini", "[kvdatacont]\r\nclient_version=" + std::to_string(client_version) +
                                       "\r\ndatabase_version=" + std::to_string(database_version) + "\r\n");
}

void ProductFixture::Descriptor(const std::string& file_name, const std::vector<DescriptorSection>& sections) const {
  std::string text;
  for (const DescriptorSection& s : sections) {
    text += "[" + s.section + "]\r\n";
    if (s.has_name) text += "Name=" + s.name + "\r\n";
    text += "type=" + s.type + "\r\nSize=" + s.size + "\r\nDate=" + s.date + "\r\n";
  }
  RawFile("log/" + platform::Utf8ToGbk(file_name), platform::Utf8ToGbk(text));
}

void ProductFixture::File(const std::string& relative, const std::string& bytes) const {
  RawFile(platform::Utf8ToGbk(relative), bytes);
}

void ProductFixture::RawFile(const std::string& relative_bytes, const std::string& bytes) const {
  const std::string path = dir_ + "/" + relative_bytes;
  MakeParents(path);
  WriteFile(path, bytes);
}

void ProductFixture::Folder(const std::string& relative) const {
  std::filesystem::create_directories(dir_ + "/" + platform::Utf8ToGbk(relative));
}

void ProductFixture::Standard() const {
  Version(10, 4);
  for (const char* folder : {"Bin", "log", "Report", "资料", "log/8.ini"}) Folder(folder);
  Descriptor("3.ini", {{"旧", "old3.txt", "TXT", "1KB", "2023-01-03"}});
  Descriptor("5.ini", {{"旧", "old5.txt", "TXT", "1KB", "2023-01-05"}});
  Descriptor("6.ini", {{"主程序", "Oxbar_tn.exe", "EXE", "1KB", "2024-06-01"},
                       {"库", "Bin\\abc.dll", "bin", "2KB", "2024-06-02"},
                       {"报表", "Report/月报.txt", "RPT", "1KB", "2024-06-03"},
                       {"脚本", "update.sql", "SCRIPTS", "0", "2024-06-04"}});
  Descriptor("10.ini", {{"库", "Bin\\abc.dll", "BIN", "9KB", "2024-07-01"},
                        {"核心", "Bin\\核心.dll", "BIN", "3KB", "2024-07-02"},
                        {"说明", "说明.txt", "DOC", "1KB", "2024-07-03"}});
  File("Bin/abc.dll", "abc library v10");
  File("Bin/核心.dll", "core library v10");
  File("Report/月报.txt", platform::Utf8ToGbk("月报 v10"));
  File("说明.txt", platform::Utf8ToGbk("说明 v10"));
  File("old3.txt", "old 3");
  File("old5.txt", "old 5");
  File("Oxbar_tn.exe", MainProgramScript("new"));
}

std::string MainProgramScript(const std::string& tag) {
  return "#!/bin/sh\n"
         "exec </dev/null >/dev/null 2>&1\n"
         "cd \"$(dirname \"$0\")\" || exit 1\n"
         "echo " + tag + " > started.marker\n"
         "i=0\n"
         "while [ ! -e release.marker ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done\n"
         "echo " + tag + " > finished.marker\n";
}

std::string SettingsFileText(const std::string& host, int client_version, const std::string& extra_lines) {
  return platform::Utf8ToGbk("[kvdatacont]\r\nupdateadd=" + host + "\r\nclient_version=" +
                             std::to_string(client_version) + "\r\n" + extra_lines);
}

}  // namespace test_support
