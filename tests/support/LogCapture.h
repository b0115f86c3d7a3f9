#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <mutex>

namespace harkwell::testing {

// While it lives, switches the given logging rules on and keeps every message, from any thread,
// instead of printing it; one at a time.
class LogCapture {
public:
    explicit LogCapture(const QString& rules = QStringLiteral("harkwell.*=true")) {
        QLoggingCategory::setFilterRules(rules);
        previous_ = qInstallMessageHandler(&LogCapture::keep);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
        const std::lock_guard lock(mutex());
        kept().clear();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const {
        const std::lock_guard lock(mutex());
        return kept();
    }
    // Whether a kept line starts with prefix.
    bool hasLineStartingWith(const QString& prefix) const {
        const QStringList all = lines();
        return std::any_of(all.begin(), all.end(), [&](const QString& line) { return line.startsWith(prefix); });
    }

private:
    static void keep(QtMsgType, const QMessageLogContext&, const QString& message) {
        const std::lock_guard lock(mutex());
        kept().append(message);
    }
    static std::mutex& mutex() {
        static std::mutex instance;
        return instance;
    }
    static QStringList& kept() {
        static QStringList instance;
        return instance;
    }

    QtMessageHandler previous_ = nullptr;
};

} // namespace harkwell::testing
