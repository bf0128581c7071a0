// The command line's interrupts; see ConsoleInterrupts.h.
#include "platform/win32/ConsoleInterrupts.h"

namespace platform::win32 {
namespace {

// The instance the control handler serves, while it lives.
ConsoleInterrupts* current = nullptr;

}  // namespace

ConsoleInterrupts::ConsoleInterrupts(ConsoleOutput& output)
    : output_(output), noted_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  current = this;
  SetConsoleCtrlHandler(&Handler, TRUE);
}

ConsoleInterrupts::~ConsoleInterrupts() {
  SetConsoleCtrlHandler(&Handler, FALSE);
  current = nullptr;
}

void ConsoleInterrupts::Set(Mode mode, std::string_view message) {
  const std::lock_guard lock(mutex_);
  message_ = std::string(message);
  mode_ = mode;
}

bool ConsoleInterrupts::Requested() {
  return WaitForSingleObject(noted_.Get(), 0) == WAIT_OBJECT_0;
}

BOOL WINAPI ConsoleInterrupts::Handler(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ConsoleInterrupts* self = current;
  if (self == nullptr) return FALSE;
  const std::lock_guard lock(self->mutex_);
  switch (self->mode_) {
    case Mode::Ignore:
      self->output_.Err(self->message_);
      return TRUE;
    case Mode::Note:
      SetEvent(self->noted_.Get());
      return TRUE;
    case Mode::End:
    default:
      return FALSE;
  }
}

}  // namespace platform::win32
