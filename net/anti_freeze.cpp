#include "net/anti_freeze.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/window.h"

namespace net {
namespace {

// Read by any thread that asks whether to keep responsive; only the
// interface thread then goes on to use the component.
std::atomic<TIdAntiFreezeBase*> g_active_anti_freeze{nullptr};

class WindowInput : public TIdPendingInput {
 public:
  explicit WindowInput(platform::MainWindow& window) : window_(window) {}
  void ProcessAllPendingInput() override { window_.ProcessAllPendingInput(); }
  void ProcessOnePendingInput() override { window_.ProcessOnePendingInput(); }

 private:
  platform::MainWindow& window_;
};

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

void TIdAntiFreeze::SetWindow(platform::MainWindow* window) {
  window_input_ = window != nullptr ? std::make_unique<WindowInput>(*window) : nullptr;
  input_ = window_input_.get();
}

void TIdAntiFreeze::SetPendingInput(TIdPendingInput* input) {
  window_input_.reset();
  input_ = input;
}

void TIdAntiFreeze::Process() {
  if (input_ == nullptr) return;
  if (ApplicationHasPriority) {
    input_->ProcessAllPendingInput();
  } else {
    input_->ProcessOnePendingInput();
  }
}

}  // namespace net
