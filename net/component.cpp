#include "net/component.h"

namespace net {

const char* StatusPattern(TIdStatus status) {
  switch (status) {
    case hsResolving: return "Resolving hostname %s.";
    case hsConnecting: return "Connecting to %s.";
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: return "%s";
  }
  return "%s";
}

void TIdComponent::StartWork(TWorkMode mode, int32_t max) {
  TWorkRecord& work = work_[mode == wmWrite ? 1 : 0];
  if (++work.Level == 1) {
    work.Max = max;
    work.Count = 0;
    try {
      if (OnWorkBegin) OnWorkBegin(this, mode, max);
    } catch (...) {
      // A work whose start failed never began: no end will come for it.
      --work.Level;
      throw;
    }
  }
}

void TIdComponent::ReportWork(TWorkMode mode, int32_t n) {
  TWorkRecord& work = work_[mode == wmWrite ? 1 : 0];
  if (work.Level <= 0) return;
  // The count is 32 bits wide; past 2 GiB it wraps instead of overflowing.
  work.Count = static_cast<int32_t>(static_cast<uint32_t>(work.Count) + static_cast<uint32_t>(n));
  if (OnWork) OnWork(this, mode, work.Count);
}

void TIdComponent::FinishWork(TWorkMode mode) {
  TWorkRecord& work = work_[mode == wmWrite ? 1 : 0];
  try {
    if (work.Level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  } catch (...) {
    --work.Level;  // the work is over even when its end handler failed
    throw;
  }
  --work.Level;
}

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument) {
  if (!OnStatus) return;
  // Plain replacement, not printf: the argument may hold any bytes.
  std::string text = StatusPattern(status);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  OnStatus(this, status, text);
}

}  // namespace net
