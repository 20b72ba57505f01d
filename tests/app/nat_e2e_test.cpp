// The updater behind a router that masquerades, in network namespaces that
// the test builds (tests/support/nat_network.h): the window's logic runs in
// the client's namespace, pyftpdlib on port 21 in the server's. In active
// mode the server's connection back to the client never arrives, so the
// check ends with the failure message after its bounded wait and nothing
// is lost; in passive mode the whole update goes through.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/nat_network.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::UpdaterRun;
using test_support::NatNetwork;
using test_support::ReadFile;

// Short enough for the suite, long above any reply on these links: the wait
// the active mode ends with.
constexpr int32_t kIdleLimit = 8000;

// The product on the server's side and an old main program in the program
// folder, with the keys given.
void Prepare(UpdaterRun& run, const NatNetwork& nat, const std::string& keys) {
  run.product.Standard();
  run.server = std::make_unique<test_support::PyFtpd>(test_support::PyFtpdOptions{
      .root = run.base.File("server"), .address = NatNetwork::kServerAddress, .port = 21, .user = "tarnivelo",
      .password = "qmzwkt", .network_namespace = nat.Server(), .permit_foreign = true});
  run.WriteSettings(NatNetwork::kServerAddress, 5, keys);
  test_support::WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));
  test_support::WriteFile(run.Local("release.marker"), "");
}

// Window creation and its check, from the client's namespace.
void CreateBehindTheRouter(UpdaterRun& run, const NatNetwork& nat) {
  test_support::InNetworkNamespace inside(nat.Client());
  run.form = std::make_unique<app::TForm1>(run.window, run.Program() + "/");
  run.form->FTPClient.IdleLimit = kIdleLimit;
  run.window.SetEvents(run.form.get());
  run.form->RunGuarded([&] { run.form->FormCreate(); });
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    names.push_back(entry.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(NatEndToEnd, ActiveModeEndsWithTheFailureMessageAndLosesNothing) {
  NatNetwork nat;
  UpdaterRun run;
  Prepare(run, nat, "");
  const std::string settings = ReadFile(run.Local("updateset.inf"));

  CreateBehindTheRouter(run, nat);
  EXPECT_EQ(run.Message(), "不能连接服务器，检测升级文件失败!");
  // The login went through the router; the first data connection did not.
  EXPECT_EQ(platform::GbkToUtf8(run.window.StatusPanel(0)), "连接服务器成功");
  EXPECT_TRUE(run.window.IsEnabled(Control::Button1));
  EXPECT_FALSE(run.window.IsEnabled(Control::Button2));
  EXPECT_EQ(run.window.RowCount(), 0);
  EXPECT_TRUE(run.window.Boxes().empty());
  EXPECT_EQ(ReadFile(run.Local("updateset.inf")), settings);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("old"));
  EXPECT_EQ(Entries(run.Program()),
            (std::vector<std::string>{"Oxbar_tn.exe", "Update", "Update/nowlog", "release.marker", "updateset.inf"}));
}

TEST(NatEndToEnd, PassiveModeCompletesTheWholeUpdate) {
  NatNetwork nat;
  UpdaterRun run;
  Prepare(run, nat, "passive=1\r\n");

  CreateBehindTheRouter(run, nat);
  ASSERT_EQ(run.Message(), "分析升级文件...") << "the check did not end with rows";
  EXPECT_EQ(run.window.Text(Control::Label10), "10");
  ASSERT_EQ(run.window.RowCount(), 6);
  {
    test_support::InNetworkNamespace inside(nat.Client());
    EXPECT_TRUE(run.window.Press(Control::Button2));
  }
  EXPECT_EQ(run.Column(FileColumn::Status), std::vector<std::string>(6, "完成"));
  EXPECT_EQ(run.Message(), "就绪...");
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")), "abc library v10");
  EXPECT_EQ(ReadFile(run.Local("Update/Report/月报.txt")), platform::Utf8ToGbk("月报 v10"));
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_EQ(run.SettingsInteger("client_version"), 10);
  EXPECT_TRUE(run.window.IsClosed());
}

}  // namespace
