#include "net/anti_freeze.h"

#include <atomic>

#include "platform/clock.h"

namespace net {
namespace {

// Read by any thread that asks whether to keep responsive; only the
// interface thread then goes on to use the component.
std::atomic<TIdAntiFreezeBase*> g_active_anti_freeze{nullptr};

}  // namespace

TIdAntiFreezeBase* ActiveAntiFreeze() { return g_active_anti_freeze.load(std::memory_order_acquire); }

bool TIdAntiFreezeBase::AntiFreezeInUse() {
  TIdAntiFreezeBase* component = ActiveAntiFreeze();
  return component != nullptr && platform::IsInterfaceThread() && component->Active;
}

void TIdAntiFreezeBase::KeepResponsive(bool idle) {
  if (!AntiFreezeInUse()) return;
  TIdAntiFreezeBase* component = ActiveAntiFreeze();
  if (idle || !component->OnlyWhenIdle) component->Process();
}

TIdAntiFreeze::TIdAntiFreeze() { g_active_anti_freeze.store(this, std::memory_order_release); }

TIdAntiFreeze::~TIdAntiFreeze() { g_active_anti_freeze.store(nullptr, std::memory_order_release); }

void TIdAntiFreeze::SetPendingInput(TIdPendingInput* input) { input_ = input; }

void TIdAntiFreeze::Process() {
  if (input_ == nullptr) return;
  if (ApplicationHasPriority) {
    input_->ProcessAllPendingInput();
  } else {
    input_->ProcessOnePendingInput();
  }
}

}  // namespace net
