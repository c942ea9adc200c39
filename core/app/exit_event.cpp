#include "app/exit_event.h"

namespace App {

std::string ExitEventSemaphoreName(const std::string& name) {
    return name.starts_with('/') ? name : "/" + name;
}

std::unique_ptr<ExitEvent> ExitEvent::Open(const std::string&, std::string* error) {
    if (error) *error = "not yet";
    return nullptr;
}

ExitEvent::~ExitEvent() = default;
bool ExitEvent::TryTake() {
    return false;
}
bool ExitEvent::TimedTake(int) {
    return false;
}

}  // namespace App
