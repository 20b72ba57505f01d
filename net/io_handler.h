// The I/O handler of a connection, its socket implementation that resolves,
// binds and connects (with or without a time-out), and the thread that runs
// a blocking connect while the interface thread waits in short slices.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/component.h"
#include "net/socket_handle.h"
#include "net/socks_info.h"

namespace net {

class TIdTLSConnection;
class TIdTLSContext;

class TIdIOHandler : public TIdComponent {
 public:
  // Told when a handler it keeps a pointer to is destroyed.
  class Watcher {
   public:
    virtual void IOHandlerDestroyed(TIdIOHandler* handler) = 0;

   protected:
    ~Watcher() = default;
  };

  ~TIdIOHandler() override;

  virtual void AcceptedHook() {}
  virtual void CloseHandler() {}
  virtual void ConnectTo(const std::string& host, int32_t port, const std::string& bound_ip, int32_t bound_port,
                         int32_t bound_port_min, int32_t bound_port_max, int32_t timeout);
  virtual bool Connected() = 0;
  virtual void OpenHandler() {}
  virtual bool WaitReadable(int32_t timeout) = 0;
  // What a readable wait brought; kNothingYet when that was no data for the
  // reader (with TLS: records of the protocol itself), so it waits again.
  virtual int ReceiveBytes(void* buffer, int32_t length) = 0;
  // What has already arrived, without waiting: like ReceiveBytes, or
  // kNothingYet when nothing has or the handler cannot tell (the caller then
  // waits and receives as usual).
  static constexpr int kNothingYet = -2;
  virtual int ReceiveAvailable(void* /*buffer*/, int32_t /*length*/) { return kNothingYet; }
  virtual int SendBytes(const void* buffer, int32_t length) = 0;

  void AddWatcher(Watcher* watcher);
  void RemoveWatcher(Watcher* watcher);

 private:
  std::vector<Watcher*> watchers_;
};

// Runs one blocking connect of a socket handle (not owned). Created
// suspended; the finished mark (with the wake-up of a waiting interface
// thread) is the only thing the two threads share while it runs,
// FailureText is read only after it.
class TIdConnectThread {
 public:
  explicit TIdConnectThread(TIdSocketHandle* binding) : SocketBinding(binding) {}
  ~TIdConnectThread();  // waits for the thread
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  TIdSocketHandle* SocketBinding;
  // The message of the connect's failure; empty unless it failed.
  std::string FailureText;

  void Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // Sleeps up to milliseconds, ending early when the connect finishes, so a
  // connect is noticed as soon as it is made instead of at the slice's end.
  void SleepUnlessFinished(int32_t milliseconds);
  void WaitFor();
  // Whether the socket got connected; false also when the connect ended
  // with an ignored error (the socket was closed under it).
  bool Succeeded() const { return succeeded_; }

 private:
  void Execute();

  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::mutex finished_lock_;
  std::condition_variable finished_signal_;
  std::atomic<bool> terminated_{false};
  bool succeeded_ = false;
};

class TIdIOHandlerSocket : public TIdIOHandler, private TIdSocksInfo::Watcher {
 public:
  TIdIOHandlerSocket();
  ~TIdIOHandlerSocket() override;

  // When false, the TCP no-delay option is set before connecting.
  bool UseNagle = true;

  // The connection's socket; none until the first OpenHandler.
  TIdSocketHandle* SocketBinding() const { return binding_.get(); }

  // The SOCKS settings in use: linked ones, or the handler's own, made with
  // version svNoSocks on first use.
  TIdSocksInfo& SocksInfo();
  // Settings that have an owner are linked (the handler's own are freed);
  // if they are destroyed elsewhere the handler goes back to its own
  // defaults. Settings without an owner are copied into the handler's own.
  // Null drops the link and the own settings, so the next SocksInfo() is a
  // fresh default. The settings in use are told this handler.
  void SetSocksInfo(TIdSocksInfo* info);

  // Makes the socket binding, or resets the existing one.
  void OpenHandler() override;
  // Allocates and binds a socket, resolves host, and connects, with the
  // time-out rule: a time-out other than TimeoutDefault and 0 is used as
  // given; without one, 120000 ms while the keep-responsive component is in
  // use, else a plain blocking connect. Reports hsResolving (for a name) and
  // hsConnecting. Then negotiates SOCKS when set.
  void ConnectTo(const std::string& host, int32_t port, const std::string& bound_ip, int32_t bound_port,
                 int32_t bound_port_min, int32_t bound_port_max, int32_t timeout) override;
  bool Connected() override;
  void CloseHandler() override;
  bool WaitReadable(int32_t timeout) override;
  // Raise EIdClosedSocket when no socket is open.
  int ReceiveBytes(void* buffer, int32_t length) override;
  // kNothingYet also when no socket is open, so the wait raises as usual.
  int ReceiveAvailable(void* buffer, int32_t length) override;
  int SendBytes(const void* buffer, int32_t length) override;

  // Encrypts the connection from here on: the client side of a TLS
  // handshake on the connected socket (also an accepted one), checked as the
  // context says, within timeout milliseconds. Every read and write then
  // goes through TLS, with the same outcomes as on a plain socket; closing
  // sends close_notify first. A failure closes the socket and raises
  // EIdTLSError (EIdClosedSocket when no socket is open). The next
  // OpenHandler makes the handler plain again.
  void StartTLS(std::shared_ptr<TIdTLSContext> context, int32_t timeout);
  // The TLS of the connection, null while it is plain.
  const TIdTLSConnection* TLS() const { return tls_.get(); }

 protected:
  // Connects on the connect thread, polling it in slices of 125 ms (or the
  // component's IdleTimeOut when smaller), keeping responsive after each;
  // raises EIdConnectTimeout, after closing the socket, when time is up.
  void ConnectWithTimeout(int32_t timeout);

 private:
  std::unique_ptr<TIdSocketHandle> binding_;
  // Shared with each call that uses it, so that a handler run during one of
  // its waits may replace it without freeing it under that call.
  std::shared_ptr<TIdTLSConnection> tls_;
  void SocksInfoDestroyed(TIdSocksInfo* info) override;
  void UnlinkSocksInfo();

  std::unique_ptr<TIdSocksInfo> own_socks_info_;
  TIdSocksInfo* linked_socks_info_ = nullptr;
};

}  // namespace net
