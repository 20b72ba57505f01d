// Reads one long stream over loopback the way a download does: ReadIntoStream
// until the peer closes, 8192-byte receives, work events on. Prints the
// throughput and the peak resident memory.
//
//   net_stream_read [MiB]   (default 1024)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_client.h"
#include "platform/stream.h"

namespace {

// Keeps nothing but the length and a cheap sum, so the figure is the
// transport's, not a file system's.
class CountingStream : public platform::Stream {
 public:
  int64_t Size() const override { return size_; }
  void SetSize(int64_t size) override {
    size_ = size;
    if (position_ > size_) position_ = size_;
  }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (size_t i = 0; i < count; i += 64) sum_ += bytes[i];
    position_ += static_cast<int64_t>(count);
    if (position_ > size_) size_ = position_;
  }
  uint64_t sum() const { return sum_; }

 private:
  int64_t size_ = 0;
  int64_t position_ = 0;
  uint64_t sum_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int64_t total = mib * 1024 * 1024;

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0) return 1;
  socklen_t length = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
  const int port = ntohs(a.sin_port);

  std::thread sender([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    std::vector<unsigned char> chunk(65536);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<unsigned char>(i * 7 + 3);
    int64_t left = total;
    while (left > 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
      const ssize_t sent = ::send(fd, chunk.data(), n, MSG_NOSIGNAL);
      if (sent <= 0) break;
      left -= sent;
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  });

  net::TIdTCPClient client;
  client.Host = "127.0.0.1";
  client.Port = port;
  client.RecvBufferSize = 8192;
  int64_t works = 0;
  int32_t last_count = 0;
  client.OnWorkBegin = [](net::TIdComponent*, net::TWorkMode, int32_t) {};
  client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t count) {
    ++works;
    last_count = count;
  };
  client.OnWorkEnd = [](net::TIdComponent*, net::TWorkMode) {};
  client.Connect();

  CountingStream stream;
  const auto start = std::chrono::steady_clock::now();
  client.ReadIntoStream(stream, -1, true);
  const auto end = std::chrono::steady_clock::now();
  sender.join();
  ::close(listener);

  const double seconds = std::chrono::duration<double>(end - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("bytes %lld (expected %lld), work events %lld, last count %d\n", static_cast<long long>(stream.Size()),
              static_cast<long long>(total), static_cast<long long>(works), last_count);
  std::printf("time %.3f s, %.1f MB/s (%.1f MiB/s), peak RSS %ld KiB\n", seconds, total / seconds / 1e6,
              total / seconds / (1024.0 * 1024.0), usage.ru_maxrss);
  return stream.Size() == total ? 0 : 1;
}
