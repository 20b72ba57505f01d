// Mounts that only this test process sees. The first use moves the process
// into a mount namespace of its own with private propagation (so nothing
// reaches the machine's own mounts), as root; each mount is undone when its
// object goes. A test that cannot get one (not root, no namespaces) skips
// with the reason.
//
//   std::string why;
//   auto disk = test_support::PrivateMount::Tmpfs(folder, 1 << 20, why);
//   if (!disk) GTEST_SKIP() << why;
//
// Call before the test starts threads or child processes: the namespace is
// the calling thread's, and what it starts afterwards inherits it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace test_support {

class PrivateMount {
 public:
  // A tmpfs of the given size on an existing folder; null (and why) when it
  // cannot be made.
  static std::unique_ptr<PrivateMount> Tmpfs(const std::string& folder, size_t bytes, std::string& why);
  // The file source laid over the existing file target.
  static std::unique_ptr<PrivateMount> BindFile(const std::string& source, const std::string& target, std::string& why);
  ~PrivateMount();
  PrivateMount(const PrivateMount&) = delete;
  PrivateMount& operator=(const PrivateMount&) = delete;

 private:
  explicit PrivateMount(std::string target) : target_(std::move(target)) {}
  std::string target_;
};

}  // namespace test_support
