// Reading a local file whole, and rewriting it whole in place of the old one:
// the two file operations that the settings files stand on.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

// A file as ReadWholeFile found it: its bytes and what a rewrite keeps.
struct WholeFile {
  std::string text;
  mode_t mode = 0;  // permission bits
  uid_t owner = 0;
  gid_t group = 0;
};

enum class WholeFileRead { kRead, kMissing, kUnusable };

// Reads the file at path (a path on disk) whole. kMissing when nothing is
// there; kUnusable for anything that is not a regular file (a FIFO or device
// is never read: the open itself does not wait), for a file larger than
// max_size (also one that grows past it while being read) and for a failed
// read.
WholeFileRead ReadWholeFile(const std::string& path, size_t max_size, WholeFile& file);

// The path on disk that a rewrite of path replaces: path resolved by
// ResolvePath, and through symbolic links, so that the file a link names is
// replaced, not the link. Empty when path cannot be resolved.
std::string RewriteTarget(const std::string& path);

// Replaces the file at target (from RewriteTarget) with text, so that a crash
// leaves the old or the new file whole (ReplaceFileContents). A file that
// existed (existing not null) keeps its permission bits and its owner; a new
// one gets 0666 minus the umask.
bool RewriteWholeFile(const std::string& target, const std::string& text, const WholeFile* existing);

}  // namespace platform
