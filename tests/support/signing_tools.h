// The real minisign tool and the publisher's command, run by tests to make
// keys and signatures at test time.
//
//   test_support::MinisignKeys keys = test_support::MinisignKeyPair(dir);  // minisign -G -W
//   test_support::MinisignSign(keys, file, "trusted comment");
//   EXPECT_TRUE(test_support::MinisignVerifies(keys, file));
#pragma once

#include <string>
#include <vector>

namespace test_support {

// Runs a command (argv[0] found on PATH) with the text on its standard
// input; gives its exit status (-1 when it did not exit normally) and
// collects its standard output and error.
struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = "");

struct MinisignKeys {
  std::string public_key_file;
  std::string secret_key_file;
  std::string public_key;  // the "RW..." text
};

// A fresh unencrypted key pair (minisign -G -W) in dir, as name.pub and
// name.key.
MinisignKeys MinisignKeyPair(const std::string& dir, const std::string& name = "minisign");
// minisign -S: signs file into file.minisig (or signature_file); legacy
// gives the old "Ed" mode (-l).
void MinisignSign(const MinisignKeys& keys, const std::string& file, const std::string& trusted_comment,
                  bool legacy = false, const std::string& signature_file = "");
// minisign -V with the public key.
bool MinisignVerifies(const MinisignKeys& keys, const std::string& file, const std::string& signature_file = "");

// The publisher's command of this build.
std::string PublisherPath();

}  // namespace test_support
