#include "app/ApplicationKeyEventMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace harkwell {
namespace {

// Sends an event of this type to an object of the application; true when something took it.
bool send(QEvent::Type type) {
    QObject field;
    QKeyEvent event(type, Qt::Key_K, Qt::ControlModifier, 0, 'k', 0);
    return QCoreApplication::sendEvent(&field, &event);
}

// While a handler is installed every key press goes to it and to nothing else, and shortcuts are
// held back for the press; removed, or with the monitor gone, keys reach the application again.
TEST(ApplicationKeyEventMonitorTest, TakesKeyPressesOnlyWhileAHandlerIsInstalled) {
    auto monitor = std::make_unique<ApplicationKeyEventMonitor>();
    int presses = 0;
    std::optional<int> pressedKey;
    const auto handler = [&](const QKeyEvent& event) {
        ++presses;
        pressedKey = event.key();
    };
    // What happens before the event, the event's type, whether it is taken, the presses handled.
    const std::vector<std::tuple<const char*, std::function<void()>, QEvent::Type, bool, int>> cases{
        {"nothing installed", [] {}, QEvent::KeyPress, false, 0},
        {"installed", [&] { monitor->install(handler); }, QEvent::KeyPress, true, 1},
        {"a shortcut on its way", [] {}, QEvent::ShortcutOverride, true, 1},
        {"a release", [] {}, QEvent::KeyRelease, false, 1},
        {"installed again", [&] { monitor->install(handler); }, QEvent::KeyPress, true, 2},
        {"removed", [&] { monitor->remove(); }, QEvent::KeyPress, false, 2},
        {"removed twice", [&] { monitor->remove(); }, QEvent::ShortcutOverride, false, 2},
        {"a handler that removes itself, as the end of a recording does",
         [&] {
             monitor->install([&](const QKeyEvent& event) {
                 handler(event);
                 monitor->remove();
             });
         },
         QEvent::KeyPress, true, 3},
        {"after it removed itself", [] {}, QEvent::KeyPress, false, 3},
        {"gone while installed",
         [&] {
             monitor->install(handler);
             monitor.reset();
         },
         QEvent::KeyPress, false, 3},
    };
    for (const auto& [name, before, type, taken, handled] : cases) {
        SCOPED_TRACE(name);
        before();
        EXPECT_EQ(send(type), taken);
        EXPECT_EQ(presses, handled);
    }
    EXPECT_EQ(pressedKey, Qt::Key_K);
}

} // namespace
} // namespace harkwell
