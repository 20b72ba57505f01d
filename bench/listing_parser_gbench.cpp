// Listing parser throughput: Unix and DOS listings of 1e3, 1e5 and 1e6 lines,
// parsed by the layout the first line gives, reported as lines per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ftp/ftp_list.h"

namespace {

std::vector<std::string> UnixListing(int64_t count) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count) + 1);
  lines.push_back("total " + std::to_string(count));
  for (int64_t i = 0; i < count; ++i) {
    const bool dir = i % 10 == 0;
    const bool recent = i % 3 != 0;
    lines.push_back(std::string(dir ? "drwxr-xr-x" : "-rw-r--r--") + "    1 ftp      ftp      " +
                    std::to_string(1000 + i * 37 % 100000000) + (recent ? " Mar  5 14:30 " : " Jan 12  2019 ") +
                    "update_file_" + std::to_string(i) + ".dat");
  }
  return lines;
}

std::vector<std::string> DosListing(int64_t count) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    if (i % 10 == 0) {
      lines.push_back("01-15-08  10:30AM       <DIR>          Folder " + std::to_string(i));
    } else {
      std::string size = std::to_string(1000 + i * 37 % 100000000);
      lines.push_back("03-05-19  02:45PM " + std::string(20 - size.size(), ' ') + size + " update file " +
                      std::to_string(i) + ".dat");
    }
  }
  return lines;
}

void Parse(benchmark::State& state, const std::vector<std::string>& lines) {
  ftp::TIdFTPListItems listing;
  listing.DetectedFormat = listing.DetectFormat(lines.front(), true);
  for (auto _ : state) {
    listing.ParseListing(lines);
    benchmark::DoNotOptimize(listing.Count());
  }
  if (listing.Count() + 1 < static_cast<int>(lines.size())) state.SkipWithError("lines were lost");
  state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(lines.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_UnixListing(benchmark::State& state) { Parse(state, UnixListing(state.range(0))); }
void BM_DosListing(benchmark::State& state) { Parse(state, DosListing(state.range(0))); }

BENCHMARK(BM_UnixListing)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DosListing)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
