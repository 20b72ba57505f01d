#include "net/io_handler.h"

#include <algorithm>
#include <chrono>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/tls_connection.h"
#include "platform/sockets.h"

namespace net {
namespace {

// A connect that waits for the keep-responsive component, without a time-out
// of its own, gives up after two minutes.
constexpr int32_t kResponsiveConnectTimeout = 120000;
constexpr int32_t kConnectSlice = 125;

}  // namespace

TIdIOHandler::~TIdIOHandler() {
  // A watcher may remove itself while it is told, so tell from a copy.
  const std::vector<Watcher*> watchers = watchers_;
  for (Watcher* watcher : watchers) watcher->IOHandlerDestroyed(this);
}

void TIdIOHandler::ConnectTo(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t, int32_t) {}

void TIdIOHandler::AddWatcher(Watcher* watcher) {
  if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end()) watchers_.push_back(watcher);
}

void TIdIOHandler::RemoveWatcher(Watcher* watcher) {
  watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), watcher), watchers_.end());
}

// The connect thread.

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() {
  const TIdStackSocketHandle socket = SocketBinding->SocketId();
  // From here on a close of the socket by the interface thread is left to
  // the connect, even if the thread has not reached it yet.
  platform::sockets::PrepareConnect(socket);
  try {
    thread_ = std::thread([this] { Execute(); });
  } catch (...) {
    platform::sockets::CancelConnect(socket);
    throw;
  }
}

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
  try {
    TIdStack* stack = SharedStack();
    const int result = SocketBinding->Connect(Id_PF_INET4);
    // A close under the connect (the time-out's) ends it with a bad handle
    // or not-a-socket error: no failure to report.
    if (!stack->CheckSocketResult(result, {10009, 10038})) succeeded_ = true;
  } catch (const std::exception& e) {
    FailureText = e.what();
    if (FailureText.empty()) FailureText = "Connect failed.";
  } catch (...) {
    FailureText = "Connect failed.";
  }
  {
    // Under the lock, so a waiter between its check and its sleep cannot
    // miss the wake-up.
    std::lock_guard<std::mutex> lock(finished_lock_);
    finished_.store(true, std::memory_order_release);
  }
  finished_signal_.notify_all();
}

void TIdConnectThread::SleepUnlessFinished(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  std::unique_lock<std::mutex> lock(finished_lock_);
  finished_signal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return Finished(); });
}

// The socket I/O handler.

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  CloseHandler();
  UnlinkSocksInfo();
}

TIdSocksInfo& TIdIOHandlerSocket::SocksInfo() {
  if (linked_socks_info_ != nullptr) return *linked_socks_info_;
  if (!own_socks_info_) {
    own_socks_info_ = std::make_unique<TIdSocksInfo>(this);
    own_socks_info_->SetIOHandler(this);
  }
  return *own_socks_info_;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* info) {
  if (info == nullptr) {
    UnlinkSocksInfo();
    own_socks_info_.reset();
    return;
  }
  if (info == linked_socks_info_ || info == own_socks_info_.get()) {
    info->SetIOHandler(this);
    return;
  }
  if (info->Owner() != nullptr) {
    UnlinkSocksInfo();
    own_socks_info_.reset();
    linked_socks_info_ = info;
    info->AddWatcher(this);
    info->SetIOHandler(this);
    return;
  }
  UnlinkSocksInfo();
  SocksInfo().CopyValuesFrom(*info);
}

void TIdIOHandlerSocket::UnlinkSocksInfo() {
  if (linked_socks_info_ == nullptr) return;
  linked_socks_info_->RemoveWatcher(this);
  if (linked_socks_info_->IOHandler() == this) linked_socks_info_->SetIOHandler(nullptr);
  linked_socks_info_ = nullptr;
}

void TIdIOHandlerSocket::SocksInfoDestroyed(TIdSocksInfo* info) {
  if (info == linked_socks_info_) linked_socks_info_ = nullptr;
}

void TIdIOHandlerSocket::OpenHandler() {
  tls_.reset();
  if (!binding_) {
    binding_ = std::make_unique<TIdSocketHandle>();
  } else {
    binding_->ForgetSocket(true);
  }
}

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int32_t port, const std::string& bound_ip,
                                   int32_t bound_port, int32_t bound_port_min, int32_t bound_port_max,
                                   int32_t timeout) {
  if (!binding_) OpenHandler();
  // The settings as they are now: a handler run while the connect waits may
  // change or replace them, which then counts from the next connect on.
  TIdSocksInfo& in_use = SocksInfo();
  in_use.SetIOHandler(this);
  TIdSocksInfo socks;
  socks.CopyValuesFrom(in_use);
  socks.ReplyTimeout = in_use.ReplyTimeout;
  socks.SetIOHandler(this);
  const bool via_proxy = socks.Version != svNoSocks;
  const std::string target_host = via_proxy ? socks.Host : host;
  const int32_t target_port = via_proxy ? socks.Port : port;

  binding_->Allocate(Id_SOCK_STREAM, Id_IPPROTO_IP);
  binding_->IP = bound_ip;
  binding_->Port = bound_port;
  binding_->ClientPortMin = bound_port_min;
  binding_->ClientPortMax = bound_port_max;
  binding_->BindLocal();

  if (!TIdStack::IsDottedAddress(target_host)) ReportStatus(hsResolving, target_host);
  binding_->SetRemote(Stack().LookupHost(target_host), target_port);
  if (!UseNagle) {
    const int32_t one = 1;
    binding_->SetOption(Id_SOCKETOPTIONLEVEL_TCP, Id_TCP_NODELAY, &one, sizeof one);
  }
  ReportStatus(hsConnecting, binding_->RemoteIP());

  if (timeout != TimeoutDefault && timeout != 0) {
    ConnectWithTimeout(timeout);
  } else if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    ConnectWithTimeout(kResponsiveConnectTimeout);
  } else {
    Stack().CheckSocketResult(binding_->Connect(Id_PF_INET4));
  }

  socks.NegotiateSocks(host, port);
}

void TIdIOHandlerSocket::ConnectWithTimeout(int32_t timeout) {
  const bool infinite = timeout == TimeoutInfinite;
  TIdConnectThread thread(binding_.get());
  thread.Start();

  int32_t slice = kConnectSlice;
  if (TIdAntiFreezeBase::AntiFreezeInUse()) slice = std::min(ActiveAntiFreeze()->IdleTimeOut, kConnectSlice);
  // A slice below 1 ms would never let the time-out pass.
  slice = std::max<int32_t>(slice, 1);

  int32_t left = infinite ? slice + 1 : timeout;
  while (left > slice) {
    thread.SleepUnlessFinished(slice);
    left -= slice;
    TIdAntiFreezeBase::KeepResponsive(true);
    if (thread.Finished()) {
      left = 0;
      break;
    }
    if (infinite) left = slice + 1;
  }
  thread.SleepUnlessFinished(left);

  if (thread.Finished()) {
    thread.WaitFor();
    if (!thread.FailureText.empty()) throw EIdConnectException(thread.FailureText);
    // Closed under the connect by someone else (a handler run while waiting):
    // the connection was not made, whatever the ignored error said.
    if (!thread.Succeeded() || !binding_ || !binding_->IsOpen()) throw EIdClosedSocket();
    return;
  }
  thread.Terminate();
  CloseHandler();
  thread.WaitFor();
  throw EIdConnectTimeout();
}

bool TIdIOHandlerSocket::Connected() { return binding_ && binding_->IsOpen(); }

void TIdIOHandlerSocket::CloseHandler() {
  if (!binding_) return;
  if (const std::shared_ptr<TIdTLSConnection> tls = tls_) tls->Shutdown();
  binding_->ShutAndClose();
}

bool TIdIOHandlerSocket::WaitReadable(int32_t timeout) {
  if (!binding_) throw EIdConnClosedGracefully();
  // Bytes TLS has decrypted already are not on the socket any more.
  if (tls_ && binding_->IsOpen() && tls_->HasBufferedData()) return true;
  return binding_->WaitReadable(timeout);
}

int TIdIOHandlerSocket::ReceiveBytes(void* buffer, int32_t length) {
  if (!Connected()) throw EIdClosedSocket();
  if (const std::shared_ptr<TIdTLSConnection> tls = tls_) return tls->Receive(buffer, length);
  return binding_->ReceiveBytes(buffer, length, 0);
}

int TIdIOHandlerSocket::ReceiveAvailable(void* buffer, int32_t length) {
  if (!binding_ || !binding_->IsOpen()) return kNothingYet;
  if (const std::shared_ptr<TIdTLSConnection> tls = tls_) return tls->Receive(buffer, length);
  const int n = binding_->ReceiveBytes(buffer, length, Id_MSG_NOWAIT);
  if (n < 0 && Stack().GetLastError() == 10035) return kNothingYet;
  return n;
}

int TIdIOHandlerSocket::SendBytes(const void* buffer, int32_t length) {
  if (!Connected()) throw EIdClosedSocket();
  if (const std::shared_ptr<TIdTLSConnection> tls = tls_) return tls->Send(buffer, length);
  return binding_->SendBytes(buffer, length, 0);
}

void TIdIOHandlerSocket::StartTLS(std::shared_ptr<TIdTLSContext> context, int32_t timeout) {
  if (!Connected()) throw EIdClosedSocket();
  try {
    auto tls = std::make_shared<TIdTLSConnection>(std::move(context), *binding_);
    tls->Handshake(timeout);
    tls_ = std::move(tls);
  } catch (...) {
    // Nothing goes on in clear after a failed handshake.
    binding_->ShutAndClose();
    throw;
  }
}

}  // namespace net
