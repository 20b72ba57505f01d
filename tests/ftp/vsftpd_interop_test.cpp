// The FTP client against vsftpd on loopback in passive mode, by EPSV and by
// PASV (and active mode for comparison): listings and byte-exact downloads
// of awkward sizes and of a few MB, one session for all of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "platform/stream.h"
#include "support/test_util.h"
#include "support/vsftpd.h"

namespace ftp_test {
namespace {

using test_support::RandomBytes;

struct ModeCase {
  const char* name;
  bool passive;
  bool extended;
};

TEST(VsftpdInteropTest, DownloadsByteForByteInEachMode) {
  const std::vector<size_t> sizes = {0, 1, 8191, 8192, 8193, 5 * 1024 * 1024 + 3};
  test_support::TempDir root;
  for (const size_t size : sizes) {
    test_support::WriteFile(root.File("s" + std::to_string(size) + ".bin"), RandomBytes(size, static_cast<uint32_t>(size)));
  }
  test_support::Vsftpd server({.root = root.Path(), .address = "127.0.16.2"});

  for (const ModeCase& mode : {ModeCase{"EPSV", true, true}, ModeCase{"PASV", true, false},
                               ModeCase{"active", false, false}}) {
    SCOPED_TRACE(mode.name);
    ftp::TIdFTP client;
    client.Host = server.Address();
    client.Port = server.Port();
    client.Username = "anonymous";
    client.Password = "test@";
    client.Passive = mode.passive;
    client.ExtendedPassive = mode.extended;
    client.RecvBufferSize = 8192;
    client.IdleLimit = 30000;
    client.Connect(true, -1);

    std::vector<std::string> names;
    client.ListFolder(&names, "", false);
    EXPECT_EQ(names.size(), sizes.size());
    for (const size_t size : sizes) {
      SCOPED_TRACE(size);
      platform::MemoryStream received;
      client.Download("s" + std::to_string(size) + ".bin", received);
      EXPECT_TRUE(received.Data() == RandomBytes(size, static_cast<uint32_t>(size)))
          << "got " << received.Data().size() << " bytes";
    }
    EXPECT_FALSE(client.ExtendedPassiveRefused());
    client.SignOff();
  }
}

}  // namespace
}  // namespace ftp_test
