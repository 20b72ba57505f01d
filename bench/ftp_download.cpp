// Downloads one file with the FTP client, as the updater does: active mode
// unless asked otherwise, 8192-byte receives, a cheap work handler. Prints
// the time, the throughput and the peak resident memory.
//
//   ftp_download HOST PORT REMOTE LOCAL [--passive] [--user NAME] [--password WORD]
//
// HOST must be a loopback address. BENCH_RECV_BUFFER sets another receive
// block size (RecvBufferSize) than the updater's 8192 bytes.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "bench/download_arguments.h"
#include "ftp/ftp_client.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  ftp::TIdFTP client;
  if (!bench::ApplyDownloadArguments(argc, argv, client, "")) return 2;
  client.ReadTimeout = 0;
  const char* block = std::getenv("BENCH_RECV_BUFFER");
  client.RecvBufferSize = block != nullptr ? std::max(1, std::atoi(block)) : 8192;
  client.SendBufferSize = 4096;
  int64_t events = 0;
  client.OnWork = [&](net::TIdComponent*, net::TWorkMode, int32_t) { ++events; };

  try {
    client.Connect(true, -1);
    platform::DeleteFile(argv[4]);
    const auto start = std::chrono::steady_clock::now();
    client.Download(argv[3], argv[4], true, false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    client.SignOff();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double bytes = static_cast<double>(std::filesystem::file_size(platform::ResolvePath(argv[4])));
    std::printf("%s mode: %.3f s, %.0f bytes, %.1f MB/s (%lld work events), peak RSS %ld KiB\n",
                client.Passive ? "passive" : "active", seconds, bytes, bytes / seconds / 1e6,
                static_cast<long long>(events), usage.ru_maxrss);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "download failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
