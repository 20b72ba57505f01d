// Small helpers shared by the tests: a temporary folder, waiting on a
// condition with a deadline, and whole-file reads and writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace test_support {

// A fresh folder under /tmp, removed with everything in it when the object
// goes. Each test makes its own, so tests never share files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Checks the condition until it holds or the deadline passes; gives whether
// it held. The checks are a few milliseconds apart.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(30));

// size bytes of a fixed pseudo-random sequence: the same seed, the same bytes.
std::string RandomBytes(size_t size, uint32_t seed);

// The whole file as bytes; raises std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with the bytes; raises std::runtime_error on failure.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace test_support
