// Listing parser throughput: Unix and DOS listings of 1e3, 1e5 and 1e6 lines,
// parsed by the layout the first line gives, reported as lines per second;
// and 1e5-line Unix listings from a server in a Chinese locale (months and
// days in GBK) and with ISO dates (read from the date outwards).
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

// The Unix listing's lines, with its dates in another form.
std::vector<std::string> UnixListingDatedAs(int64_t count, const std::string& recent, const std::string& old) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count) + 1);
  lines.push_back("total " + std::to_string(count));
  for (int64_t i = 0; i < count; ++i) {
    const bool dir = i % 10 == 0;
    lines.push_back(std::string(dir ? "drwxr-xr-x" : "-rw-r--r--") + "    1 ftp      ftp      " +
                    std::to_string(1000 + i * 37 % 100000000) + (i % 3 != 0 ? recent : old) + "update_file_" +
                    std::to_string(i) + ".dat");
  }
  return lines;
}

std::vector<std::string> ChineseMonthListing(int64_t count) {
  // " 3月 5日 14:30 " and " 1月 12日  2019 " in GBK.
  return UnixListingDatedAs(count, " 3\xD4\xC2 5\xC8\xD5 14:30 ", " 1\xD4\xC2 12\xC8\xD5  2019 ");
}

std::vector<std::string> IsoDateListing(int64_t count) {
  return UnixListingDatedAs(count, " 2024-03-05 14:30 ", " 2019-01-12 00:00 ");
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

void BM_ChineseMonthListing(benchmark::State& state) { Parse(state, ChineseMonthListing(state.range(0))); }
void BM_IsoDateListing(benchmark::State& state) { Parse(state, IsoDateListing(state.range(0))); }

BENCHMARK(BM_UnixListing)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DosListing)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChineseMonthListing)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsoDateListing)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
