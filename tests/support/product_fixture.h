// Builders for the end-to-end tests of the updater: a product folder as the
// FTP server holds it, and the program folder the updater runs in.
//
// Names and texts are given in UTF-8 and written as GBK bytes, as a real
// server holds them (the test server passes names byte for byte). Files the
// updater itself writes locally are UTF-8 names on disk.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// One section of an update descriptor.
struct DescriptorSection {
  std::string section;
  std::string name;
  std::string type;
  std::string size;
  std::string date;
  bool has_name = true;  // false: the section has no Name key
};

class ProductFixture {
 public:
  // The product folder <server_root>/<product>, made at once.
  explicit ProductFixture(std::string server_root, const std::string& product = "qt482");

  const std::string& Dir() const { return dir_; }

  // version.ini with both version numbers.
  void Version(int client_version, int database_version) const;
  // log/<file_name> with the sections.
  void Descriptor(const std::string& file_name, const std::vector<DescriptorSection>& sections) const;
  // A file at a path relative to the product folder; parent folders are made.
  void File(const std::string& relative, const std::string& bytes) const;
  // The same with the name's bytes as given (for names that are not UTF-8
  // text, such as names holding "\").
  void RawFile(const std::string& relative_bytes, const std::string& bytes) const;
  void Folder(const std::string& relative) const;

  // The product of most tests, against local version 5:
  //   version.ini   client_version 10, database_version 4
  //   folders       Bin, log, Report, 资料, log/8.ini (a folder)
  //   log/3.ini, log/5.ini   old descriptors naming old3.txt, old5.txt
  //   log/6.ini     Oxbar_tn.exe (EXE), Bin\abc.dll (bin), Report/月报.txt (RPT),
  //                 update.sql (SCRIPTS)
  //   log/10.ini    Bin\abc.dll again (BIN, another size), Bin\核心.dll (BIN),
  //                 说明.txt (DOC)
  //   the files     Bin/abc.dll, Bin/核心.dll, Report/月报.txt, 说明.txt, old3.txt,
  //                 old5.txt and Oxbar_tn.exe, a main program tagged "new"
  void Standard() const;

 private:
  std::string dir_;
};

// The bytes of a main program ("#!/bin/sh") that, started in any folder,
// writes the tag into started.marker beside itself, waits until a file
// release.marker appears there (30 s at most) and then writes
// finished.marker: a test sees that it ran, and that whoever started it did
// not wait for it to end.
std::string MainProgramScript(const std::string& tag);

// A settings file for the program folder: section kvdatacont with updateadd
// and client_version, plus the extra lines as given (UTF-8, written as GBK).
std::string SettingsFileText(const std::string& host, int client_version, const std::string& extra_lines = "");

// Writes text as GBK bytes to the path.
void WriteGbk(const std::string& path, const std::string& utf8_text);

}  // namespace test_support
