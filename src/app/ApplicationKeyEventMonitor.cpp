#include "app/ApplicationKeyEventMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace harkwell {

ApplicationKeyEventMonitor::~ApplicationKeyEventMonitor() { remove(); }

void ApplicationKeyEventMonitor::install(Handler handler) {
    if (!handler_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    handler_ = std::move(handler);
}

void ApplicationKeyEventMonitor::remove() {
    if (handler_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    handler_ = nullptr;
}

bool ApplicationKeyEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (!handler_) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Accepted, so that no application shortcut takes the key before it arrives as a press.
        event->accept();
        return true;
    case QEvent::KeyPress: {
        // A copy: the handler may remove this monitor while it runs.
        auto handler = handler_;
        handler(*static_cast<QKeyEvent*>(event));
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace harkwell
