#include "support/tls_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace test_support {
namespace {

std::string OpenSslError() {
  char text[256] = "no OpenSSL error";
  const unsigned long code = ERR_get_error();
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

}  // namespace

TlsPeer::TlsPeer(TlsPeerOptions options, std::vector<TlsStep> script)
    : options_(std::move(options)), script_(std::move(script)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, options_.address.c_str(), &a.sin_addr);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 4) != 0) {
    ::close(listen_fd_);
    throw std::runtime_error("bind or listen failed");
  }
  socklen_t length = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

TlsPeer::~TlsPeer() {
  stopping_ = true;
  const int fd = current_fd_.load();
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  thread_.join();
  ::close(listen_fd_);
}

bool TlsPeer::WaitDone(int deadline_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(deadline_ms), [this] { return done_; });
}

std::string TlsPeer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::string TlsPeer::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::vector<bool> TlsPeer::Resumed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return resumed_;
}

void TlsPeer::Run() {
  // OpenSSL writes to the socket with write(): a client that has gone away
  // must not end the test process with SIGPIPE. It is raised for the thread
  // that writes, so blocking it here is enough.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  auto fail = [this](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty() && !stopping_) failure_ = what;
  };
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  const unsigned char id[] = "tls-peer";
  if (ctx == nullptr || SSL_CTX_use_certificate_chain_file(ctx, options_.cert_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, options_.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    fail("server context: " + OpenSslError());
  } else {
    SSL_CTX_set_session_id_context(ctx, id, sizeof id - 1);
    if (options_.max_version != 0) SSL_CTX_set_max_proto_version(ctx, options_.max_version);
    for (int n = 0; n < options_.connections && !stopping_; ++n) {
      pollfd p{listen_fd_, POLLIN, 0};
      while (!stopping_ && ::poll(&p, 1, 50) <= 0) {
      }
      if (stopping_) break;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      current_fd_ = fd;
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      bool open = true;
      auto close_fd = [&](bool reset) {
        if (!open) return;
        if (reset) {
          linger l{1, 0};
          ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        current_fd_ = -1;
        ::close(fd);
        open = false;
      };
      if (SSL_accept(ssl) != 1) {
        fail("handshake: " + OpenSslError());
      } else {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          resumed_.push_back(SSL_session_reused(ssl) == 1);
        }
        char buffer[16384];
        for (const TlsStep& step : script_) {
          if (!open) break;
          switch (step.kind) {
            case TlsStep::kSend:
              for (size_t at = 0; at < step.bytes.size();) {
                const int chunk = static_cast<int>(std::min<size_t>(step.bytes.size() - at, 16384));
                const int sent = SSL_write(ssl, step.bytes.data() + at, chunk);
                if (sent <= 0) {
                  fail("send: " + OpenSslError());
                  close_fd(false);
                  break;
                }
                at += static_cast<size_t>(sent);
              }
              break;
            case TlsStep::kReceive: {
              size_t got = 0;
              while (got < step.count) {
                const int r = SSL_read(ssl, buffer, static_cast<int>(std::min(sizeof buffer, step.count - got)));
                if (r <= 0) {
                  fail("receive ended early: " + OpenSslError());
                  close_fd(false);
                  break;
                }
                std::lock_guard<std::mutex> lock(mutex_);
                received_.append(buffer, static_cast<size_t>(r));
                got += static_cast<size_t>(r);
              }
              break;
            }
            case TlsStep::kCloseNotify:
              SSL_shutdown(ssl);
              close_fd(false);
              break;
            case TlsStep::kCloseWithoutNotify:
              close_fd(false);
              break;
            case TlsStep::kReset:
              close_fd(true);
              break;
            case TlsStep::kDamagedRecord: {
              // An application data record of TLS 1.2 and 1.3 framing whose
              // contents authenticate under no key.
              std::string record("\x17\x03\x03\x00\x40", 5);
              record.append(64, '\x5a');
              if (::send(fd, record.data(), record.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(record.size())) {
                fail("damaged record not sent");
              }
              break;
            }
            case TlsStep::kUntilClientCloses:
              while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
              }
              ERR_clear_error();
              break;
          }
        }
        // The client ends the connection.
        if (open) {
          while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
          }
          ERR_clear_error();
        }
      }
      close_fd(false);
      SSL_free(ssl);
    }
  }
  SSL_CTX_free(ctx);
  ERR_clear_error();
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

}  // namespace test_support
