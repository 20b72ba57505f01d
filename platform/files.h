// Local files. Paths are GBK bytes; "\" and "/" both separate folders, and
// each component is looked up without regard to ASCII letter case when the
// exact name does not exist, so "Version.ini" finds "version.ini". Names go
// to disk as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The system's reason for an errno value ("No space left on device."'s
// text without the period), in English whatever the process locale, so that
// it stays plain ASCII inside GBK texts.
std::string SystemErrorText(int error);

// The full path of the running executable (its real path), in GBK.
std::string ExecutablePath();

// The path as it exists on disk (UTF-8, "/" only), with every component that
// exists matched without regard to case; components that do not exist are
// kept as given. This is what the other operations use.
std::string ResolvePath(const std::string& path);

bool FileExists(const std::string& path);       // an existing non-folder
bool DirectoryExists(const std::string& path);  // an existing folder
// Creates one folder; its parent must exist. Gives false on failure.
bool CreateDirectory(const std::string& path);
// Deletes a file (not a folder). Gives false on failure.
bool DeleteFile(const std::string& path);

// One entry of a folder listing.
struct FolderEntry {
  std::string path;  // full path: the listed folder, a separator, the name (GBK)
  std::string name;  // GBK
  bool is_folder = false;
};

// The entries directly inside a folder, without hidden ones (names starting
// with "."), folders first, then by name as a file manager sorts: ASCII case
// ignored, runs of digits compared by value (9 before 10). An empty list when
// the folder does not exist.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// Copies source over target through a temporary file and a rename, so the
// target is always either the old file or the new one, whole. The copy keeps
// the source's permission bits. Gives false on failure.
bool CopyFileOver(const std::string& source, const std::string& target);

// Starts a file with the verb "open" and does not wait for it: a program (an
// executable file, or one starting with an ELF header or "#!", which gets its
// execute bit) is spawned detached; any other file goes to xdg-open when
// installed. Failures are silent.
void OpenFile(const std::string& path);

}  // namespace platform
