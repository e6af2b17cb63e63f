// Errors that refuse a request before any output exists, told apart from
// failures met while reading, rendering or writing, because the exit status
// differs (2 against 1, app/exit_status.h). An error class says it is a
// refusal by deriving from Refusal besides its own base, so a class of any
// room (a bad frame pattern in io/, a layout a host cannot render in
// session/) can be one without knowing the others.
#pragma once

#include <stdexcept>

namespace render {

/// Marks an exception as a refusal. Never thrown alone.
class Refusal {
  public:
    virtual ~Refusal() = default;

  protected:
    Refusal() = default;
    Refusal(const Refusal&) = default;
    Refusal& operator=(const Refusal&) = default;
};

/// A refusal with nothing more to say than its message: a plan that two
/// results would go to one file, a value outside a control's range.
class RefusedError : public std::runtime_error, public Refusal {
  public:
    using std::runtime_error::runtime_error;
};

/// True when `error` is a refusal.
inline bool IsRefusal(const std::exception& error) {
    return dynamic_cast<const Refusal*>(&error) != nullptr;
}

}  // namespace render
