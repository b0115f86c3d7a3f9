#pragma once

#include <functional>

class QKeyEvent;

namespace harkwell {

// Watches the key presses that reach this application while a shortcut is being recorded
// (the application's: app/ApplicationKeyEventMonitor.h).
class KeyEventMonitor {
public:
    using Handler = std::function<void(const QKeyEvent& event)>;

    virtual ~KeyEventMonitor() = default;
    // From now on every key press that reaches the application goes to handler and to nothing
    // else: no text field, button or application shortcut sees it. Replaces an earlier handler.
    virtual void install(Handler handler) = 0;
    // Key presses reach the application again. Nothing happens when none is installed.
    virtual void remove() = 0;
};

} // namespace harkwell
