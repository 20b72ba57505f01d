// The updater over FTP with TLS: the settings keys, the whole update through
// the headless window against vsftpd (TLS required on control and data
// connections, session reuse required), and the status line of a check whose
// secure connection failed. Each server runs on port 21 of a loopback
// address of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/tls_settings.h"
#include "e2e_support.h"
#include "support/test_certificates.h"
#include "support/vsftpd.h"

namespace {

using e2e::Control;
using e2e::FileColumn;
using e2e::IsFile;
using e2e::UpdaterRun;
using test_support::ReadFile;
using test_support::WaitUntil;
using test_support::WriteFile;

using Names = std::vector<std::string>;

TEST(TlsSettings, KeysTurnTlsOnAndNeverOffWhenACheckWasAskedFor) {
  test_support::TempDir dir;
  const struct {
    const char* lines;
    bool tls;
    const char* fingerprint;
    const char* ca_file;  // relative to the folder; "" none
  } cases[] = {
      {"", false, "", ""},
      {"tls=\r\n", false, "", ""},
      {"tls=0\r\n", false, "", ""},
      {"tls= Off \r\n", false, "", ""},
      {"tls=no\r\n", false, "", ""},
      {"tls=1\r\n", true, "", ""},
      {"tls=yes\r\n", true, "", ""},
      {"tls=2\r\n", true, "", ""},
      {"tls_fingerprint=AB:CD\r\n", true, "AB:CD", ""},
      {"tls=0\r\ntls_fingerprint=AB:CD\r\n", true, "AB:CD", ""},
      {"tls=0\r\ntls_ca_file=certs/ca.pem\r\n", true, "", "certs/ca.pem"},
      {"tls_ca_file=/etc/ssl/certs/ca-certificates.crt\r\n", true, "", "/etc/ssl/certs/ca-certificates.crt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    WriteFile(dir.File("updateset.inf"), test_support::SettingsFileText("127.0.0.1", 1, c.lines));
    settings::TIniFile file(dir.File("updateset.inf"));
    ftp::TIdFTP client;
    app::ReadTLSSettings(file, dir.Path() + "/", client);
    EXPECT_EQ(client.UseTLS, c.tls);
    EXPECT_EQ(client.TLSOptions.Fingerprint, c.fingerprint);
    const std::string ca = c.ca_file;
    EXPECT_EQ(client.TLSOptions.CAFile, ca.empty() || ca[0] == '/' ? ca : dir.File(ca));
    EXPECT_EQ(client.TLSOptions.VerifyHost, "") << "the client checks against its Host";
  }
}

TEST(TlsUpdate, ChecksDownloadsAndAppliesThroughVsftpdWithTlsRequired) {
  UpdaterRun run;
  run.product.Standard();
  test_support::TempDir certs;
  test_support::TestCA ca(certs.Path());
  const auto cert = ca.Issue("server", {.ip_addresses = {"127.0.0.46"}});
  test_support::Vsftpd server({.root = run.base.File("server"), .address = "127.0.0.46", .port = 21,
                               .cert_file = cert.cert_file, .key_file = cert.key_file});
  run.WriteSettings("127.0.0.46", 5, "ftpuser=anonymous\r\ntls=1\r\ntls_ca_file=" + ca.CertFile() + "\r\n");
  WriteFile(run.Local("Oxbar_tn.exe"), test_support::MainProgramScript("old"));

  run.Create();
  const auto& window = run.window;
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_EQ(window.Text(Control::Label10), "10") << server.Log();
  EXPECT_EQ(platform::GbkToUtf8(window.StatusPanel(0)), "连接服务器成功");
  EXPECT_TRUE(e2e::IsFolder(run.Local("Update/资料")));
  EXPECT_EQ(run.Column(FileColumn::Name),
            (Names{"Oxbar_tn.exe", "Bin\\abc.dll", "Report/月报.txt", "update.sql", "Bin\\核心.dll", "说明.txt"}));

  EXPECT_TRUE(run.window.Press(Control::Button2));
  EXPECT_EQ(run.Column(FileColumn::Status), Names(6, "完成")) << server.Log();
  EXPECT_EQ(ReadFile(run.Local("Update/abc.dll")), "abc library v10");
  EXPECT_EQ(ReadFile(run.Local("Update/核心.dll")), ReadFile(run.product.Dir() + "/Bin/" + platform::Utf8ToGbk("核心.dll")));
  EXPECT_EQ(run.SettingsInteger("client_version"), 10);
  EXPECT_EQ(ReadFile(run.Local("Oxbar_tn.exe")), test_support::MainProgramScript("new"));
  EXPECT_TRUE(window.IsClosed());
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("started.marker")); }));
  WriteFile(run.Local("release.marker"), "");
  EXPECT_TRUE(WaitUntil([&] { return IsFile(run.Local("finished.marker")); }));
  // Data connections that did not resume the session would have been refused.
  EXPECT_EQ(server.Log().find("session reuse required"), std::string::npos);
}

TEST(TlsUpdate, AFailedSecureConnectionSaysWhyOnTheStatusLine) {
  test_support::TempDir certs;
  test_support::TestCA ca(certs.Path());
  const auto cert = ca.Issue("server", {.ip_addresses = {"127.0.0.47"}});
  const struct {
    const char* name;
    bool server_tls;
    std::string settings;
    const char* message;
  } cases[] = {
      {"server without TLS", false, "tls=1\r\n", "安全连接失败：服务器拒绝加密连接"},
      {"issuer not trusted (system roots)", true, "tls=1\r\n", "安全连接失败：服务器证书的签发者不受信任"},
      {"fingerprint of another certificate", true, "tls_fingerprint=" + std::string(64, 'A') + "\r\n",
       "安全连接失败：服务器证书的指纹不符"},
      {"plain FTP to a server that demands TLS keeps the usual text", true, "", "不能连接服务器，检测升级文件失败!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdaterRun run;
    run.product.Standard();
    test_support::PyFtpdOptions options{.root = run.base.File("server"), .address = "127.0.0.47", .port = 21,
                                        .user = "tarnivelo", .password = "qmzwkt"};
    if (c.server_tls) {
      options.tls_cert = cert.cert_file;
      options.tls_key = cert.key_file;
    }
    test_support::PyFtpd server(options);
    run.WriteSettings("127.0.0.47", 5, c.settings);
    run.Create();
    EXPECT_EQ(run.Message(), c.message);
    EXPECT_TRUE(run.window.IsEnabled(Control::Button1));
    EXPECT_FALSE(run.window.IsEnabled(Control::Button2));
    EXPECT_EQ(run.window.RowCount(), 0);
    EXPECT_FALSE(run.form->FTPClient.Connected());
    EXPECT_FALSE(IsFile(run.Local("version.ini")));
  }
}

}  // namespace
