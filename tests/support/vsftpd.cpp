#include "support/vsftpd.h"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "support/test_util.h"

namespace test_support {

Vsftpd::Vsftpd(VsftpdOptions options) {
  if (options.root.empty()) throw std::runtime_error("Vsftpd needs a folder to serve");
  namespace fs = std::filesystem;
  // After its chroot vsftpd reads as the "ftp" user.
  fs::permissions(options.root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(options.root)) {
    const fs::perms readable = entry.is_directory() ? fs::perms::others_read | fs::perms::others_exec |
                                                          fs::perms::group_read | fs::perms::group_exec
                                                    : fs::perms::others_read | fs::perms::group_read;
    fs::permissions(entry.path(), readable, fs::perm_options::add);
  }
  process_.Start("vsftpd", options.address, [this, &options](uint16_t port) {
    const std::string empty = process_.Folder() + "/empty";
    fs::create_directories(empty);
    const std::string config = process_.Folder() + "/vsftpd.conf";
    WriteFile(config,
              "listen=YES\n"
              "listen_ipv6=NO\n"
              "listen_address=" + options.address + "\n"
              "listen_port=" + std::to_string(port) + "\n"
              "background=NO\n"
              "seccomp_sandbox=NO\n"
              "connect_from_port_20=NO\n"
              "secure_chroot_dir=" + empty + "\n"
              "anonymous_enable=YES\n"
              "anon_root=" + options.root + "\n"
              "no_anon_password=YES\n"
              "local_enable=NO\n"
              "write_enable=NO\n"
              "xferlog_enable=NO\n"
              "max_clients=0\n"
              "max_per_ip=0\n");
    return std::vector<std::string>{"/usr/sbin/vsftpd", config};
  });
}

}  // namespace test_support
