// A scripted FTP server for tests that need exact exchanges: it plays a list
// of steps on one thread, records every command line it receives, and can
// misbehave on purpose (close, stall, garbage, over-long lines, a hostile
// PASV address).
//
//   ScriptedFtpPeer peer({
//       Peer::Reply("220 ready"),
//       Peer::Expect("USER anonymous"), Peer::Reply("230 in"),
//       Peer::Pasv(),
//       Peer::Expect("RETR a.bin"), Peer::Reply("150 go"),
//       Peer::SendData("bytes"), Peer::CloseData(),
//       Peer::Reply("226 done"),
//   });
//   ... connect the client to 127.0.0.1:peer.Port() ...
//   EXPECT_TRUE(peer.WaitFinished());
//   EXPECT_EQ(peer.Error(), "");
//   EXPECT_EQ(peer.Transcript(), (std::vector<std::string>{"USER anonymous", "PASV", "RETR a.bin"}));
//
// Rules of play:
// - The peer listens on the given loopback address, on the given port or, by
//   default, one the system picks; Port() tells it. The first step runs once
//   a client has connected.
// - Received lines go to the transcript without their CR LF, in order. A line
//   that does not match an Expect step is recorded too, Error() says what was
//   expected, the remaining steps are dropped and the control connection is
//   closed, so the client fails at once instead of waiting.
// - After the last step the peer goes on recording lines (QUIT, ABOR, ...)
//   until the client closes the control connection or the peer is stopped.
// - Data steps work on the current data connection. When there is none yet,
//   the first data step accepts one on the PASV or EPSV listener or connects to the
//   address of the last PORT line. A data connection that no step closes
//   stays open without sending: that is how a data connection stalls.
// - Every blocking wait inside the peer ends after the step time-out (30 s by
//   default) with an Error(); the destructor stops the thread and closes all
//   sockets at once, also in the middle of StallForever.
// - The peer only ever connects to 127.0.0.0/8: a PORT line naming another
//   address is an Error(), never a connection. A PasvOptions address is only
//   named to the client; name loopback addresses only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// How a Pasv step words its 227 reply.
struct PasvOptions {
  bool parentheses = true;   // "(h1,h2,h3,h4,p1,p2)" or the bare numbers after a blank
  std::string name_address;  // dotted address to name instead of the listener's
  int name_port = -1;        // port to name instead of the listener's (0 to 65535)
};

class ScriptedFtpPeer {
 public:
  using PasvOptions = test_support::PasvOptions;

  struct Step {
    enum class Kind {
      kExpect,
      kExpectPrefix,
      kSend,
      kPasv,
      kEpsv,
      kExpectPort,
      kConnectData,
      kAcceptData,
      kSendData,
      kDribbleData,
      kCloseData,
      kResetData,
      kCloseControl,
      kAcceptControl,
      kExpectClientClose,
      kStallForever,
      kStrangerConnects,
    };
    Kind kind = Kind::kSend;
    std::string text;
    size_t chunk = 0;
    std::chrono::milliseconds pause{0};
    PasvOptions pasv;
  };

  // ---- control connection ----
  // Waits for one line equal to line.
  static Step Expect(std::string line);
  // Waits for one line that starts with prefix.
  static Step ExpectPrefix(std::string prefix);
  // Sends the bytes as they are: several replies in one write, or half a line.
  static Step Send(std::string bytes);
  // Sends the line followed by CR LF.
  static Step Reply(const std::string& line);
  // Sends size bytes of every value but LF (NUL, CR and 0xFF included), then CR LF.
  static Step SendGarbage(size_t size);
  // Sends prefix, then length bytes of 'A', then CR LF.
  static Step SendLongLine(size_t length, const std::string& prefix = "");
  // Closes the control connection (the data connection stays as it is).
  static Step CloseControl();
  // Closes the control connection if open and accepts the next client.
  static Step AcceptControl();
  // Records lines until the client closes the control connection.
  static Step ExpectClientClose();
  // Waits, sending and reading nothing, until the peer is stopped.
  static Step StallForever();

  // ---- data connections ----
  // Waits for "PASV", opens a data listener on the peer's address and
  // replies "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)".
  static Step Pasv(PasvOptions options = {});
  // Waits for "EPSV", opens a data listener on the peer's address and
  // replies "229 Entering Extended Passive Mode (|||port|)" (the options'
  // name_port instead of the listener's when set; name_address is unused).
  static Step Epsv(PasvOptions options = {});
  // Waits for a line "PORT h1,h2,h3,h4,p1,p2", keeps the address and answers
  // with reply; an empty reply sends nothing, so that a later step can answer
  // (a malformed or non-loopback PORT line is an Error()).
  static Step ExpectPort(const std::string& reply = "200 PORT command successful.");
  // Connects to the address of the last PORT line now.
  static Step ConnectData();
  // Accepts the client's connection on the PASV listener now.
  static Step AcceptData();
  // Sends the bytes on the data connection. A client that has gone away ends
  // the sending quietly (an aborted transfer is no fault of the script).
  static Step SendData(std::string bytes);
  // Sends the bytes in chunks of chunk bytes with a pause after each.
  static Step DribbleData(std::string bytes, size_t chunk, std::chrono::milliseconds pause);
  // Closes the data connection after all was sent (the client sees the end).
  static Step CloseData();
  // Closes the data connection abortively (the client sees a reset).
  static Step ResetData();
  // A stranger's connection to the address of the last PORT line, from the
  // loopback address source: it sends the bytes and waits until the client
  // closes it (an Error() when it does not within the step time-out). The
  // PORT address stays for the next data step.
  static Step StrangerConnects(std::string source, std::string bytes);

  // port 0 lets the system pick one; a port in use raises std::runtime_error.
  explicit ScriptedFtpPeer(std::vector<Step> script, std::string address = "127.0.0.1",
                           std::chrono::milliseconds step_timeout = std::chrono::seconds(30), uint16_t port = 0);
  ~ScriptedFtpPeer();
  ScriptedFtpPeer(const ScriptedFtpPeer&) = delete;
  ScriptedFtpPeer& operator=(const ScriptedFtpPeer&) = delete;

  const std::string& Address() const { return address_; }
  uint16_t Port() const { return port_; }

  // The command lines received so far, without CR LF.
  std::vector<std::string> Transcript() const;
  // Empty while the script goes as written; otherwise what went wrong.
  std::string Error() const;
  // Waits until every step has run (true) or the script failed or the
  // deadline passed (false).
  bool WaitFinished(std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
  // Waits until the transcript holds at least count lines.
  bool WaitForLines(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
  // Stops the thread and closes every socket; the destructor calls it.
  void Stop();

 private:
  enum class Wait { kReady, kTimedOut, kStopped };

  void Run();
  void RunStep(const Step& step);
  Wait WaitFor(int fd, short events, std::chrono::milliseconds timeout);
  bool AcceptOn(int listener, int& accepted);
  bool ReadLine(std::string& line, bool fail_on_timeout);
  bool SendAll(int fd, const std::string& bytes, bool quiet);
  bool EnsureData();
  void Stranger(const Step& step);
  void RecordLine(const std::string& line);
  void Fail(const std::string& what);
  void CloseFd(int& fd);

  const std::string address_;
  const std::chrono::milliseconds step_timeout_;
  const std::vector<Step> script_;
  uint16_t port_ = 0;

  int listener_ = -1;
  int control_ = -1;
  int pasv_listener_ = -1;
  int data_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string port_address_;
  uint16_t port_port_ = 0;
  bool have_port_ = false;
  std::string received_;  // control bytes not yet taken as lines
  bool failed_ = false;   // these two are the peer thread's own
  bool stopped_ = false;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> transcript_;
  std::string error_;
  bool finished_ = false;
  bool done_ = false;  // the thread has nothing more to do

  std::thread thread_;
};

}  // namespace test_support
