#include "publisher/passphrase.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace publishing {
namespace {

std::string AskTerminal(const char* prompt) {
  const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    throw EPassphrase(std::string("no terminal to ask the passphrase on: use --passphrase-file or ") +
                      kPassphraseVariable);
  }
  termios saved{};
  const bool is_terminal = tcgetattr(tty, &saved) == 0;
  if (is_terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  (void)!write(tty, prompt, std::char_traits<char>::length(prompt));
  std::string line;
  char c = 0;
  while (read(tty, &c, 1) == 1 && c != '\n') line.push_back(c);
  if (is_terminal) tcsetattr(tty, TCSAFLUSH, &saved);
  (void)!write(tty, "\n", 1);
  close(tty);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::string ReadPassphrase(const std::optional<std::string>& file, bool new_key) {
  std::string passphrase;
  if (file) {
    std::ifstream in(*file, std::ios::binary);
    if (!in || !std::getline(in, passphrase)) throw EPassphrase(*file + ": cannot read the passphrase");
    if (!passphrase.empty() && passphrase.back() == '\r') passphrase.pop_back();
  } else if (const char* value = std::getenv(kPassphraseVariable)) {
    passphrase = value;
  } else {
    passphrase = AskTerminal("Passphrase: ");
    if (new_key && AskTerminal("Passphrase (again): ") != passphrase) throw EPassphrase("the passphrases differ");
  }
  if (passphrase.empty()) throw EPassphrase("an empty passphrase (for a key without one, use --unencrypted)");
  return passphrase;
}

}  // namespace publishing
