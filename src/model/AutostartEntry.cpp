#include "model/AutostartEntry.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace harkwell {

namespace {

// Characters that make an argument of an Exec key need quotes.
const QString reservedCharacters = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
// Characters that a backslash escapes within quotes.
const QString quoteEscapedCharacters = QStringLiteral("\"`$\\");

QString defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/autostart";
}

// What a line "key=value" of the [Desktop Entry] group says, spaces around '=' ignored.
struct Entry {
    QByteArray key;
    QByteArray value;
};

std::optional<Entry> entryOf(const QByteArray& line) {
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) {
        return std::nullopt;
    }
    return Entry{line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
}

} // namespace

AutostartEntry::AutostartEntry() : AutostartEntry(defaultDirectory(), QCoreApplication::applicationFilePath()) {}

AutostartEntry::AutostartEntry(const QString& directory, const QString& executablePath)
    : directory_(directory), executablePath_(executablePath) {}

QString AutostartEntry::filePath() const { return directory_ + '/' + fileName; }

bool AutostartEntry::isEnabled() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    bool isDesktopEntry = false;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : file.readAll().split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            isDesktopEntry = isDesktopEntry || inMainGroup;
            continue;
        }
        const auto entry = inMainGroup ? entryOf(line) : std::nullopt;
        if (entry && ((entry->key == "Hidden" && entry->value == "true") ||
                      (entry->key == "X-GNOME-Autostart-enabled" && entry->value == "false"))) {
            return false;
        }
    }
    return isDesktopEntry;
}

std::optional<QString> AutostartEntry::setEnabled(bool enabled) {
    auto failure = enabled ? write() : remove();
    if (failure) {
        qCWarning(logModel) << "autostart entry" << filePath() << "not" << (enabled ? "written:" : "removed:")
                            << *failure;
    } else {
        qCInfo(logModel) << "autostart entry" << filePath() << (enabled ? "written" : "removed");
    }
    return failure;
}

QByteArray AutostartEntry::contents() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Harkwell\n"
           "Comment=Switches your AirPods to Transparency when someone calls your name\n"
           "Exec=" +
           execValue(executablePath_).toUtf8() +
           "\n"
           "Icon=io.github.harkwell.Harkwell\n"
           "Terminal=false\n"
           "StartupNotify=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

QString AutostartEntry::execValue(const QString& executablePath) {
    QString argument = executablePath;
    if (std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reservedCharacters.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : executablePath) {
            if (quoteEscapedCharacters.contains(c)) {
                quoted += u'\\';
            }
            quoted += c;
        }
        argument = quoted + u'"';
    }
    argument.replace(u'%', QStringLiteral("%%"));
    QString value;
    for (const QChar c : argument) {
        switch (c.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::optional<QString> AutostartEntry::write() const {
    if (!QDir().mkpath(directory_)) {
        return QStringLiteral("cannot create the folder %1").arg(directory_);
    }
    QSaveFile file(filePath());
    const QByteArray text = contents();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

std::optional<QString> AutostartEntry::remove() const {
    QFile file(filePath());
    if (!file.exists() || file.remove()) {
        return std::nullopt;
    }
    return file.errorString();
}

} // namespace harkwell
