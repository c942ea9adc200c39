#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

Waitable::~Waitable() {
    if (fd_ >= 0) close(fd_);
}

Event::Event(Reset mode, bool initiallySet) : mode_(mode) {
    fd_ = eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot create an event");
}

void Event::Set() {
    // The counter only ever holds 0 or 1 at rest: a set event stays readable
    // however often it is set.
    std::uint64_t one = 1;
    if (!IsSetNoConsume()) (void)!write(fd_, &one, sizeof one);
}

bool Event::IsSetNoConsume() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void Event::ResetEvent() {
    std::uint64_t v;
    while (read(fd_, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
    }
}

bool Event::Consume() {
    if (mode_ == Reset::Manual) return IsSetNoConsume();
    std::uint64_t v;
    return read(fd_, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
}

bool Event::IsSet() {
    return Consume();
}

bool Event::Wait(std::optional<std::chrono::milliseconds> timeout) {
    return WaitAny({this}, timeout).has_value();
}

PeriodicTimer::PeriodicTimer() {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot create a timer");
}

bool PeriodicTimer::Start(std::chrono::milliseconds period) {
    if (period.count() <= 0) return false;
    itimerspec spec{};
    spec.it_interval.tv_sec = static_cast<time_t>(period.count() / 1000);
    spec.it_interval.tv_nsec = static_cast<long>((period.count() % 1000) * 1000000);
    spec.it_value = spec.it_interval;
    return timerfd_settime(fd_, 0, &spec, nullptr) == 0;
}

void PeriodicTimer::Cancel() {
    itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
    std::uint64_t v;
    (void)!read(fd_, &v, sizeof v);
}

bool PeriodicTimer::Consume() {
    std::uint64_t expiries;
    return read(fd_, &expiries, sizeof expiries) == static_cast<ssize_t>(sizeof expiries);
}

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

}  // namespace

std::optional<std::size_t> WaitAnyOrFd(std::initializer_list<Waitable*> objects, int fd,
                                       short events,
                                       std::optional<std::chrono::milliseconds> timeout) {
    std::vector<pollfd> fds;
    fds.reserve(objects.size() + 1);
    for (Waitable* w : objects)
        fds.push_back({w->Fd(), POLLIN, 0});
    if (fd >= 0) fds.push_back({fd, events, 0});
    std::optional<Clock::time_point> deadline;
    if (timeout) deadline = Clock::now() + *timeout;
    for (;;) {
        for (pollfd& p : fds)
            p.revents = 0;
        int n = poll(fds.data(), fds.size(), RemainingMs(deadline));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) return std::nullopt;
        std::size_t i = 0;
        for (Waitable* w : objects) {
            // Another waiter may have taken an auto-reset signal first.
            if (fds[i].revents && w->Consume()) return i;
            ++i;
        }
        if (fd >= 0 && fds[i].revents) return i;
        if (deadline && RemainingMs(deadline) == 0) return std::nullopt;
    }
}

std::optional<std::size_t> WaitAny(std::initializer_list<Waitable*> objects,
                                   std::optional<std::chrono::milliseconds> timeout) {
    return WaitAnyOrFd(objects, -1, 0, timeout);
}
