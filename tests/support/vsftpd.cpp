#include "support/vsftpd.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "support/test_util.h"

namespace test_support {
namespace {

void MakeReadableForAll(const std::string& root) {
  namespace fs = std::filesystem;
  const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec;
  for (fs::path p = fs::path(root); !p.empty() && p != "/tmp" && p != "/" && p.has_parent_path();
       p = p.parent_path()) {
    fs::permissions(p, readable, fs::perm_options::add);
  }
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
    if (entry.is_directory()) {
      fs::permissions(entry.path(), fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
    }
  }
}

}  // namespace

Vsftpd::Vsftpd(VsftpdOptions options) : options_(std::move(options)) {
  if (options_.root.empty()) throw std::runtime_error("Vsftpd needs a folder to serve");
  MakeReadableForAll(options_.root);
  std::filesystem::create_directories(process_.Folder() + "/empty");
  auto argv = [this](uint16_t port) {
    const std::string config = process_.Folder() + "/vsftpd.conf";
    WriteFile(config, Config(port));
    return std::vector<std::string>{"/usr/sbin/vsftpd", config};
  };
  if (options_.port != 0) {
    process_.StartOnPort("vsftpd", options_.address, options_.port, argv(options_.port));
  } else {
    process_.Start("vsftpd", options_.address, argv);
  }
}

std::string Vsftpd::Log() const {
  try {
    return ReadFile(process_.Folder() + "/vsftpd.log") + process_.Output();
  } catch (const std::exception&) {
    return process_.Output();
  }
}

std::string Vsftpd::Config(uint16_t port) const {
  std::string config =
      "listen=YES\nlisten_ipv6=NO\nlisten_address=" + options_.address + "\nlisten_port=" + std::to_string(port) +
      "\nbackground=NO\nseccomp_sandbox=NO\nconnect_from_port_20=NO\nsecure_chroot_dir=" + process_.Folder() +
      "/empty\nanonymous_enable=YES\nanon_root=" + options_.root +
      "\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=NO\nmax_clients=0\nmax_per_ip=0\n"
      "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file=" + process_.Folder() + "/vsftpd.log\n";
  if (!options_.cert_file.empty()) {
    config += "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
              "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nrequire_ssl_reuse=YES\nssl_ciphers=HIGH\n"
              "debug_ssl=YES\nrsa_cert_file=" + options_.cert_file + "\nrsa_private_key_file=" + options_.key_file +
              "\n";
  }
  return config;
}

}  // namespace test_support
