#include "support/nat_network.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/test_util.h"

namespace test_support {
namespace {

constexpr const char* kPrefix = "updater-nat-";
constexpr const char* kIp = "/usr/sbin/ip";

// Runs the program (no shell) and gives its exit status; what it printed
// goes to output.
int Run(std::vector<std::string> args, std::string& output) {
  TempDir folder;
  const std::string log = folder.File("output");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) throw std::runtime_error("cannot open " + log);
  const pid_t pid = fork();
  if (pid < 0) {
    close(out);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  output = ReadFile(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void MustRun(const std::vector<std::string>& args) {
  std::string output;
  if (Run(args, output) != 0) {
    std::string line;
    for (const std::string& arg : args) line += arg + " ";
    throw std::runtime_error("failed: " + line + "\n" + output);
  }
}

void Ip(const std::vector<std::string>& args) {
  std::vector<std::string> all = {kIp};
  all.insert(all.end(), args.begin(), args.end());
  MustRun(all);
}

// Namespaces of earlier test processes that ended without removing theirs.
void RemoveStale() {
  DIR* dir = opendir("/run/netns");
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(kPrefix, 0) != 0) continue;
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kPrefix)));
    if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) stale.push_back(name);
  }
  closedir(dir);
  std::string ignored;
  for (const std::string& name : stale) Run({kIp, "netns", "del", name}, ignored);
}

}  // namespace

NatNetwork::NatNetwork() {
  static std::atomic<int> counter{0};
  const std::string id = std::to_string(getpid()) + "-" + std::to_string(counter++);
  client_ = kPrefix + id + "-client";
  router_ = kPrefix + id + "-router";
  server_ = kPrefix + id + "-server";
  RemoveStale();
  try {
    Build();
  } catch (...) {
    Remove();
    throw;
  }
}

NatNetwork::~NatNetwork() { Remove(); }

void NatNetwork::Build() {
  for (const std::string& name : {client_, router_, server_}) {
    Ip({"netns", "add", name});
    made_.push_back(name);
    Ip({"-n", name, "link", "set", "lo", "up"});
  }
  // Link names of at most 15 bytes, unique in each namespace.
  const std::string client_link = "client0";
  const std::string router_client_link = "toclient0";
  const std::string router_server_link = "toserver0";
  const std::string server_link = "server0";
  Ip({"link", "add", client_link, "netns", client_, "type", "veth", "peer", "name", router_client_link, "netns",
      router_});
  Ip({"link", "add", server_link, "netns", server_, "type", "veth", "peer", "name", router_server_link, "netns",
      router_});

  Ip({"-n", client_, "addr", "add", std::string(kClientAddress) + "/24", "dev", client_link});
  Ip({"-n", client_, "link", "set", client_link, "up"});
  Ip({"-n", client_, "route", "add", "default", "via", "10.216.1.1"});
  Ip({"-n", router_, "addr", "add", "10.216.1.1/24", "dev", router_client_link});
  Ip({"-n", router_, "link", "set", router_client_link, "up"});
  Ip({"-n", router_, "addr", "add", "10.216.2.1/24", "dev", router_server_link});
  Ip({"-n", router_, "link", "set", router_server_link, "up"});
  Ip({"-n", server_, "addr", "add", std::string(kServerAddress) + "/24", "dev", server_link});
  Ip({"-n", server_, "link", "set", server_link, "up"});
  // The server answers anyone through the router, as on the internet; what
  // it sends towards the client's own address ends at the router.
  Ip({"-n", server_, "route", "add", "default", "via", "10.216.2.1"});

  Ip({"netns", "exec", router_, "/bin/sh", "-c", "echo 1 > /proc/sys/net/ipv4/ip_forward"});
  TempDir folder;
  const std::string rules = folder.File("router.nft");
  WriteFile(rules,
            "table ip nat {\n"
            "  chain post {\n"
            "    type nat hook postrouting priority 100;\n"
            "    oifname \"" + router_server_link + "\" masquerade\n"
            "  }\n"
            "}\n"
            "table ip filter {\n"
            "  chain forward_filter {\n"
            "    type filter hook forward priority 0; policy drop;\n"
            "    iifname \"" + router_client_link + "\" accept\n"
            "    ct state established,related accept\n"
            "  }\n"
            "}\n");
  Ip({"netns", "exec", router_, "/usr/sbin/nft", "-f", rules});
}

void NatNetwork::Remove() {
  // Deleting a namespace deletes its links, and with them their peers.
  std::string ignored;
  for (auto name = made_.rbegin(); name != made_.rend(); ++name) Run({kIp, "netns", "del", *name}, ignored);
  made_.clear();
}

InNetworkNamespace::InNetworkNamespace(const std::string& name) {
  original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original_ < 0) throw std::runtime_error("cannot open this thread's network namespace");
  const std::string path = "/run/netns/" + name;
  const int target = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (target < 0 || setns(target, CLONE_NEWNET) != 0) {
    const std::string reason = std::strerror(errno);
    if (target >= 0) close(target);
    close(original_);
    throw std::runtime_error("cannot enter " + path + ": " + reason);
  }
  close(target);
}

InNetworkNamespace::~InNetworkNamespace() {
  // Back where the thread was; a thread left in the wrong namespace would
  // send the rest of the test's traffic there.
  if (setns(original_, CLONE_NEWNET) != 0) std::abort();
  close(original_);
}

}  // namespace test_support
