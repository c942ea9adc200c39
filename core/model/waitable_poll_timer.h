#pragma once

#include <memory>

#include "model/parameter_device.h"
#include "platform/event.h"

// The poll timer of an operative parameter as a waitable periodic timer, so
// that a polling thread can wait for many of them and the link shutdown
// event with one poll().
class WaitablePollTimer final : public PollTimer {
  public:
    bool Start(int periodMs) override { return timer_.Start(std::chrono::milliseconds(periodMs)); }
    void Cancel() override { timer_.Cancel(); }
    PeriodicTimer& Waitable() { return timer_; }

  private:
    PeriodicTimer timer_;
};

inline std::unique_ptr<PollTimer> MakeWaitablePollTimer() {
    return std::make_unique<WaitablePollTimer>();
}
