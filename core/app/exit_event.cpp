#include "app/exit_event.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace App {

std::string ExitEventSemaphoreName(const std::string& name) {
    std::string lowered = ToLowerUtf8(name);
    return lowered.starts_with('/') ? lowered : "/" + lowered;
}

std::unique_ptr<ExitEvent> ExitEvent::Open(const std::string& name, std::string* error) {
    std::string semName = ExitEventSemaphoreName(name);
    if (name.empty() || semName.size() < 2) {
        if (error) *error = "the exit event has no name";
        return nullptr;
    }
    sem_t* sem = sem_open(semName.c_str(), O_CREAT, 0600, 0);
    if (sem == SEM_FAILED) {
        if (error) *error = "cannot open the exit event '" + semName + "': " + std::strerror(errno);
        return nullptr;
    }
    if (error) error->clear();
    return std::unique_ptr<ExitEvent>(new ExitEvent(sem, semName));
}

ExitEvent::~ExitEvent() {
    sem_close(sem_);
}

bool ExitEvent::TryTake() {
    while (sem_trywait(sem_) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace App
