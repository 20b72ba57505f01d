#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <limits>
#include <thread>

#include "platform/date_time.h"

namespace platform {
namespace {

std::atomic<std::thread::id> g_interface_thread{std::this_thread::get_id()};

}  // namespace

double Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  // The local time of day changes offset only at whole seconds, so the
  // conversion is made once a second; a transfer asks many times a second.
  thread_local std::time_t cached_second = std::numeric_limits<std::time_t>::min();
  thread_local std::tm local{};
  thread_local double date = 0;
  if (seconds != cached_second) {
    local = std::tm{};
    localtime_r(&seconds, &local);
    date = 0;
    TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
    cached_second = seconds;
  }
  double time = 0;
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms % 1000), time);
  return date + time;
}

void SleepMs(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool IsInterfaceThread() { return g_interface_thread.load() == std::this_thread::get_id(); }

void MarkInterfaceThread() { g_interface_thread.store(std::this_thread::get_id()); }

}  // namespace platform
