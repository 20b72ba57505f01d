// Keeping the window responsive while the transport blocks the interface
// thread: the process-wide hook that every wait consults, and the component
// that fills it by processing the window's pending input.
#pragma once

#include <cstdint>

#include "net/component.h"

namespace net {

class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  bool Active = true;
  // true: process all pending input at each chance; false: at most one event.
  bool ApplicationHasPriority = true;
  // The slice, in milliseconds, in which long waits are cut.
  int32_t IdleTimeOut = 250;
  // Process input only after a wait that ended without data.
  bool OnlyWhenIdle = true;

  virtual void Process() = 0;

  // True on the interface thread while an active component is registered.
  static bool AntiFreezeInUse();
  // Runs the registered component's Process when it is in use and either
  // the wait was idle or the component does not wait for idleness.
  static void KeepResponsive(bool idle);
};

// The component in use, or null. Creating a TIdAntiFreeze registers it;
// destroying any TIdAntiFreeze clears the reference.
TIdAntiFreezeBase* ActiveAntiFreeze();

// What Process needs of the interface: its pending input handled, all of
// it or at most one event.
class TIdPendingInput {
 public:
  virtual ~TIdPendingInput() = default;
  virtual void ProcessAllPendingInput() = 0;
  virtual void ProcessOnePendingInput() = 0;
};

class TIdAntiFreeze : public TIdAntiFreezeBase {
 public:
  TIdAntiFreeze();
  ~TIdAntiFreeze() override;

  // Process handles this pending input (set by the owner, which keeps it
  // alive longer); null: Process does nothing.
  void SetPendingInput(TIdPendingInput* input);

  // All pending input with ApplicationHasPriority, else at most one event.
  void Process() override;

 private:
  TIdPendingInput* input_ = nullptr;
};

}  // namespace net
