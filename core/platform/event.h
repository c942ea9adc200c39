#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>

// Kernel-style synchronisation objects on file descriptors, so that a thread
// can wait for any of several of them with one poll(): events, periodic
// timers. Each object owns its descriptor.

class Waitable {
  public:
    Waitable() = default;
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;
    virtual ~Waitable();

    int Fd() const { return fd_; }
    // Called after poll() found the descriptor readable; returns true when
    // the object counts as signalled (an auto-reset object consumes it here).
    virtual bool Consume() = 0;

  protected:
    int fd_ = -1;
};

// A manual- or auto-reset event.
class Event : public Waitable {
  public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset mode = Reset::Manual, bool initiallySet = false);

    void Set();
    void ResetEvent();
    // Tests without waiting; an auto-reset event is consumed by a true answer.
    bool IsSet();
    // Waits up to timeout (none: forever); true when signalled.
    bool Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    bool Consume() override;

  private:
    bool IsSetNoConsume() const;
    Reset mode_;
};

// A periodic timer: first expiry one period after Start, then every period.
// A wait that sees an expiry consumes it.
class PeriodicTimer : public Waitable {
  public:
    PeriodicTimer();
    bool Start(std::chrono::milliseconds period);
    void Cancel();
    bool Consume() override;
};

// Waits for the first signalled object; returns its position in the list, or
// nothing when the timeout (none: forever) elapsed first.
std::optional<std::size_t> WaitAny(std::initializer_list<Waitable*> objects,
                                   std::optional<std::chrono::milliseconds> timeout);

// Waits on the objects and one more descriptor (a tty or a socket) for
// `events` (POLLIN, POLLOUT). Returns the object's position, objects.size()
// for the descriptor, or nothing on timeout.
std::optional<std::size_t> WaitAnyOrFd(std::initializer_list<Waitable*> objects, int fd,
                                       short events,
                                       std::optional<std::chrono::milliseconds> timeout);
