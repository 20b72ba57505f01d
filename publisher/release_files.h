// A release folder as the publisher reads it: every file, the name a client
// will fetch it by, its type and the texts its descriptor row shows.
//
// The names the publisher writes (the README's table of types):
//   Bin/<file>             type BIN, Name "Bin\<file>", served from Bin/
//   <file>, <folder>/<file> type: the extension in capitals ("EXE", "DLL";
//                          "FILE" when there is none or it would read as BIN
//                          or SCRIPTS), Name the path with "/"
// A name that a client could not fetch to the same place is refused: not
// convertible to GBK, a "\", a blank at either end, a control character, a
// hidden component, deeper than one folder (clients mirror only the top
// folders), the metadata names (version.ini, log/, nowlog/), two names that
// land on the same local file (a client compares names without regard to
// case, and BIN files land beside the top-level ones).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace publishing {

// Bad input: what is wrong, one line each.
class EReleaseInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ReleaseFile {
  std::string source;       // the file on disk (its path as the system names it)
  std::string server_path;  // where the server holds it, relative to the product folder (GBK)
  std::string name;         // the descriptor's Name (GBK)
  std::string type;
  int64_t bytes = 0;
  std::string hash;  // BLAKE2b-512, lower-case hexadecimal
  std::string size_text;
  std::string date_text;  // the file's local modification date, YYYY-MM-DD
};

// Every file of the folder, sorted by name; EReleaseInput naming every name
// that is refused.
std::vector<ReleaseFile> ReadReleaseFolder(const std::string& folder);

// The size as the file list shows it: "512 B", "8 KB", "8.5 MB", "1.2 GB".
std::string SizeText(int64_t bytes);

// The BLAKE2b-512 of a file on disk, read in blocks; the byte count too.
std::string FileHash(const std::string& path, int64_t* bytes = nullptr);

}  // namespace publishing
