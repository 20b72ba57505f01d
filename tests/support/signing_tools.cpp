#include "support/signing_tools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/test_util.h"

namespace test_support {

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // Feed the input while reading the output, so neither pipe fills up.
  size_t fed = 0;
  if (input.empty()) close(in[1]);
  CommandResult result;
  bool input_open = !input.empty();
  for (;;) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {input_open ? in[1] : -1, POLLOUT, 0}};
    if (poll(fds, 2, 60000) <= 0) break;
    if (input_open && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(in[1], input.data() + fed, input.size() - fed);
      if (n > 0) fed += static_cast<size_t>(n);
      if (n <= 0 || fed == input.size()) {
        close(in[1]);
        input_open = false;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      result.output.append(buffer, static_cast<size_t>(n));
    }
  }
  if (input_open) close(in[1]);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

MinisignKeys MinisignKeyPair(const std::string& dir, const std::string& name) {
  MinisignKeys keys{dir + "/" + name + ".pub", dir + "/" + name + ".key", ""};
  const CommandResult made =
      RunCommand({"minisign", "-G", "-W", "-f", "-p", keys.public_key_file, "-s", keys.secret_key_file});
  if (made.status != 0) throw std::runtime_error("minisign -G failed: " + made.output);
  const std::string file = ReadFile(keys.public_key_file);
  const size_t line = file.find('\n');
  keys.public_key = file.substr(line + 1, file.find('\n', line + 1) - line - 1);
  return keys;
}

void MinisignSign(const MinisignKeys& keys, const std::string& file, const std::string& trusted_comment, bool legacy,
                  const std::string& signature_file) {
  std::vector<std::string> argv = {"minisign", "-S", "-s", keys.secret_key_file, "-m", file, "-t", trusted_comment};
  if (legacy) argv.push_back("-l");
  if (!signature_file.empty()) {
    argv.push_back("-x");
    argv.push_back(signature_file);
  }
  const CommandResult signed_ = RunCommand(argv);
  if (signed_.status != 0) throw std::runtime_error("minisign -S failed: " + signed_.output);
}

bool MinisignVerifies(const MinisignKeys& keys, const std::string& file, const std::string& signature_file) {
  std::vector<std::string> argv = {"minisign", "-V", "-p", keys.public_key_file, "-m", file};
  if (!signature_file.empty()) {
    argv.push_back("-x");
    argv.push_back(signature_file);
  }
  return RunCommand(argv).status == 0;
}

std::string PublisherPath() { return UPDATER_PUBLISHER_PATH; }

}  // namespace test_support
