// The base of every transport and FTP object: its status event and its work
// (progress) events, one work record per direction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/stack.h"

namespace net {

enum TWorkMode { wmRead = 0, wmWrite = 1 };

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted,
};

// The text pattern of a status; "%s" stands for the argument.
const char* StatusPattern(TIdStatus status);

// The common base of the components, the keep-responsive one included.
class TIdBaseComponent {
 public:
  TIdBaseComponent() = default;
  TIdBaseComponent(const TIdBaseComponent&) = delete;
  TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;
  virtual ~TIdBaseComponent() = default;
};

class TIdComponent;

using TIdStatusEvent = std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode)>;
using TIdNotifyEvent = std::function<void(TIdComponent* Sender)>;

// Every TIdComponent keeps the process-wide socket stack alive.
class TIdComponent : public TIdBaseComponent {
 public:
  struct TWorkRecord {
    int32_t Count = 0;  // bytes reported since the work began
    int32_t Max = 0;    // as given when the work began; 0 = unknown
    int32_t Level = 0;  // works of this mode open now
  };

  TIdComponent() = default;

  TIdStatusEvent OnStatus;
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  // Opens a work of the mode; only the outermost start stores the maximum,
  // resets the count and fires OnWorkBegin. When OnWorkBegin raises, the
  // work is not open.
  virtual void StartWork(TWorkMode mode, int32_t max);
  // Adds n to the count and fires OnWork, only while a work of the mode is open.
  virtual void ReportWork(TWorkMode mode, int32_t n);
  // Closes a work; the outermost one fires OnWorkEnd. The work is closed
  // also when OnWorkEnd raises.
  virtual void FinishWork(TWorkMode mode);

  const TWorkRecord& WorkRecord(TWorkMode mode) const { return work_[mode == wmWrite ? 1 : 0]; }

  // Fires OnStatus with the status's pattern, its "%s" replaced by argument.
  void ReportStatus(TIdStatus status, const std::string& argument = "");

 protected:
  TIdStack& Stack() const { return stack_.Stack(); }

 private:
  TIdStackUse stack_;
  TWorkRecord work_[2];
};

}  // namespace net
