// The I/O handler of a connection, its socket implementation that resolves,
// binds and connects (with or without a time-out), and the thread that runs
// a blocking connect while the interface thread waits in short slices.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
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

// Runs one blocking connect of a socket handle (not owned), after looking up
// the host when one is given, so that the look-up too is bounded by the
// caller's time-out. Created suspended. From Start on the socket stays
// registered with the platform until the thread is done with it, so a close
// by the waiting thread is deferred to the connect thread and never hits a
// reused descriptor. The two threads share only the state below, under its
// lock; the outcome is read after the thread has finished.
class TIdConnectThread {
 public:
  // host empty: the binding's remote address is set already.
  explicit TIdConnectThread(TIdSocketHandle* binding, std::string host = {}, int32_t port = 0);
  ~TIdConnectThread();  // waits for the thread, unless it was abandoned
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  TIdSocketHandle* SocketBinding;

  void Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  bool Finished() const;
  // The address the host was found at, once the look-up succeeded; empty
  // before that and after a failed look-up.
  std::string ResolvedAddress() const;
  // Sleeps up to milliseconds, ending early when the connect finishes, so a
  // connect is noticed as soon as it is made instead of at the slice's end.
  void SleepUnlessFinished(int32_t milliseconds);
  void WaitFor();
  // For a thread that is still looking the host up (a look-up cannot be
  // interrupted): lets it run on by itself, ends the socket's registration
  // (closing the socket if a close came), and gives true. The thread then
  // touches neither the socket nor this object. False once the look-up is
  // over: the connect ends when the socket is closed, so wait for it.
  bool Abandon();
  // The failure as it was raised on the thread (the same exception, with
  // its error number); null unless the look-up or the connect failed.
  std::exception_ptr Failure() const;
  // Whether the socket got connected; false also when the connect ended
  // with an ignored error (the socket was closed under it).
  bool Succeeded() const;

 private:
  struct Shared;
  static void Execute(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
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
  // use, else a plain blocking look-up and connect. Under a time-out the
  // look-up runs on the connect thread, so the time-out bounds it too.
  // Reports hsResolving (for a name) and hsConnecting. Then negotiates SOCKS
  // when set.
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
  // Looks host up and connects on the connect thread, polling it in slices
  // of 125 ms (or the component's IdleTimeOut when smaller), keeping
  // responsive after each and reporting hsConnecting once the address is
  // known; raises the thread's own failure, or EIdConnectTimeout, after
  // closing the socket, when time is up.
  void ConnectWithTimeout(int32_t timeout, const std::string& host, int32_t port);

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
