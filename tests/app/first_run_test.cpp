// The first run without updateset.inf uses the built-in defaults, host
// 127.0.0.1 among them. So that no other test's use of 127.0.0.1 can meet
// this server, the run happens in a child process inside a network
// namespace of its own, whose loopback holds only this server.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::UpdaterRun;

constexpr int kNoNamespace = 77;

bool LoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

void FirstRunWithTheDefaults() {
  UpdaterRun run;
  run.product.Standard();
  run.StartServer("127.0.0.1");
  run.Create();

  EXPECT_EQ(run.form->UpdateHost, "127.0.0.1");
  EXPECT_EQ(run.form->FTPClient.Username, "tarnivelo");
  EXPECT_EQ(run.form->FTPClient.Password, "qmzwkt");
  EXPECT_EQ(run.window.Text(Control::Edit2), "ftp://127.0.0.1");
  EXPECT_EQ(run.window.Text(Control::Label8), "1");
  EXPECT_EQ(run.window.Text(Control::Label10), "10");
  EXPECT_EQ(run.window.Text(Control::CurrentDirEdit), "/qt482/");
  EXPECT_EQ(platform::GbkToUtf8(run.window.StatusPanel(0)), "连接服务器成功");
  // Against local version 1 every descriptor is new.
  EXPECT_EQ(run.Column(FileColumn::Name),
            (std::vector<std::string>{"old3.txt", "old5.txt", "Oxbar_tn.exe", "Bin\\abc.dll", "Report/月报.txt",
                                      "update.sql", "Bin\\核心.dll", "说明.txt"}));
  EXPECT_FALSE(e2e::IsFile(run.Local("updateset.inf"))) << "the check does not create the settings file";

  EXPECT_TRUE(run.window.Press(Control::Button3));
  EXPECT_TRUE(run.window.IsClosed());
  EXPECT_EQ(test_support::ReadFile(run.Local("updateset.inf")), "[kvdatacont]\r\nupdate=127.0.0.1\r\n");
}

TEST(FirstRun, WithoutASettingsFileTheDefaultsReachTheServer) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) _exit(kNoNamespace);
    FirstRunWithTheDefaults();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no network namespace can be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's failures are printed above";
}

}  // namespace
