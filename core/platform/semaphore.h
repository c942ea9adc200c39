#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A counting semaphore with a maximum count.
class Semaphore {
  public:
    Semaphore(int initial, int maximum) : count_(initial), max_(maximum) {}

    bool TryAcquire() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == 0) return false;
        --count_;
        return true;
    }
    bool Acquire(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return count_ > 0; })) return false;
        --count_;
        return true;
    }
    void Acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }
    // False when the count is already at its maximum.
    bool Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ >= max_) return false;
            ++count_;
        }
        cv_.notify_one();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_;
    int max_;
};
