#include "ftp/ftp_client.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "ftp/simple_server.h"
#include "net/io_handler.h"
#include "net/take_token.h"
#include "net/tls_context.h"
#include "net/tls_errors.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/stream.h"
#include "settings/integer_conversion.h"

namespace ftp {
namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

// A memory stream that refuses to grow past a limit, so a server cannot
// make a listing eat the machine's memory.
class BoundedMemoryStream : public platform::MemoryStream {
 public:
  explicit BoundedMemoryStream(int64_t limit) : limit_(limit) {}
  void Write(const void* buffer, size_t count) override {
    if (Position() + static_cast<int64_t>(count) > limit_) throw EIdFTPListingTooLong();
    MemoryStream::Write(buffer, count);
  }
  void SetSize(int64_t size) override {
    if (size > limit_) throw EIdFTPListingTooLong();
    MemoryStream::SetSize(size);
  }

 private:
  int64_t limit_;
};

// Lines end at CR, LF or CR LF; a last line without an ending counts; a NUL
// byte ends the text.
std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  const size_t end = std::min(data.size(), data.find('\0'));
  size_t start = 0;
  size_t i = 0;
  while (i < end) {
    const char c = data[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(data, start, i - start);
      ++i;
      if (c == '\r' && i < end && data[i] == '\n') ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < end) lines.emplace_back(data, start, end - start);
  return lines;
}

net::TIdIOHandlerSocket* SocketHandlerOf(net::TIdTCPConnection& connection) {
  return dynamic_cast<net::TIdIOHandlerSocket*>(connection.IOHandler());
}

// The receive window a data connection starts with: a file arrives in small
// blocks, and the system's initial window would hold a fast transfer back.
constexpr int32_t kDataReceiveWindow = 4 * 1024 * 1024;

void WidenReceiveWindow(net::TIdTCPConnection& data) {
  net::TIdIOHandlerSocket* handler = SocketHandlerOf(data);
  if (handler != nullptr && handler->SocketBinding() != nullptr) {
    handler->SocketBinding()->WidenReceiveWindow(kDataReceiveWindow);
  }
}

}  // namespace

TIdFTP::TIdFTP() { StorePort(21); }

TIdFTP::~TIdFTP() = default;

// ---- replies ----

int16_t TIdFTP::SendCommand(const std::string& line, const std::vector<int16_t>& allowed) {
  WriteLine(line);
  return GetReply(allowed);
}

int16_t TIdFTP::SendCommand(const std::string& line, int16_t code) {
  if (code == -1) return SendCommand(line, std::vector<int16_t>{});
  return SendCommand(line, std::vector<int16_t>{code});
}

int16_t TIdFTP::GetReply(const std::vector<int16_t>& allowed) {
  ReadReply();
  return CheckReply(static_cast<int16_t>(last_reply_.NumericCode()), allowed);
}

int16_t TIdFTP::CheckReply(int16_t code, const std::vector<int16_t>& allowed) {
  if (allowed.empty() || std::find(allowed.begin(), allowed.end(), code) != allowed.end()) return code;
  RaiseReplyError();
  return code;
}

void TIdFTP::RaiseReplyError() { throw EIdProtocolReplyError(last_reply_); }

void TIdFTP::ReadReply() {
  ftp::ReadReply([this] { return ReadNonEmptyLine(2147483647); }, last_reply_);
}

void TIdFTP::Connect(int32_t timeout) { OpenControlConnection(timeout); }

void TIdFTP::OpenControlConnection(int32_t timeout) {
  // A new session: its server may know EPSV though the last one did not.
  connected_host_ = Host;
  extended_passive_refused_ = false;
  TIdTCPClient::Connect(timeout);
}

int32_t TIdFTP::FillInputBuffer(bool raise_if_disconnected, int32_t timeout, bool raise_on_timeout) {
  if (timeout == net::TimeoutDefault && ReadTimeout == 0 && IdleLimit > 0) timeout = IdleLimit;
  return TIdTCPClient::FillInputBuffer(raise_if_disconnected, timeout, raise_on_timeout);
}

// ---- session ----

void TIdFTP::Connect(bool auto_login, int32_t timeout) {
  const std::string host = Host;
  const int32_t port = Port;
  tls_context_.reset();
  try {
    if (proxy_settings_.ProxyType != fpcmNone && !proxy_settings_.Host.empty()) {
      StoreHost(proxy_settings_.Host);
      StorePort(proxy_settings_.Port);
    }
    try {
      OpenControlConnection(timeout);
    } catch (...) {
      StoreHost(host);
      StorePort(port);
      throw;
    }
    StoreHost(host);
    StorePort(port);
    GetReply({220});
    server_greeting_.CopyValuesFrom(last_reply_);
    if (UseTLS) SecureControlConnection();
    if (auto_login) {
      LogOn();
      if (OnAfterClientLogin) OnAfterClientLogin(this);
      SendTypeCommand();
      if (SendCommand("SYST", {200, 215, 500}) == 500) {
        system_description_ = "Unknown";
      } else {
        system_description_ = last_reply_.Text().empty() ? std::string() : last_reply_.Text().front();
      }
      ReportStatus(net::ftpReady, "Connection established");
    }
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TIdFTP::ServerLogin() {
  if (SendCommand("USER " + Username, {230, 331}) == 331) SendCommand("PASS " + Password, 230);
}

void TIdFTP::ProxyLogin() {
  if (proxy_settings_.UserName.empty()) return;
  if (SendCommand("USER " + proxy_settings_.UserName, {230, 331}) == 331) {
    SendCommand("PASS " + proxy_settings_.Password, 230);
  }
}

void TIdFTP::LogOn() {
  switch (proxy_settings_.ProxyType) {
    case fpcmNone:
      ServerLogin();
      break;
    case fpcmUserSite:
      ProxyLogin();
      if (SendCommand("USER " + Username + "@" + Host, {230, 331}) == 331) SendCommand("PASS " + Password, 230);
      break;
    case fpcmSite:
      ProxyLogin();
      SendCommand("SITE " + Host);
      ServerLogin();
      break;
    case fpcmOpen:
      ProxyLogin();
      SendCommand("OPEN " + Host);
      ServerLogin();
      break;
    case fpcmUserPass:
      if (SendCommand("USER " + Username + "@" + proxy_settings_.UserName + "@" + Host, {230, 331}) == 331) {
        if (!proxy_settings_.Password.empty()) {
          SendCommand("PASS " + Password + "@" + proxy_settings_.Password, 230);
        } else {
          SendCommand("PASS " + Password, 230);
        }
      }
      break;
    case fpcmTransparent:
      ProxyLogin();
      ServerLogin();
      break;
    case fpcmHttpProxyWithFtp:
      throw net::EIdException("Command not supported.");
  }
  login_reply_.CopyValuesFrom(last_reply_);
  if (tls_context_) ProtectDataConnections();
}

int32_t TIdFTP::HandshakeTimeout() const {
  if (ReadTimeout > 0) return ReadTimeout;
  return IdleLimit > 0 ? IdleLimit : net::TimeoutInfinite;
}

std::string TIdFTP::RefusalOf(const std::string& what) {
  const std::vector<std::string>& text = last_reply_.Text();
  return "The server refused " + what + ": " + std::to_string(last_reply_.NumericCode()) +
         (text.empty() ? std::string() : " " + text.front());
}

void TIdFTP::SecureControlConnection() {
  net::TIdTLSOptions options = TLSOptions;
  if (options.VerifyHost.empty()) options.VerifyHost = Host;
  // Settings that cannot be used end the session before anything is sent.
  auto context = std::make_shared<net::TIdTLSContext>(options);
  if (SendCommand("AUTH TLS") != 234) {
    throw net::EIdTLSError(net::tlsRefused, RefusalOf("AUTH TLS"));
  }
  // Bytes after the 234 came in clear but would be read as if encrypted.
  if (ReceivedData().Size() > 0) {
    throw net::EIdTLSError(net::tlsHandshake, "TLS handshake failed: the server sent more after accepting AUTH TLS.");
  }
  net::TIdIOHandlerSocket* handler = SocketHandlerOf(*this);
  if (handler == nullptr) throw net::EIdTLSError(net::tlsSettings, "TLS needs a socket connection.");
  handler->StartTLS(context, HandshakeTimeout());
  tls_context_ = std::move(context);
}

void TIdFTP::ProtectDataConnections() {
  for (const char* command : {"PBSZ 0", "PROT P"}) {
    if (SendCommand(command) != 200) {
      throw net::EIdTLSError(net::tlsRefused, RefusalOf(command));
    }
  }
}

void TIdFTP::SecureDataConnection(net::TIdTCPConnection& connection) {
  if (!tls_context_) return;
  net::TIdIOHandlerSocket* handler = SocketHandlerOf(connection);
  if (handler == nullptr) throw net::EIdTLSError(net::tlsSettings, "TLS needs a socket connection.");
  handler->StartTLS(tls_context_, HandshakeTimeout());
}

void TIdFTP::ChangeFolder(const std::string& directory) { SendCommand("CWD " + directory, {200, 250}); }

int32_t TIdFTP::QuerySize(const std::string& file_name) {
  if (SendCommand("SIZE " + file_name) != 213) return -1;
  std::string text;
  for (const std::string& line : last_reply_.Text()) text += line + "\r\n";
  text = Trim(text);
  const size_t blank = text.find(' ');
  if (blank != std::string::npos) text.erase(0, blank + 1);
  // A size is decimal: the hexadecimal marks of the shared integer rule do
  // not count here.
  if (text.find_first_of("$xX") != std::string::npos) return -1;
  int32_t size = -1;
  return settings::TryStrToInt32(text, size) ? size : -1;
}

int16_t TIdFTP::SendRawCommand(const std::string& line) { return SendCommand(line); }

void TIdFTP::SignOff() {
  // The session ends whatever happens to the QUIT line.
  try {
    if (Connected()) WriteLine("QUIT");
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
}

void TIdFTP::AbortTransfer() {
  try {
    if (Connected()) WriteLine("ABOR");
  } catch (...) {
    CloseDataConnection();
    throw;
  }
  CloseDataConnection();
}

// ---- transfers ----

void TIdFTP::SendTypeCommand() { SendCommand(transfer_type_ == ftASCII ? "TYPE A" : "TYPE I", 200); }

void TIdFTP::SetTransferType(TIdFTPTransferType value) {
  if (data_connection_ || value == transfer_type_) return;
  transfer_type_ = value;
  if (Connected()) SendTypeCommand();
}

bool TIdFTP::ProbeRestart() {
  if (restart_tested_) return restart_supported_;
  restart_tested_ = true;
  restart_supported_ = SendRawCommand("REST 1") == 350;
  SendRawCommand("REST 0");
  return restart_supported_;
}

void TIdFTP::PrepareDataConnection(net::TIdTCPConnection& connection) const {
  connection.SendBufferSize = SendBufferSize;
  connection.RecvBufferSize = RecvBufferSize;
  connection.OnWork = OnWork;
  connection.OnWorkBegin = OnWorkBegin;
  connection.OnWorkEnd = OnWorkEnd;
  // A data connection's reads would otherwise wait without limit.
  connection.ReadTimeout = IdleLimit > 0 ? IdleLimit : 0;
}

void TIdFTP::RequestPassive(std::string& address, int32_t& port) {
  SendCommand("PASV", 227);
  std::string line = Trim(last_reply_.Text().empty() ? std::string() : last_reply_.Text().front());
  const size_t open = line.find('(');
  const size_t close = line.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    line = close > open ? line.substr(open + 1, close - open - 1) : std::string();
  } else {
    const size_t blank = line.rfind(' ');
    if (blank != std::string::npos) line.erase(0, blank + 1);
  }
  address.clear();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) address += '.';
    address += net::TakeToken(line, ",");
  }
  const int32_t high = settings::StrToInt32(net::TakeToken(line, ","));
  const int32_t low = settings::StrToInt32(net::TakeToken(line, ","));
  // Worked out in 64 bits: a hostile reply's fields may be any 32-bit
  // numbers. A value that is no port at all becomes -1, which the transport
  // refuses as an invalid argument.
  const int64_t value = static_cast<int64_t>(high) * 256 + low;
  port = value >= 0 && value <= 65535 ? static_cast<int32_t>(value) : -1;
}

bool TIdFTP::RequestExtendedPassive(int32_t& port) {
  // 500 and 502 say that the server does not know the command; anything
  // else is a refusal that PASV would not mend.
  if (SendCommand("EPSV", {229, 500, 502}) != 229) {
    extended_passive_refused_ = true;
    return false;
  }
  port = ExtendedPassivePort(last_reply_.Text().empty() ? std::string() : last_reply_.Text().front());
  if (port <= 0) throw EIdFTPBadExtendedPassiveReply();
  return true;
}

int32_t TIdFTP::ExtendedPassivePort(const std::string& text) {
  const size_t open = text.find('(');
  if (open == std::string::npos || text.size() - open < 6) return -1;
  const char delimiter = text[open + 1];
  if (delimiter < '!' || delimiter > '~' || (delimiter >= '0' && delimiter <= '9')) return -1;
  // No network protocol and no address: the data connection goes to the
  // control connection's server.
  if (text[open + 2] != delimiter || text[open + 3] != delimiter) return -1;
  size_t at = open + 4;
  int32_t port = 0;
  size_t digits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (++digits > 5) return -1;
    port = port * 10 + (text[at] - '0');
  }
  if (digits == 0 || at + 1 >= text.size() || text[at] != delimiter || text[at + 1] != ')') return -1;
  return port >= 1 && port <= 65535 ? port : -1;
}

int32_t TIdFTP::RequestDataPort() {
  int32_t port = -1;
  if (ExtendedPassive && !extended_passive_refused_ && RequestExtendedPassive(port)) return port;
  // The address that PASV names is not used (see AimPassiveConnection).
  std::string named_address;
  RequestPassive(named_address, port);
  return port;
}

void TIdFTP::AimPassiveConnection(net::TIdTCPClient& data, int32_t port) {
  data.Port = port;
  net::TIdIOHandlerSocket* control = ControlHandler();
  if (control != nullptr && control->SocksInfo().Version != net::svNoSocks) {
    // Through the proxy to the host the control connection asked it for:
    // the client itself may be unable to reach the server, or to resolve
    // its name.
    auto handler = std::make_unique<net::TIdIOHandlerSocket>();
    handler->SocksInfo().CopyValuesFrom(control->SocksInfo());
    handler->SocksInfo().ReplyTimeout = control->SocksInfo().ReplyTimeout;
    data.SetIOHandler(std::move(handler));
    data.Host = connected_host_;
    return;
  }
  // Data goes only to the server we talk to, whatever address the reply
  // names: a named host could be anyone's.
  data.Host = ControlPeerAddress();
  if (data.Host.empty()) throw EIdFTPNoDataAddress();
}

void TIdFTP::AnnouncePort(const net::TIdSocketHandle& binding) {
  std::string address = binding.IP;
  std::replace(address.begin(), address.end(), '.', ',');
  SendCommand("PORT " + address + "," + std::to_string(binding.Port / 256) + "," + std::to_string(binding.Port % 256),
              200);
}

net::TIdIOHandlerSocket* TIdFTP::ControlHandler() {
  net::TIdIOHandlerSocket* handler = SocketHandlerOf(*this);
  return handler != nullptr && handler->SocketBinding() != nullptr ? handler : nullptr;
}

std::string TIdFTP::ControlPeerAddress() {
  net::TIdIOHandlerSocket* handler = ControlHandler();
  if (handler == nullptr) return std::string();
  // Through SOCKS the socket's peer is the proxy; the server is the host the
  // proxy was asked for. A name that only the proxy can resolve leaves no
  // address to hold the data connection to.
  if (handler->SocksInfo().Version != net::svNoSocks) {
    try {
      return Stack().LookupHost(connected_host_);
    } catch (const net::EIdException&) {
      return std::string();
    }
  }
  return handler->SocketBinding()->RemoteIP();
}

std::string TIdFTP::ControlLocalAddress() {
  net::TIdIOHandlerSocket* handler = ControlHandler();
  return handler == nullptr ? std::string() : handler->SocketBinding()->IP;
}

void TIdFTP::TransferData(const std::string& command, platform::Stream& destination, bool restart) {
  // A handler run inside a transfer (a button pressed while a download
  // waits) must not start a second one over the data connection in use.
  if (data_connection_) throw EIdFTPTransferInProgress();
  ReportStatus(net::ftpTransfer, "Starting FTP transfer");
  const std::vector<int16_t> started{125, 150, 154};
  bool accepted = false;  // the server has answered the command with 1xx
  try {
    if (Passive) {
      const int32_t port = RequestDataPort();
      auto client = std::make_unique<net::TIdTCPClient>();
      net::TIdTCPClient& data = *client;
      PrepareDataConnection(data);
      AimPassiveConnection(data, port);
      data_connection_ = std::move(client);
      try {
        data.Connect(net::TimeoutDefault);
        WidenReceiveWindow(data);
        if (restart) SendCommand("REST " + std::to_string(destination.Position()), 350);
        SendCommand(command, started);
        accepted = true;
        SecureDataConnection(data);
        data.ReadIntoStream(destination, -1, true);
      } catch (...) {
        data.Disconnect();
        throw;
      }
      data.Disconnect();
    } else {
      auto server = std::make_unique<TIdSimpleServer>();
      TIdSimpleServer& data = *server;
      PrepareDataConnection(data);
      data.BoundIP = ControlLocalAddress();
      data.AcceptPollTime = TIdSimpleServer::kDefaultAcceptPollTime;
      data.AcceptTimeout = IdleLimit > 0 ? IdleLimit : 0;
      data.AllowedPeerIP = ControlPeerAddress();
      data_connection_ = std::move(server);
      data.StartListening();
      AnnouncePort(*data.SocketBinding());
      if (restart) SendCommand("REST " + std::to_string(destination.Position()), 350);
      SendCommand(command, started);
      accepted = true;
      data.WaitForConnection();
      WidenReceiveWindow(data);
      SecureDataConnection(data);
      data.ReadIntoStream(destination, -1, true);
    }
  } catch (...) {
    data_connection_.reset();
    ReportStatus(net::ftpReady, "Transfer complete");
    if (accepted) SkipClosingReply();
    throw;
  }
  data_connection_.reset();
  ReportStatus(net::ftpReady, "Transfer complete");
  const int16_t code = GetReply({225, 226, 250, 426, 450});
  if (code == 426 || code == 450) {
    GetReply({226, 225});
    ReportStatus(net::ftpAborted, "Transfer aborted");
  }
}

void TIdFTP::SkipClosingReply() {
  const bool bounded = ReadTimeout > 0 || (ReadTimeout == 0 && IdleLimit > 0);
  if (!bounded) return;
  try {
    if (Connected()) ReadReply();
  } catch (...) {
    // The transfer's own error is the one to report.
  }
}

void TIdFTP::NotifyAfterGet(platform::Stream& stream) {
  if (OnAfterGet) OnAfterGet(this, stream);
}

void TIdFTP::CloseDataConnection() {
  if (data_connection_) data_connection_->DropConnection();
}

void TIdFTP::Download(const std::string& remote_name, platform::Stream& destination, bool restart) {
  const bool resume = restart && ProbeRestart();
  TransferData("RETR " + remote_name, destination, resume);
  NotifyAfterGet(destination);
}

void TIdFTP::Download(const std::string& remote_name, const std::string& local_name, bool can_overwrite,
                      bool restart) {
  std::unique_ptr<platform::FileStream> file;
  if (platform::FileExists(local_name)) {
    restart = restart && ProbeRestart();
    if (can_overwrite && !restart) {
      file = std::make_unique<platform::FileStream>(local_name, platform::FileMode::fmCreate);
    } else if (!can_overwrite && restart) {
      file = std::make_unique<platform::FileStream>(local_name, platform::FileMode::fmOpenReadWrite);
      file->Seek(file->Size());
    } else {
      throw EIdFTPFileAlreadyExists();
    }
  } else {
    file = std::make_unique<platform::FileStream>(local_name, platform::FileMode::fmCreate);
  }
  Download(remote_name, *file, restart);
}

void TIdFTP::ListFolder(std::vector<std::string>* destination, const std::string& specifier, bool details) {
  BoundedMemoryStream received(MaxListingBytes);
  TransferData(Trim((details ? "LIST " : "NLST ") + specifier), received, false);
  parsed_listing_.reset();
  std::vector<std::string> lines = SplitLines(received.Data());
  if (destination != nullptr) *destination = lines;
  raw_listing_ = std::move(lines);
}

void TIdFTP::MakeListing() {
  std::unique_ptr<TIdFTPListItems> listing;
  if (OnCreateFTPList) OnCreateFTPList(this, listing);
  if (!listing) listing = std::make_unique<TIdFTPListItems>();
  parsed_listing_ = std::move(listing);
}

TIdFTPListItems& TIdFTP::ParsedListing() {
  if (parsed_listing_) return *parsed_listing_;
  MakeListing();
  TIdFTPListItems& listing = *parsed_listing_;
  if (!raw_listing_.empty()) {
    listing.DetectedFormat = listing.DetectFormat(raw_listing_.front(), true);
    TIdFTPListFormat format = listing.DetectedFormat;
    if (OnCheckListFormat) OnCheckListFormat(this, raw_listing_.front(), format);
    listing.DetectedFormat = format;
    listing.ParseListing(raw_listing_);
  }
  return listing;
}

}  // namespace ftp
