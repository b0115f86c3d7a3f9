#include "model/SettingsStore.h"

#include "core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <QDir>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harkwell {

namespace {

constexpr std::chrono::milliseconds abandonedLockAge{2000};
// Another writer holds the lock for the few milliseconds of one write.
constexpr std::chrono::milliseconds lockTimeout{5000};
constexpr int mostCopyNames = 1000;
// Settings take a few kilobytes; a larger file is not read.
constexpr qint64 largestSettingsFile = qint64{1024} * 1024;

QString systemError(int error) { return QString::fromLocal8Bit(std::generic_category().message(error)); }

// What lies at a settings path, looked at before anything is opened, so that a FIFO, a device or a
// folder in its place is never opened and a huge file never read whole.
struct FileOnDisk {
    // Why it could not be looked at or read.
    std::optional<QString> failure;
    bool isLink = false;
    // Why it is no settings file, without reading it: not a regular file, or too large for one.
    std::optional<QString> unreadableBecause;
    // What it holds; empty when there is nothing there (or only a link to a file still to be made).
    QByteArray contents;
};

// Reads to the end, which a file that grew since it was looked at may push past the limit.
void readToEnd(int descriptor, FileOnDisk& file) {
    char buffer[64 * 1024];
    while (true) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count < 0) {
                file.failure = systemError(errno);
            }
            return;
        }
        file.contents.append(buffer, count);
        if (file.contents.size() > largestSettingsFile) {
            file.unreadableBecause = "larger than 1 MiB";
            file.contents.clear();
            return;
        }
    }
}

FileOnDisk readSettingsFile(const QString& path) {
    FileOnDisk file;
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0) {
        if (errno != ENOENT) {
            file.failure = systemError(errno);
        }
        return file;
    }
    file.isLink = S_ISLNK(status.st_mode);
    if (file.isLink && ::stat(name.constData(), &status) != 0) {
        if (errno == ELOOP) {
            file.unreadableBecause = "a loop of links";
        } else if (errno != ENOENT) {
            file.failure = systemError(errno);
        }
        return file;
    }
    const auto unreadable = [](const struct stat& found) -> std::optional<QString> {
        if (!S_ISREG(found.st_mode)) {
            return S_ISDIR(found.st_mode) ? "a folder" : "not a regular file";
        }
        if (found.st_size > largestSettingsFile) {
            return QString("%1 bytes long").arg(found.st_size);
        }
        return std::nullopt;
    };
    if ((file.unreadableBecause = unreadable(status))) {
        return file;
    }
    // Not blocking, in case a FIFO took the file's place since it was looked at.
    const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        file.failure = systemError(errno);
        return file;
    }
    if (::fstat(descriptor, &status) != 0) {
        file.failure = systemError(errno);
    } else if (!(file.unreadableBecause = unreadable(status))) { // not replaced since it was looked at
        readToEnd(descriptor, file);
    }
    ::close(descriptor);
    return file;
}

// Whether anything, a dangling link included, has the name.
bool isNameTaken(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 || errno != ENOENT;
}

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
    // A link to valid settings is written through (a file kept with others under version control);
    // a link to a damaged file, which may be anything, is replaced by a file of Harkwell's own,
    // written beside it under another name first, so that a crash leaves one or the other.
    const bool replacesLink = isLink_ && isDamaged_;
    const QString writtenPath = replacesLink ? filePath_ + ".new" : filePath_;
    const bool isNewFile = replacesLink || !QFileInfo::exists(filePath_);
    QSaveFile file(writtenPath);
    // Unbuffered, so that the write below meets a full disk itself and learns why.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // A link's target (in a folder that is gone, say) is not the path the user knows.
        return isLink_ && !replacesLink ? QFileInfo(filePath_).symLinkTarget() + ": " + file.errorString()
                                        : file.errorString();
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
    if (replacesLink &&
        ::rename(QFile::encodeName(writtenPath).constData(), QFile::encodeName(filePath_).constData()) != 0) {
        const QString reason = systemError(errno);
        QFile::remove(writtenPath);
        return reason;
    }
    isLink_ = isLink_ && !replacesLink;
    isDamaged_ = false;
    lastSeenContents_ = contents;
    unwrittenKeys_.clear();
    return std::nullopt;
}

std::optional<QString> SettingsStore::takeInFileOnDisk() {
    FileOnDisk file = readSettingsFile(filePath_);
    if (file.failure) {
        return file.failure;
    }
    if (file.unreadableBecause) {
        // Moved aside whole, so that Harkwell can write its settings in its place.
        qCWarning(logModel) << "settings file" << filePath_ << "is" << *file.unreadableBecause;
        if (auto failure = keepDamagedFile(std::nullopt)) {
            lastSeenContents_.reset();
            return failure;
        }
        file = FileOnDisk{};
    }
    isLink_ = file.isLink;
    if (file.contents == lastSeenContents_) {
        return std::nullopt;
    }
    ParsedSettings parsed = parseSettings(file.contents);
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
    isDamaged_ = parsed.isDamaged;
    if (parsed.isDamaged) {
        if (auto failure = keepDamagedFile(file.contents)) {
            lastSeenContents_.reset();
            return failure;
        }
    }
    lastSeenContents_ = file.contents;
    return std::nullopt;
}

std::optional<QString> SettingsStore::keepDamagedFile(const std::optional<QByteArray>& contents) {
    if (contents) {
        if (auto earlier = earlierCopyOf(*contents)) {
            damagedFileCopy_ = earlier;
            isDamagedFileUnread_ = false;
            qCWarning(logModel) << "settings file" << filePath_ << "is damaged as when copied to" << *earlier;
            return std::nullopt;
        }
    }
    const QString stem = filePath_ + ".corrupt-" + now_().toString("yyyy-MM-ddTHH-mm-ss");
    QString failure;
    for (int number = 1; number <= mostCopyNames; ++number) {
        const QString name = number == 1 ? stem : QString("%1-%2").arg(stem).arg(number);
        if (isNameTaken(name)) {
            continue;
        }
        if (!contents) {
            if (::rename(QFile::encodeName(filePath_).constData(), QFile::encodeName(name).constData()) != 0) {
                failure = systemError(errno);
                break;
            }
            damagedFileCopy_ = name;
            isDamagedFileUnread_ = true;
            qCWarning(logModel) << "settings file" << filePath_ << "moved to" << name;
            return std::nullopt;
        }
        QFile copy(name);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            if (isNameTaken(name)) {
                continue; // made by someone else just now
            }
            failure = copy.errorString();
            break;
        }
        if (copy.write(*contents) != contents->size() || !copy.flush()) {
            failure = copy.errorString();
            copy.remove();
            break;
        }
        damagedFileCopy_ = name;
        isDamagedFileUnread_ = false;
        qCWarning(logModel) << "settings file" << filePath_ << "was damaged; copied to" << name;
        return std::nullopt;
    }
    if (failure.isEmpty()) {
        failure = QString("%1 and %2 more names are taken").arg(stem).arg(mostCopyNames - 1);
    }
    return failure;
}

std::optional<QString> SettingsStore::earlierCopyOf(const QByteArray& contents) const {
    const QFileInfo settings(filePath_);
    const QString prefix = settings.fileName() + ".corrupt-";
    const QFileInfoList candidates =
        QDir(settings.absolutePath()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& candidate : candidates) {
        if (candidate.fileName().startsWith(prefix) && candidate.size() == contents.size()) {
            const FileOnDisk copy = readSettingsFile(candidate.filePath());
            if (!copy.failure && !copy.unreadableBecause && copy.contents == contents) {
                return candidate.filePath();
            }
        }
    }
    return std::nullopt;
}

} // namespace harkwell
