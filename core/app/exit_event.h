#pragma once

#include <semaphore.h>

#include <memory>
#include <string>

namespace App {

// The exit event of a driven run: a POSIX named semaphore under the
// lower-cased name ("/" + name when the name has no leading slash), opened or
// created with count 0. A post to it signals it.
class ExitEvent {
  public:
    // Null and `error` set when the semaphore cannot be opened or created.
    static std::unique_ptr<ExitEvent> Open(const std::string& name, std::string* error);
    // Closes the semaphore; it stays in the system for whoever made it.
    ~ExitEvent();
    ExitEvent(const ExitEvent&) = delete;
    ExitEvent& operator=(const ExitEvent&) = delete;

    // The name the semaphore was opened under.
    const std::string& Name() const { return name_; }
    // Takes one post without waiting; true when there was one.
    bool TryTake();

  private:
    ExitEvent(sem_t* sem, std::string name) : sem_(sem), name_(std::move(name)) {}
    sem_t* sem_;
    std::string name_;
};

// The semaphore name for an exit-event option value: lower-cased, with a
// leading "/".
std::string ExitEventSemaphoreName(const std::string& name);

}  // namespace App
