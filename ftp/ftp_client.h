// The FTP client: one control connection to an FTP server (RFC 959) with
// blocking operations. Connect greets, logs in (directly or through an FTP
// proxy), sets the transfer type and asks for the system; transfers open one
// data connection each, passive (the client connects to the port the server
// names) or active (the client listens and names its address with PORT).
// A passive data connection always goes to the server at the other end of
// the control connection, whatever address a reply names, and through the
// control connection's SOCKS proxy when it has one.
//
// Every command line goes out with SendCommand (or WriteLine for QUIT and
// ABOR) and every reply is read with GetReply into LastReply; a reply code
// the caller does not allow raises EIdProtocolReplyError.
//
// No wait is unbounded: while ReadTimeout is 0 a reply, the second reply
// after 426 or 450, a data connection that stops delivering, and the accept
// of an active-mode data connection each end after IdleLimit milliseconds
// without a byte with EIdReadTimeout "Read Timeout".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_list.h"
#include "ftp/ftp_proxy_settings.h"
#include "ftp/rfc_reply.h"
#include "net/exceptions.h"
#include "net/tcp_client.h"
#include "net/tls_options.h"

namespace net {
class TIdTLSContext;
}
namespace platform {
class Stream;
}

namespace ftp {

enum TIdFTPTransferType { ftASCII, ftBinary };

class TIdFTP;

// May set VFTPList to a listing object of its own; the client owns it.
using TIdCreateFTPList = std::function<void(TIdFTP* ASender, std::unique_ptr<TIdFTPListItems>& VFTPList)>;
// May change the layout detected from the first line of a listing.
using TIdCheckListFormat =
    std::function<void(TIdFTP* ASender, const std::string& ALine, TIdFTPListFormat& VListFormat)>;
// Raised after each download with its destination.
using TIdFtpAfterGet = std::function<void(TIdFTP* ASender, platform::Stream& VStream)>;

// "Destination file already exists.": Download may not replace the file.
class EIdFTPFileAlreadyExists : public net::EIdException {
 public:
  EIdFTPFileAlreadyExists() : net::EIdException("Destination file already exists.") {}
};

// A listing larger than TIdFTP::MaxListingBytes; the listing is dropped.
class EIdFTPListingTooLong : public net::EIdException {
 public:
  EIdFTPListingTooLong() : net::EIdException("Directory listing too long.") {}
};

// A 229 reply to EPSV that names no usable port (RFC 2428: "(|||port|)").
class EIdFTPBadExtendedPassiveReply : public net::EIdException {
 public:
  EIdFTPBadExtendedPassiveReply() : net::EIdException("Invalid extended passive mode reply.") {}
};

// A passive data connection with no server address to go to: the control
// connection has no socket to tell it.
class EIdFTPNoDataAddress : public net::EIdException {
 public:
  EIdFTPNoDataAddress() : net::EIdException("No server address for the data connection.") {}
};

// A transfer started while another one runs on the same client (from an
// event handler inside it); nothing is sent.
class EIdFTPTransferInProgress : public net::EIdException {
 public:
  EIdFTPTransferInProgress() : net::EIdException("A transfer is already in progress.") {}
};

class TIdFTP : public net::TIdTCPClient {
 public:
  TIdFTP();
  ~TIdFTP() override;

  std::string Username;
  std::string Password;
  // Data connections: passive when true, active (PORT) when false.
  bool Passive = false;
  // Explicit TLS (RFC 4217): AUTH TLS right after the greeting, PBSZ 0 and
  // PROT P right after the login, and every data connection encrypted too,
  // resuming the control connection's session. A server that refuses any of
  // the three ends Connect with EIdTLSError (tlsRefused): nothing is sent in
  // clear after the greeting.
  bool UseTLS = false;
  // How the server's certificate is checked; an empty VerifyHost means Host.
  net::TIdTLSOptions TLSOptions;
  // Passive mode asks with EPSV first (RFC 2428) and falls back to PASV for
  // the rest of the session when the server does not know EPSV (500 or 502).
  // When false, passive mode sends PASV alone.
  bool ExtendedPassive = false;

  // The longest wait without a byte, in milliseconds, wherever the
  // connection's own ReadTimeout would wait without limit (see above);
  // 0 or less lets those waits run without limit.
  int32_t IdleLimit = 60000;
  // The largest listing ListFolder takes into memory.
  int64_t MaxListingBytes = int64_t{256} * 1024 * 1024;

  net::TIdNotifyEvent OnAfterClientLogin;
  TIdCreateFTPList OnCreateFTPList;
  TIdCheckListFormat OnCheckListFormat;
  TIdFtpAfterGet OnAfterGet;

  // ---- replies ----
  TIdRFCReply& LastReply() { return last_reply_; }
  TIdRFCReply& ServerGreeting() { return server_greeting_; }
  // A copy of the last reply of the most recent successful login.
  TIdRFCReply& LoginReply() { return login_reply_; }
  // The first text line of the reply to SYST, or "Unknown".
  const std::string& SystemDescription() const { return system_description_; }

  // Sends the line (CR LF added, also to an empty line) and gives GetReply.
  virtual int16_t SendCommand(const std::string& line, const std::vector<int16_t>& allowed);
  // code -1 allows every reply; any other code allows that one.
  int16_t SendCommand(const std::string& line, int16_t code = -1);
  // ReadReply, then CheckReply of its code.
  virtual int16_t GetReply(const std::vector<int16_t>& allowed);
  // The code when allowed is empty or holds it; else RaiseReplyError.
  virtual int16_t CheckReply(int16_t code, const std::vector<int16_t>& allowed);
  // EIdProtocolReplyError with LastReply's code and text.
  virtual void RaiseReplyError();
  // An exception of kind E with LastReply's text as message.
  template <class E>
  [[noreturn]] void RaiseReplyErrorAs() {
    throw E(EIdProtocolReplyError::MessageOf(last_reply_.Text()));
  }
  // Reads one reply, single- or multi-line, into LastReply.
  void ReadReply();

  // ---- session ----
  // Opens the control connection (to the FTP proxy when one is set), reads
  // the 220 greeting and, with auto_login, logs in, sends TYPE and SYST and
  // reports ftpReady "Connection established". Any failure disconnects and
  // passes on.
  void Connect(bool auto_login = true, int32_t timeout = net::TimeoutDefault);
  // The TCP connection alone, as the TCP client opens it: no greeting is
  // read. Connect(true, ...) uses it.
  void Connect(int32_t timeout) override;
  // USER (and PASS on 331), or the commands of the proxy's login scheme;
  // on a TLS session then PBSZ 0 and PROT P.
  virtual void LogOn();
  // CWD, allowing 200 and 250.
  void ChangeFolder(const std::string& directory);
  // SIZE: the size in bytes, or -1 for any reply but a readable 213.
  int32_t QuerySize(const std::string& file_name);
  // Sends the line, accepts every reply, gives its code.
  int16_t SendRawCommand(const std::string& line);
  // QUIT without awaiting a reply (when connected), then Disconnect.
  void SignOff();
  // ABOR without reading a reply (when connected), then CloseDataConnection.
  // Meant for the running transfer's OnWork handler.
  virtual void AbortTransfer();

  const TIdFtpProxySettings& ProxySettings() const { return proxy_settings_; }
  TIdFtpProxySettings& ProxySettings() { return proxy_settings_; }
  void SetProxySettings(const TIdFtpProxySettings& settings) { proxy_settings_.CopyValuesFrom(settings); }

  // ---- transfers ----
  TIdFTPTransferType TransferType() const { return transfer_type_; }
  // Stores a new type and sends TYPE at once when connected; ignored while
  // a transfer runs.
  void SetTransferType(TIdFTPTransferType value);

  // RETR into the stream at its position; with restart (and a server that
  // accepts REST) REST with the stream's position goes first.
  void Download(const std::string& remote_name, platform::Stream& destination, bool restart = false);
  // RETR into a local file: created, emptied (can_overwrite) or appended to
  // (restart, when the server accepts REST). EIdFTPFileAlreadyExists, with
  // nothing sent, when the existing file may be neither.
  void Download(const std::string& remote_name, const std::string& local_name, bool can_overwrite = false,
                bool restart = false);
  // LIST (details) or NLST with the specifier; the lines go to destination
  // (when given) and to RawListing, and the parsed listing is discarded.
  void ListFolder(std::vector<std::string>* destination, const std::string& specifier = "", bool details = true);
  const std::vector<std::string>& RawListing() const { return raw_listing_; }
  // The parsed form of RawListing, made at the first call after ListFolder.
  TIdFTPListItems& ParsedListing();
  // The custom-line handler of the parsed listing (making it when needed);
  // it holds until the next ListFolder.
  TIdOnParseCustomListFormat& OnParseCustomListFormat() { return ParsedListing().OnParseCustomListFormat; }
  void SetOnParseCustomListFormat(TIdOnParseCustomListFormat handler) {
    ParsedListing().OnParseCustomListFormat = std::move(handler);
  }

  // The running transfer's data connection, null between transfers.
  net::TIdTCPConnection* DataConnection() const { return data_connection_.get(); }
  bool RestartTested() const { return restart_tested_; }
  bool RestartSupported() const { return restart_supported_; }

  // Raises OnAfterGet.
  virtual void NotifyAfterGet(platform::Stream& stream);
  // Closes the data connection's socket at once, when there is one.
  virtual void CloseDataConnection();

  // Control connection reads: a wait that ReadTimeout 0 would leave without
  // limit ends after IdleLimit.
  int32_t FillInputBuffer(bool raise_if_disconnected = true, int32_t timeout = net::TimeoutDefault,
                          bool raise_on_timeout = true) override;

  // ---- steps of the transfers ----
  // PASV: the address and port that the 227 reply names.
  void RequestPassive(std::string& address, int32_t& port);
  // EPSV: true with the port of the 229 reply; false when the server
  // refuses EPSV as unknown (500 or 502), which this session remembers, so
  // that its later transfers ask with PASV straight away. Any other reply
  // raises EIdProtocolReplyError, a 229 without a port 1 to 65535
  // EIdFTPBadExtendedPassiveReply.
  bool RequestExtendedPassive(int32_t& port);
  // The port of a 229 reply's text, "(<d><d><d>port<d>)" with any delimiter
  // <d> from "!" to "~"; -1 for anything else.
  static int32_t ExtendedPassivePort(const std::string& text);
  // Whether this session's server refused EPSV.
  bool ExtendedPassiveRefused() const { return extended_passive_refused_; }
  // PORT with the binding's address and port, allowing 200.
  void AnnouncePort(const net::TIdSocketHandle& binding);
  void SendTypeCommand();
  // REST 1 and REST 0, once in the life of the client.
  bool ProbeRestart();
  // Runs one transfer of command into destination: data connection, REST,
  // the command, the data, the closing reply(s), with the statuses
  // ftpTransfer, ftpReady and (after 426 or 450) ftpAborted.
  void TransferData(const std::string& command, platform::Stream& destination, bool restart);

 private:
  // The TCP connection of a session, to Host and Port as they are set now.
  void OpenControlConnection(int32_t timeout);
  void PrepareDataConnection(net::TIdTCPConnection& connection) const;
  // The passive data connection's port, by EPSV or PASV.
  int32_t RequestDataPort();
  // Aims a passive data connection at the server on port: through the
  // control connection's SOCKS proxy when it has one, else straight to the
  // control connection's peer.
  void AimPassiveConnection(net::TIdTCPClient& data, int32_t port);
  // After a transfer that the server had started failed on our side, the
  // server still sends its closing reply (426 as a rule); left unread, the
  // next command would take it for its own. Reads and drops it where the
  // wait is bounded (ReadTimeout, or IdleLimit while ReadTimeout is 0).
  void SkipClosingReply();
  void MakeListing();
  // The control connection's socket handler, or null.
  net::TIdIOHandlerSocket* ControlHandler();
  // The address of the server at the other end of the control connection:
  // the only host whose data connections are trusted.
  std::string ControlPeerAddress();
  std::string ControlLocalAddress();
  void ServerLogin();
  void ProxyLogin();
  // AUTH TLS and the handshake of the control connection, with a context
  // (and session cache) fresh for this session.
  void SecureControlConnection();
  // PBSZ 0 and PROT P; LogOn sends them on a TLS session.
  void ProtectDataConnections();
  // "The server refused <what>: " and the last reply.
  std::string RefusalOf(const std::string& what);
  // The handshake of a data connection, once the server has started the
  // transfer (vsftpd starts its side only after its 150 reply).
  void SecureDataConnection(net::TIdTCPConnection& connection);
  int32_t HandshakeTimeout() const;

  TIdRFCReply last_reply_;
  TIdRFCReply server_greeting_;
  TIdRFCReply login_reply_;
  std::string system_description_;
  TIdFtpProxySettings proxy_settings_;
  TIdFTPTransferType transfer_type_ = ftBinary;
  std::unique_ptr<net::TIdTCPConnection> data_connection_;
  bool restart_tested_ = false;
  bool restart_supported_ = false;
  std::vector<std::string> raw_listing_;
  std::unique_ptr<TIdFTPListItems> parsed_listing_;
  std::shared_ptr<net::TIdTLSContext> tls_context_;
  // The host the control connection was opened to (the FTP proxy's when one
  // is used): through SOCKS, the destination its data connections ask for.
  std::string connected_host_;
  bool extended_passive_refused_ = false;
};

}  // namespace ftp
