#include "support/private_mount.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace test_support {
namespace {

// Empty when the process is in a private mount namespace, else the reason.
std::string EnterPrivateNamespace() {
  static const std::string failure = [] () -> std::string {
    if (::unshare(CLONE_NEWNS) != 0) return std::string("no mount namespace of our own: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return std::string("cannot make the mounts private: ") + std::strerror(errno);
    }
    return {};
  }();
  return failure;
}

}  // namespace

std::unique_ptr<PrivateMount> PrivateMount::Tmpfs(const std::string& folder, size_t bytes, std::string& why) {
  why = EnterPrivateNamespace();
  if (!why.empty()) return nullptr;
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("updater-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    why = "cannot mount a tmpfs on " + folder + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<PrivateMount>(new PrivateMount(folder));
}

std::unique_ptr<PrivateMount> PrivateMount::BindFile(const std::string& source, const std::string& target,
                                                     std::string& why) {
  why = EnterPrivateNamespace();
  if (!why.empty()) return nullptr;
  if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    why = "cannot lay " + source + " over " + target + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<PrivateMount>(new PrivateMount(target));
}

PrivateMount::~PrivateMount() {
  // Lazily: a file still open on it (a server child) must not keep it.
  ::umount2(target_.c_str(), MNT_DETACH);
}

}  // namespace test_support
