// The socket layer's stack: the one place above platform/ that makes socket
// calls. It turns failed calls into EIdSocketError with the fixed messages,
// resolves host names, tests and converts dotted IPv4 addresses, and waits
// for readiness on up to 64 sockets.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace net {

// Time-outs in milliseconds; these two values are not durations.
constexpr int32_t TimeoutDefault = -1;
constexpr int32_t TimeoutInfinite = -2;

using TIdStackSocketHandle = int32_t;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_PF_INET4 = 2;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_IPPROTO_IP = 0;
constexpr int Id_SOCKETOPTIONLEVEL_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;
// Receive and send flag: take only what has already arrived, send only what
// fits now (10035 when nothing does).
constexpr int Id_MSG_NOWAIT = 1;
constexpr int Id_SD_Send = 1;
// The most handles one readiness wait list may hold.
constexpr size_t Id_FD_SETSIZE = 64;

// The text of a socket error number ("Connection refused." for 10061), empty
// for a number the table does not know.
std::string SocketErrorText(int32_t error);

// The four address bytes of dotted text as one value in network byte order;
// raises settings::EConvertError for a part that is not an integer.
uint32_t StringToAddress(const std::string& address);

class TIdStack {
 public:
  TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // The error number that the last CheckSocketResult on any thread stored.
  // A caller that needs the number of its own failure takes it from the
  // exception instead.
  int32_t LastErrorNumber() const { return last_error_number_.load(std::memory_order_relaxed); }

  // False when result is not -1. Otherwise stores the thread's last error in
  // LastErrorNumber and gives true when it is in ignore, else raises
  // EIdSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int32_t> ignore = {});
  [[noreturn]] void RaiseSocketFailure(int32_t error);
  // A new socket of family 2; raises EIdInvalidSocket when none can be made.
  TIdStackSocketHandle CreateSocket(int type, int protocol);

  // "localhost" (any case) is 127.0.0.1 and dotted text is itself, both
  // without a lookup; anything else is looked up (raising 11001 on failure).
  std::string LookupHost(const std::string& host);
  // Four parts split at ".", each an integer of 0 to 255 by the integer rule.
  static bool IsDottedAddress(const std::string& address);

  // The wrapped platform calls. Addresses are dotted text, ports host order.
  TIdStackSocketHandle Accept(TIdStackSocketHandle socket, std::string& ip, int32_t& port);
  int BindLocal(TIdStackSocketHandle socket, int family, const std::string& ip, int32_t port);
  int ShutAndClose(TIdStackSocketHandle socket);
  int Connect(TIdStackSocketHandle socket, int family, const std::string& ip, int32_t port);
  // The first address of the host, dotted; raises EIdSocketError on failure.
  std::string GetHostByName(const std::string& host);
  std::string GetHostName();
  uint16_t HostToNetShort(uint16_t value) const;
  uint16_t NetToHostShort(uint16_t value) const;
  uint32_t HostToNetLong(uint32_t value) const;
  uint32_t NetToHostLong(uint32_t value) const;
  int ListenOn(TIdStackSocketHandle socket, int queue_length);
  int ReceiveBytes(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags = 0);
  int SendBytes(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags = 0);
  // Waits until a handle of the lists is ready or the time-out passes (-2
  // waits without limit); each given list is left with its ready handles.
  // Gives the ready count, 0 on time-out, -1 on failure (raising nothing).
  // A list of more than 64 handles raises EIdStackSetSizeExceeded.
  int Select(std::vector<TIdStackSocketHandle>* read, std::vector<TIdStackSocketHandle>* write,
             std::vector<TIdStackSocketHandle>* error, int32_t timeout);
  int SetOption(TIdStackSocketHandle socket, int level, int option, const void* value, int length);
  void WidenReceiveWindow(TIdStackSocketHandle socket, int32_t bytes);
  TIdStackSocketHandle OpenSocket(int family, int type, int protocol);
  int Shutdown(TIdStackSocketHandle socket, int how);
  // "Socket Error # <number>" CR LF and the number's text.
  std::string SocketErrorMessage(int32_t error) const;
  int32_t GetLastError() const;
  void GetPeerName(TIdStackSocketHandle socket, int& family, std::string& ip, int32_t& port);
  void GetSockName(TIdStackSocketHandle socket, int& family, std::string& ip, int32_t& port);
  std::string AddressToString(uint32_t address) const;
  uint32_t StringToAddress(const std::string& address) const;

 private:
  std::atomic<int32_t> last_error_number_{0};
};

// The process-wide stack: present while at least one TIdComponent (or other
// stack user) exists, else null.
TIdStack* SharedStack();

// Keeps SharedStack alive for as long as it lives. The count of users and
// the creation and destruction of the stack happen under one lock.
class TIdStackUse {
 public:
  TIdStackUse();
  ~TIdStackUse();
  TIdStackUse(const TIdStackUse&) : TIdStackUse() {}
  TIdStackUse& operator=(const TIdStackUse&) { return *this; }
  TIdStack& Stack() const { return *SharedStack(); }
};

}  // namespace net
