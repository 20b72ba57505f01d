#include "net/io_handler.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

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

struct TIdConnectThread::Shared {
  TIdSocketHandle* binding = nullptr;
  TIdStackSocketHandle socket = Id_INVALID_SOCKET;
  std::string host;
  int32_t port = 0;

  mutable std::mutex lock;
  std::condition_variable finished_signal;
  bool finished = false;
  bool looked_up = false;  // the look-up is over (or there was none)
  bool abandoned = false;
  std::string address;
  std::exception_ptr failure;
  bool succeeded = false;
};

TIdConnectThread::TIdConnectThread(TIdSocketHandle* binding, std::string host, int32_t port)
    : SocketBinding(binding), shared_(std::make_shared<Shared>()) {
  shared_->binding = binding;
  shared_->host = std::move(host);
  shared_->port = port;
  shared_->looked_up = shared_->host.empty();
}

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() {
  shared_->socket = SocketBinding->SocketId();
  // From here on a close of the socket by the waiting thread is left to the
  // connect thread, even if it has not reached the connect yet.
  platform::sockets::PrepareConnect(shared_->socket);
  try {
    thread_ = std::thread([shared = shared_] { Execute(shared); });
  } catch (...) {
    platform::sockets::FinishConnect(shared_->socket);
    throw;
  }
}

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute(const std::shared_ptr<Shared>& shared) {
  const TIdStackUse stack;
  std::exception_ptr failure;
  bool succeeded = false;
  if (!shared->host.empty()) {
    std::string address;
    try {
      address = stack.Stack().LookupHost(shared->host);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(shared->lock);
      // Abandoned: the socket and the handle may be gone by now.
      if (shared->abandoned) return;
      shared->looked_up = true;
      shared->address = address;
    }
    if (!failure) shared->binding->SetRemote(address, shared->port);
  }
  if (!failure) {
    try {
      const int result = shared->binding->Connect(Id_PF_INET4);
      // A close under the connect (the time-out's) ends it with a bad handle
      // or not-a-socket error: no failure to report.
      if (!stack.Stack().CheckSocketResult(result, {10009, 10038})) succeeded = true;
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // Done with the socket: a close that came meanwhile happens now.
  if (platform::sockets::FinishConnect(shared->socket)) succeeded = false;
  {
    // Under the lock, so a waiter between its check and its sleep cannot
    // miss the wake-up.
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->failure = failure;
    shared->succeeded = succeeded;
    shared->finished = true;
  }
  shared->finished_signal.notify_all();
}

bool TIdConnectThread::Finished() const {
  std::lock_guard<std::mutex> lock(shared_->lock);
  return shared_->finished;
}

std::string TIdConnectThread::ResolvedAddress() const {
  std::lock_guard<std::mutex> lock(shared_->lock);
  return shared_->address;
}

void TIdConnectThread::SleepUnlessFinished(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  std::unique_lock<std::mutex> lock(shared_->lock);
  shared_->finished_signal.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return shared_->finished; });
}

bool TIdConnectThread::Abandon() {
  if (!thread_.joinable()) return false;
  {
    std::lock_guard<std::mutex> lock(shared_->lock);
    if (shared_->looked_up) return false;
    shared_->abandoned = true;
  }
  platform::sockets::FinishConnect(shared_->socket);
  thread_.detach();
  return true;
}

std::exception_ptr TIdConnectThread::Failure() const {
  std::lock_guard<std::mutex> lock(shared_->lock);
  return shared_->failure;
}

bool TIdConnectThread::Succeeded() const {
  std::lock_guard<std::mutex> lock(shared_->lock);
  return shared_->succeeded;
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
  if (!UseNagle) {
    const int32_t one = 1;
    binding_->SetOption(Id_SOCKETOPTIONLEVEL_TCP, Id_TCP_NODELAY, &one, sizeof one);
  }

  if (timeout != TimeoutDefault && timeout != 0) {
    ConnectWithTimeout(timeout, target_host, target_port);
  } else if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    ConnectWithTimeout(kResponsiveConnectTimeout, target_host, target_port);
  } else {
    binding_->SetRemote(Stack().LookupHost(target_host), target_port);
    ReportStatus(hsConnecting, binding_->RemoteIP());
    Stack().CheckSocketResult(binding_->Connect(Id_PF_INET4));
  }

  socks.NegotiateSocks(host, port);
}

void TIdIOHandlerSocket::ConnectWithTimeout(int32_t timeout, const std::string& host, int32_t port) {
  const bool infinite = timeout == TimeoutInfinite;
  TIdConnectThread thread(binding_.get(), host, port);
  thread.Start();

  // The resolved address is reported once, as soon as it is known.
  bool connecting_reported = false;
  auto report_connecting = [&] {
    if (connecting_reported) return;
    const std::string address = thread.ResolvedAddress();
    if (address.empty()) return;
    connecting_reported = true;
    ReportStatus(hsConnecting, address);
  };
  // The socket is closed under the thread; a thread still looking up is
  // left to end by itself, any other ends at once and is waited for.
  auto stop = [&] {
    thread.Terminate();
    CloseHandler();
    if (!thread.Abandon()) thread.WaitFor();
  };

  int32_t slice = kConnectSlice;
  if (TIdAntiFreezeBase::AntiFreezeInUse()) slice = std::min(ActiveAntiFreeze()->IdleTimeOut, kConnectSlice);
  // A slice below 1 ms would never let the time-out pass.
  slice = std::max<int32_t>(slice, 1);

  try {
    int32_t left = infinite ? slice + 1 : timeout;
    while (left > slice) {
      thread.SleepUnlessFinished(slice);
      left -= slice;
      report_connecting();
      TIdAntiFreezeBase::KeepResponsive(true);
      if (thread.Finished()) {
        left = 0;
        break;
      }
      if (infinite) left = slice + 1;
    }
    thread.SleepUnlessFinished(left);
    report_connecting();
  } catch (...) {
    // A handler run while waiting failed: the connect must not outlive it.
    stop();
    throw;
  }

  if (thread.Finished()) {
    thread.WaitFor();
    if (const std::exception_ptr failure = thread.Failure()) std::rethrow_exception(failure);
    // Closed under the connect by someone else (a handler run while waiting):
    // the connection was not made, whatever the ignored error said.
    if (!thread.Succeeded() || !binding_ || !binding_->IsOpen()) throw EIdClosedSocket();
    return;
  }
  stop();
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
