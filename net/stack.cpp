#include "net/stack.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "net/exceptions.h"
#include "net/take_token.h"
#include "platform/sockets.h"
#include "settings/integer_conversion.h"

namespace net {
namespace {

std::mutex g_stack_mutex;
int g_stack_users = 0;
std::atomic<TIdStack*> g_shared_stack{nullptr};

struct ErrorText {
  int32_t number;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// The four parts of dotted text, split as the address helpers do.
void SplitDotted(const std::string& address, std::string parts[4]) {
  std::string rest = address;
  for (int i = 0; i < 3; ++i) parts[i] = TakeToken(rest, ".");
  parts[3] = rest;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  const std::string bb(b);
  if (a.size() != bb.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (up(a[i]) != up(bb[i])) return false;
  }
  return true;
}

}  // namespace

std::string SocketErrorText(int32_t error) {
  for (const auto& entry : kErrorTexts) {
    if (entry.number == error) return entry.text;
  }
  return "";
}

uint32_t StringToAddress(const std::string& address) {
  std::string parts[4];
  SplitDotted(address, parts);
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(settings::StrToInt32(parts[i]) & 0xFF);
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int32_t> ignore) {
  if (result != -1) return false;
  const int32_t error = GetLastError();
  last_error_number_.store(error, std::memory_order_relaxed);
  if (std::find(ignore.begin(), ignore.end(), error) != ignore.end()) return true;
  RaiseSocketFailure(error);
}

void TIdStack::RaiseSocketFailure(int32_t error) { throw EIdSocketError(error, SocketErrorMessage(error)); }

TIdStackSocketHandle TIdStack::CreateSocket(int type, int protocol) {
  const TIdStackSocketHandle s = OpenSocket(Id_PF_INET4, type, protocol);
  if (s == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return s;
}

std::string TIdStack::LookupHost(const std::string& host) {
  if (EqualsIgnoringAsciiCase(host, "LOCALHOST")) return "127.0.0.1";
  if (IsDottedAddress(host)) return host;
  return GetHostByName(host);
}

bool TIdStack::IsDottedAddress(const std::string& address) {
  std::string parts[4];
  SplitDotted(address, parts);
  for (const auto& part : parts) {
    int32_t value = 0;
    if (!settings::TryStrToInt32(part, value) || value < 0 || value > 255) return false;
  }
  return true;
}

TIdStackSocketHandle TIdStack::Accept(TIdStackSocketHandle socket, std::string& ip, int32_t& port) {
  uint32_t address = 0;
  int peer_port = 0;
  const int s = platform::sockets::Accept(socket, address, peer_port);
  if (s >= 0) {
    ip = AddressToString(address);
    port = peer_port;
  }
  return s;
}

int TIdStack::BindLocal(TIdStackSocketHandle socket, int /*family*/, const std::string& ip, int32_t port) {
  const uint32_t address = ip.empty() ? htonl(INADDR_ANY) : StringToAddress(ip);
  return platform::sockets::Bind(socket, address, port);
}

int TIdStack::ShutAndClose(TIdStackSocketHandle socket) { return platform::sockets::Close(socket); }

int TIdStack::Connect(TIdStackSocketHandle socket, int /*family*/, const std::string& ip, int32_t port) {
  return platform::sockets::Connect(socket, StringToAddress(ip), port);
}

std::string TIdStack::GetHostByName(const std::string& host) {
  uint32_t address = 0;
  CheckSocketResult(platform::sockets::LookupHost(host, address));
  return AddressToString(address);
}

std::string TIdStack::GetHostName() {
  std::string name;
  CheckSocketResult(platform::sockets::HostName(name));
  return name;
}

uint16_t TIdStack::HostToNetShort(uint16_t value) const { return htons(value); }
uint16_t TIdStack::NetToHostShort(uint16_t value) const { return ntohs(value); }
uint32_t TIdStack::HostToNetLong(uint32_t value) const { return htonl(value); }
uint32_t TIdStack::NetToHostLong(uint32_t value) const { return ntohl(value); }

int TIdStack::ListenOn(TIdStackSocketHandle socket, int queue_length) {
  return platform::sockets::Listen(socket, queue_length);
}

int TIdStack::ReceiveBytes(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) {
  if (length < 0) length = 0;
  if ((flags & Id_MSG_NOWAIT) != 0) return platform::sockets::ReceiveNow(socket, buffer, static_cast<size_t>(length));
  return platform::sockets::Receive(socket, buffer, static_cast<size_t>(length));
}

int TIdStack::SendBytes(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) {
  if (length < 0) length = 0;
  if ((flags & Id_MSG_NOWAIT) != 0) return platform::sockets::SendNow(socket, buffer, static_cast<size_t>(length));
  return platform::sockets::Send(socket, buffer, static_cast<size_t>(length));
}

int TIdStack::Select(std::vector<TIdStackSocketHandle>* read, std::vector<TIdStackSocketHandle>* write,
                     std::vector<TIdStackSocketHandle>* error, int32_t timeout) {
  for (auto* list : {read, write, error}) {
    if (list != nullptr && list->size() > Id_FD_SETSIZE) throw EIdStackSetSizeExceeded();
  }
  // Only TimeoutInfinite waits without limit; no other negative value names
  // a duration, so it polls.
  const int wait = timeout == TimeoutInfinite ? -1 : std::max<int32_t>(timeout, 0);
  return platform::sockets::Select(read, write, error, wait);
}

void TIdStack::WidenReceiveWindow(TIdStackSocketHandle socket, int32_t bytes) {
  platform::sockets::WidenReceiveWindow(socket, bytes);
}

int TIdStack::SetOption(TIdStackSocketHandle socket, int level, int option, const void* value, int length) {
  return platform::sockets::SetOption(socket, level, option, value, length);
}

TIdStackSocketHandle TIdStack::OpenSocket(int family, int type, int protocol) {
  return platform::sockets::OpenSocket(family, type, protocol);
}

int TIdStack::Shutdown(TIdStackSocketHandle socket, int how) { return platform::sockets::Shutdown(socket, how); }

std::string TIdStack::SocketErrorMessage(int32_t error) const {
  return "Socket Error # " + std::to_string(error) + "\r\n" + SocketErrorText(error);
}

int32_t TIdStack::GetLastError() const { return platform::sockets::LastError(); }

void TIdStack::GetPeerName(TIdStackSocketHandle socket, int& family, std::string& ip, int32_t& port) {
  uint32_t address = 0;
  int p = 0;
  CheckSocketResult(platform::sockets::PeerAddress(socket, address, p));
  family = Id_PF_INET4;
  ip = AddressToString(address);
  port = p;
}

void TIdStack::GetSockName(TIdStackSocketHandle socket, int& family, std::string& ip, int32_t& port) {
  uint32_t address = 0;
  int p = 0;
  CheckSocketResult(platform::sockets::LocalAddress(socket, address, p));
  family = Id_PF_INET4;
  ip = AddressToString(address);
  port = p;
}

std::string TIdStack::AddressToString(uint32_t address) const {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, 4);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

uint32_t TIdStack::StringToAddress(const std::string& address) const { return net::StringToAddress(address); }

TIdStack* SharedStack() { return g_shared_stack.load(std::memory_order_acquire); }

TIdStackUse::TIdStackUse() {
  std::lock_guard<std::mutex> lock(g_stack_mutex);
  if (g_stack_users++ == 0) g_shared_stack.store(new TIdStack, std::memory_order_release);
}

TIdStackUse::~TIdStackUse() {
  std::lock_guard<std::mutex> lock(g_stack_mutex);
  if (--g_stack_users == 0) delete g_shared_stack.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace net
