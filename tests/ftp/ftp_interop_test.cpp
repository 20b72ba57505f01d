// The FTP client against a real server, pyftpdlib on loopback, in active
// mode and in passive mode by PASV and by EPSV: login, folders, listings,
// downloads of awkward sizes and of tens of MB, SIZE, resume, abort and GBK
// names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "support/pyftpd.h"
#include "support/test_util.h"

namespace ftp_test {
namespace {

using ftp::TIdFTP;

using test_support::RandomBytes;

constexpr size_t kBigSize = 24 * 1024 * 1024 + 17;

enum class Mode { kActive, kPassive, kExtendedPassive };

class FtpInteropTest : public testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    for (const size_t size : {0, 1, 8191, 8192, 8193}) {
      test_support::WriteFile(root_.File("s" + std::to_string(size) + ".bin"), RandomBytes(size, size));
    }
    big_ = RandomBytes(kBigSize, 7);
    test_support::WriteFile(root_.File("big.bin"), big_);
    ASSERT_EQ(mkdir(root_.File("sub").c_str(), 0755), 0);
    test_support::WriteFile(root_.File("sub/inner.txt"), "inner\r\n");
    // The server's disk holds the name in GBK bytes, as on the real server.
    gbk_name_ = gbk("更新说明.txt");
    test_support::WriteFile(root_.File(gbk_name_), gbk("版本 2.1 的说明\r\n"));

    server_ = std::make_unique<test_support::PyFtpd>(test_support::PyFtpdOptions{.root = root_.Path()});
    client_.Host = server_->Address();
    client_.Port = server_->Port();
    client_.Username = server_->User();
    client_.Password = server_->Password();
    client_.Passive = GetParam() != Mode::kActive;
    client_.ExtendedPassive = GetParam() == Mode::kExtendedPassive;
    client_.RecvBufferSize = 8192;
    client_.SendBufferSize = 4096;
    client_.IdleLimit = 30000;
    client_.Connect(true, -1);
  }

  void TearDown() override {
    if (client_.Connected()) client_.SignOff();
  }

  // Downloads remote into a fresh local file and gives its bytes.
  std::string Fetch(const std::string& remote) {
    const std::string local = local_.File("copy");
    platform::DeleteFile(local);
    client_.Download(remote, local, true, false);
    return test_support::ReadFile(platform::ResolvePath(local));
  }

  const ftp::TIdFTPListItem* Entry(const std::string& name) {
    ftp::TIdFTPListItems& listing = client_.ParsedListing();
    for (int i = 0; i < listing.Count(); ++i) {
      if (listing.Items(i).EntryName == name) return &listing.Items(i);
    }
    return nullptr;
  }

  test_support::TempDir root_;
  test_support::TempDir local_;
  std::string big_;
  std::string gbk_name_;
  std::unique_ptr<test_support::PyFtpd> server_;
  TIdFTP client_;
};

TEST_P(FtpInteropTest, ListsAndDownloadsByteForByte) {
  EXPECT_EQ(client_.LoginReply().NumericCode(), 230);
  EXPECT_FALSE(client_.SystemDescription().empty());
  client_.ChangeFolder("/");
  std::vector<std::string> lines;
  client_.ListFolder(&lines, "", true);
  EXPECT_EQ(lines.size(), 8u);
  const ftp::TIdFTPListItem* sub = Entry("sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->EntryKind, ftp::litDirectory);
  for (const size_t size : {0, 1, 8191, 8192, 8193}) {
    SCOPED_TRACE(size);
    const std::string name = "s" + std::to_string(size) + ".bin";
    const ftp::TIdFTPListItem* entry = Entry(name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->EntryKind, ftp::litFile);
    EXPECT_EQ(entry->EntrySize, static_cast<int64_t>(size));
    EXPECT_EQ(client_.QuerySize(name), static_cast<int32_t>(size));
    EXPECT_EQ(Fetch(name), RandomBytes(size, static_cast<uint32_t>(size)));
  }
  EXPECT_EQ(client_.QuerySize("big.bin"), static_cast<int32_t>(kBigSize));
  EXPECT_EQ(client_.QuerySize("missing.bin"), -1);
  EXPECT_TRUE(Fetch("big.bin") == big_);
  // pyftpdlib knows EPSV: no fall back to PASV.
  EXPECT_FALSE(client_.ExtendedPassiveRefused());

  client_.ChangeFolder("sub");
  client_.ListFolder(nullptr);
  ASSERT_EQ(client_.ParsedListing().Count(), 1);
  EXPECT_EQ(client_.ParsedListing().Items(0).EntryName, "inner.txt");
  EXPECT_EQ(Fetch("inner.txt"), "inner\r\n");
  EXPECT_THROW(client_.ChangeFolder("/no-such-folder"), ftp::EIdProtocolReplyError);
  EXPECT_THROW(Fetch("no-such-file"), ftp::EIdProtocolReplyError);
  EXPECT_TRUE(client_.Connected());
}

TEST_P(FtpInteropTest, AGbkNameIsListedAndFetchedByteExact) {
  client_.ListFolder(nullptr);
  const ftp::TIdFTPListItem* entry = Entry(gbk_name_);
  ASSERT_NE(entry, nullptr);
  const std::string local = local_.File(gbk_name_);
  client_.Download(gbk_name_, local, false, false);
  EXPECT_EQ(test_support::ReadFile(platform::ResolvePath(local)), gbk("版本 2.1 的说明\r\n"));
  EXPECT_EQ(entry->EntrySize, static_cast<int64_t>(gbk("版本 2.1 的说明\r\n").size()));
}

TEST_P(FtpInteropTest, ResumesWithRest) {
  const std::string local = local_.File("big.bin");
  test_support::WriteFile(local, big_.substr(0, 3000000));
  client_.Download("big.bin", local, false, true);
  EXPECT_TRUE(client_.RestartSupported());
  EXPECT_TRUE(test_support::ReadFile(local) == big_);
  // An existing file that may be neither appended to nor replaced.
  EXPECT_THROW(client_.Download("big.bin", local, false, false), ftp::EIdFTPFileAlreadyExists);
}

TEST_P(FtpInteropTest, AnAbortFromTheWorkHandlerEndsTheTransferAndKeepsTheSession) {
  bool aborted = false;
  client_.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) {
    if (!aborted && count >= 1024 * 1024) {
      aborted = true;
      client_.AbortTransfer();
    }
  };
  const std::string local = local_.File("partial.bin");
  client_.Download("big.bin", local, true, false);
  EXPECT_TRUE(aborted);
  const std::string partial = test_support::ReadFile(local);
  EXPECT_GE(partial.size(), 1024u * 1024u);
  EXPECT_LT(partial.size(), big_.size());
  EXPECT_TRUE(partial == big_.substr(0, partial.size()));
  EXPECT_EQ(client_.DataConnection(), nullptr);
  // Whichever replies the server gave for the abort, the session goes on.
  client_.OnWork = nullptr;
  EXPECT_NO_THROW(client_.SendRawCommand("NOOP"));
  EXPECT_TRUE(client_.Connected());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpInteropTest, testing::Values(Mode::kActive, Mode::kPassive, Mode::kExtendedPassive),
                         [](const testing::TestParamInfo<Mode>& info) {
                           switch (info.param) {
                             case Mode::kActive: return "Active";
                             case Mode::kPassive: return "Passive";
                             case Mode::kExtendedPassive: return "ExtendedPassive";
                           }
                           return "";
                         });

}  // namespace
}  // namespace ftp_test
