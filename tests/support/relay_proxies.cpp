#include "support/relay_proxies.h"

#include <sstream>
#include <stdexcept>

#include "support/test_util.h"

namespace test_support {
namespace {

// -B: the module the scripts share leaves no byte code in the source tree.
constexpr const char* kPython = "/usr/bin/python3";

std::string Script(const std::string& name) { return std::string(UPDATER_TEST_SUPPORT_DIR) + "/" + name; }

}  // namespace

std::vector<std::string> FileLines(const std::string& path) {
  std::string text;
  try {
    text = ReadFile(path);
  } catch (const std::runtime_error&) {
    return {};
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Socks4Relay::Socks4Relay(Socks4RelayOptions options) {
  process_.Start("socks4_relay.py", options.address, [this, &options](uint16_t port) {
    std::vector<std::string> argv = {kPython, "-B", Script("socks4_relay.py"), "--address", options.address, "--port",
                                     std::to_string(port), "--log", process_.Folder() + "/requests.log"};
    if (!options.user.empty()) argv.insert(argv.end(), {"--user", options.user});
    return argv;
  });
}

std::vector<std::string> Socks4Relay::Requests() const { return FileLines(process_.Folder() + "/requests.log"); }

FtpProxy::FtpProxy(FtpProxyOptions options) {
  process_.Start("ftp_proxy.py", options.address, [this, &options](uint16_t port) {
    std::vector<std::string> argv = {kPython,
                                     "-B",
                                     Script("ftp_proxy.py"),
                                     "--address", options.address,
                                     "--port", std::to_string(port),
                                     "--scheme", options.scheme,
                                     "--server-host", options.server_host,
                                     "--server-port", std::to_string(options.server_port),
                                     "--log", process_.Folder() + "/proxy.log"};
    if (!options.proxy_user.empty()) {
      argv.insert(argv.end(), {"--proxy-user", options.proxy_user, "--proxy-password", options.proxy_password});
    }
    return argv;
  });
}

std::vector<std::string> FtpProxy::Log() const { return FileLines(process_.Folder() + "/proxy.log"); }

}  // namespace test_support
