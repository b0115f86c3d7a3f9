#include "model/SettingsStore.h"

#include "core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace harkwell {

namespace {

constexpr std::chrono::milliseconds abandonedLockAge{2000};
// Another writer holds the lock for the few milliseconds of one write.
constexpr std::chrono::milliseconds lockTimeout{5000};
constexpr int mostCopyNames = 1000;

// What could be read of a settings file.
struct ParsedSettings {
    QJsonObject values;
    bool isDamaged = false;
};

// Reads the members of a top-level JSON object one by one, for a file that does not parse as a
// whole: every member that is whole and stands before the damage (or after a garbled value
// whose end can still be told) is kept.
class MemberSalvager {
public:
    explicit MemberSalvager(const QByteArray& text) : text_(text) {}

    QJsonObject salvage() {
        QJsonObject kept;
        skipSpace();
        if (!take('{')) {
            return kept;
        }
        while (true) {
            skipSpace();
            const qsizetype memberStart = position_;
            if (peek() != '"' || !skipString()) {
                break;
            }
            skipSpace();
            if (!take(':')) {
                break;
            }
            skipSpace();
            const qsizetype valueStart = position_;
            if (!skipValue()) {
                keepWholeElements(kept, memberStart, valueStart);
                break;
            }
            const QByteArray member = text_.mid(memberStart, position_ - memberStart);
            skipSpace();
            const bool isAtEnd = position_ >= text_.size();
            if (!isAtEnd && peek() != ',' && peek() != '}') {
                break;
            }
            // A number at the very end may have lost digits.
            if (!(isAtEnd && isNumberStart(text_[valueStart]))) {
                keep(kept, member);
            }
            if (!take(',')) {
                break;
            }
        }
        return kept;
    }

private:
    static bool isNumberStart(char c) { return c == '-' || (c >= '0' && c <= '9'); }

    char peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
    bool take(char c) {
        if (peek() != c) {
            return false;
        }
        ++position_;
        return true;
    }
    void skipSpace() {
        while (position_ < text_.size() && QByteArrayView(" \t\r\n").contains(text_[position_])) {
            ++position_;
        }
    }
    // From an opening quote past the closing one; false when the text ends first.
    bool skipString() {
        for (++position_; position_ < text_.size(); ++position_) {
            if (text_[position_] == '\\') {
                ++position_;
            } else if (text_[position_] == '"') {
                ++position_;
                return true;
            }
        }
        return false;
    }
    // Past one value, without checking it; false when the text ends first.
    bool skipValue() {
        const char first = peek();
        if (first == '"') {
            return skipString();
        }
        if (first == '{' || first == '[') {
            int depth = 0;
            while (position_ < text_.size()) {
                const char c = text_[position_];
                if (c == '"') {
                    if (!skipString()) {
                        return false;
                    }
                    continue;
                }
                ++position_;
                depth += (c == '{' || c == '[') ? 1 : (c == '}' || c == ']') ? -1 : 0;
                if (depth == 0) {
                    return true;
                }
            }
            return false;
        }
        const qsizetype start = position_;
        while (position_ < text_.size() && !QByteArrayView(",}] \t\r\n").contains(text_[position_])) {
            ++position_;
        }
        return position_ > start;
    }

    // A list cut short keeps the elements that are whole.
    void keepWholeElements(QJsonObject& kept, qsizetype memberStart, qsizetype valueStart) {
        position_ = valueStart;
        if (!take('[')) {
            return;
        }
        QByteArray elements;
        while (true) {
            skipSpace();
            const qsizetype elementStart = position_;
            if (!skipValue()) {
                break;
            }
            const qsizetype elementEnd = position_;
            skipSpace();
            const bool isAtEnd = position_ >= text_.size();
            if ((!isAtEnd && peek() != ',') || (isAtEnd && isNumberStart(text_[elementStart]))) {
                break;
            }
            elements += (elements.isEmpty() ? "" : ",") + text_.mid(elementStart, elementEnd - elementStart);
            if (!take(',')) {
                break;
            }
        }
        keep(kept, text_.mid(memberStart, valueStart - memberStart) + '[' + elements + ']');
    }

    static void keep(QJsonObject& kept, const QByteArray& member) {
        const QJsonDocument document = QJsonDocument::fromJson('{' + member + '}');
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            kept.insert(it.key(), it.value());
        }
    }

    const QByteArray& text_;
    qsizetype position_ = 0;
};

ParsedSettings parseSettings(const QByteArray& contents) {
    QByteArray text = contents;
    if (text.startsWith("\xEF\xBB\xBF")) {
        text.remove(0, 3); // a byte order mark some editors write
    }
    if (text.trimmed().isEmpty()) {
        return {}; // a new, empty file
    }
    // Ill-formed UTF-8 becomes U+FFFD, so that one bad byte in a phrase costs that byte alone.
    const QByteArray wellFormed = QString::fromUtf8(text).toUtf8();
    const bool hadIllFormedUtf8 = wellFormed != text;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wellFormed, &error);
    if (error.error == QJsonParseError::NoError) {
        return {document.object(), hadIllFormedUtf8 || !document.isObject()};
    }
    return {MemberSalvager(wellFormed).salvage(), true};
}

// A writer that died between creating the lock and writing its process id into it leaves an
// empty lock that QLockFile only overrides after 30 seconds, blocking every write until then; a
// live writer fills it at once.
void removeAbandonedLockFile(const QString& settingsPath) {
    const QFileInfo lock(settingsPath + ".lock");
    if (lock.exists() && lock.size() == 0 &&
        lock.lastModified().msecsTo(QDateTime::currentDateTime()) > abandonedLockAge.count()) {
        QFile::remove(lock.filePath());
    }
}

// ~/.config/Harkwell/Harkwell.json, or under $XDG_CONFIG_HOME when set.
QString defaultSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Harkwell/Harkwell.json";
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultSettingsPath()) {}

SettingsStore::SettingsStore(const QString& filePath, WallClock now) : filePath_(filePath), now_(std::move(now)) {
    removeAbandonedLockFile(filePath_);
    if (const auto failure = takeInFileOnDisk()) {
        // Nothing is written until the file can be read (and its damage kept aside).
        qCWarning(logModel) << "settings file" << filePath_ << "left as it is:" << *failure;
    }
}

bool SettingsStore::contains(const QString& key) const { return values_.contains(key); }

std::optional<QStringList> SettingsStore::stringList(const QString& key) const {
    const QJsonValue value = values_.value(key);
    if (!value.isArray()) {
        return std::nullopt;
    }
    QStringList strings;
    for (const QJsonValue element : value.toArray()) {
        if (!element.isString()) {
            return std::nullopt;
        }
        strings.append(element.toString());
    }
    return strings;
}

std::optional<QString> SettingsStore::string(const QString& key) const {
    const QJsonValue value = values_.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<uint32_t> SettingsStore::unsignedNumber(const QString& key) const {
    const QJsonValue value = values_.value(key);
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > 4294967295.0 || std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(number);
}

bool SettingsStore::boolean(const QString& key) const {
    const QJsonValue value = values_.value(key);
    return value.isBool() && value.toBool();
}

void SettingsStore::setStringList(const QString& key, const QStringList& value) {
    set(key, QJsonArray::fromStringList(value));
}

void SettingsStore::setString(const QString& key, const QString& value) { set(key, value); }

void SettingsStore::setUnsignedNumber(const QString& key, uint32_t value) { set(key, static_cast<qint64>(value)); }

void SettingsStore::setBoolean(const QString& key, bool value) { set(key, value); }

void SettingsStore::remove(const QString& key) {
    values_.remove(key);
    unwrittenKeys_.insert(key);
    write();
}

void SettingsStore::set(const QString& key, const QJsonValue& value) {
    values_.insert(key, value);
    unwrittenKeys_.insert(key);
    write();
}

void SettingsStore::write() {
    const auto failure = tryWrite();
    if (failure) {
        qCWarning(logModel) << "settings not saved to" << filePath_ << ":" << *failure;
    }
    if (onWriteFinished) {
        onWriteFinished(failure);
    }
}

std::optional<QString> SettingsStore::tryWrite() {
    std::error_code folderError;
    std::filesystem::create_directories(QFile::encodeName(QFileInfo(filePath_).absolutePath()).toStdString(),
                                        folderError);
    if (folderError) {
        return QString::fromLocal8Bit(folderError.message());
    }
    QLockFile lock(filePath_ + ".lock");
    if (!lock.tryLock(lockTimeout) && lock.error() == QLockFile::LockFailedError) {
        return QString("another program holds %1.lock").arg(filePath_);
    }
    // A lock that cannot be created (a folder that cannot be written) leaves the reason to the
    // write below, which fails the same way.
    if (auto failure = takeInFileOnDisk()) {
        return failure;
    }
    const QByteArray contents = QJsonDocument(values_).toJson(QJsonDocument::Indented);
    const bool isNewFile = !QFileInfo::exists(filePath_);
    QSaveFile file(filePath_);
    // Unbuffered, so that the write below meets a full disk itself and learns why.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    // Call phrases are people's names: a new file is for its owner's eyes only.
    if (isNewFile && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    // A write cut short says why only when tried again.
    for (qsizetype written = 0; written < contents.size();) {
        const qint64 count = file.write(contents.constData() + written, contents.size() - written);
        if (count <= 0) {
            return file.errorString();
        }
        written += count;
    }
    if (!file.commit()) {
        return file.errorString();
    }
    lastSeenContents_ = contents;
    unwrittenKeys_.clear();
    return std::nullopt;
}

std::optional<QString> SettingsStore::takeInFileOnDisk() {
    QFile file(filePath_);
    QByteArray contents;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            return file.errorString();
        }
        contents = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            return file.errorString();
        }
    }
    if (contents == lastSeenContents_) {
        return std::nullopt;
    }
    ParsedSettings parsed = parseSettings(contents);
    // What was read is kept even when its damage cannot be copied aside, but the file is then
    // not written over.
    for (const QString& key : unwrittenKeys_) {
        if (values_.contains(key)) {
            parsed.values.insert(key, values_.value(key));
        } else {
            parsed.values.remove(key);
        }
    }
    values_ = parsed.values;
    if (parsed.isDamaged) {
        if (auto failure = keepDamagedCopy(contents)) {
            lastSeenContents_.reset();
            return failure;
        }
    }
    lastSeenContents_ = contents;
    return std::nullopt;
}

std::optional<QString> SettingsStore::keepDamagedCopy(const QByteArray& contents) {
    const QString stem = filePath_ + ".corrupt-" + now_().toString("yyyy-MM-ddTHH-mm-ss");
    QString failure;
    for (int number = 1; number <= mostCopyNames; ++number) {
        QFile copy(number == 1 ? stem : QString("%1-%2").arg(stem).arg(number));
        if (copy.exists()) {
            continue;
        }
        if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            if (copy.exists()) {
                continue; // made by someone else just now
            }
            failure = copy.errorString();
            break;
        }
        if (copy.write(contents) != contents.size() || !copy.flush()) {
            failure = copy.errorString();
            copy.remove();
            break;
        }
        damagedFileCopy_ = copy.fileName();
        qCWarning(logModel) << "settings file" << filePath_ << "was damaged; copied to" << copy.fileName();
        return std::nullopt;
    }
    if (failure.isEmpty()) {
        failure = QString("%1 and %2 more names are taken").arg(stem).arg(mostCopyNames - 1);
    }
    return failure;
}

} // namespace harkwell
