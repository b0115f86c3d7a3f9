#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace harkwell {

// The user's settings, one JSON object in one file, so that every value reads back with the type
// it was written with (a list of one or no strings stays a list, a number stays a number).
//
// Every change is written at once, through a new file that replaces the old one under
// "<file>.lock", so a crash or a second process mid-write leaves the old or the new file, never a
// mix; a new file is readable by its owner only, an existing one keeps its permissions. Before
// writing, the store takes in what another process wrote since, keeping its own changes.
//
// A value of the wrong type reads as absent. A damaged file loses as little as possible:
// ill-formed UTF-8 reads as U+FFFD, a file cut short or garbled keeps every member of the object
// that is whole (and the whole elements of a list cut short), and the damaged file is copied to
// "<file>.corrupt-<local time>" (with "-2", "-3"... when that name is taken) before anything
// replaces it, unless a copy with the same contents is there already.
//
// The file is looked at before it is opened, and only a regular file of at most 1 MiB (or a link
// to one) is read. Anything else in its place (a folder, a FIFO, a device, a larger file, or a link
// to one of these) is damaged too: it is moved aside under the same name a copy would have, unread.
// Writing goes through a link to valid settings; a link to a damaged file is replaced by a new
// file, and what it points to is left as it is. A write through a link that fails names the
// link's target.
class SettingsStore {
public:
    // The wall clock that names copies of damaged files.
    using WallClock = std::function<QDateTime()>;

    // The user's own settings file (~/.config/Harkwell/Harkwell.json).
    SettingsStore();
    // A settings file of the caller's choosing.
    explicit SettingsStore(
        const QString& filePath, WallClock now = [] { return QDateTime::currentDateTime(); });

    QString filePath() const { return filePath_; }
    // Where the damaged file this store found (at construction, or before a write) was copied
    // last; nothing while the file was whole.
    const std::optional<QString>& damagedFileCopy() const { return damagedFileCopy_; }
    // Whether that was no settings file (a folder, a FIFO, a file over 1 MiB...), moved aside
    // whole and unread, rather than a damaged one whose readable settings were kept.
    bool isDamagedFileUnread() const { return isDamagedFileUnread_; }

    // Called after every change with the reason it could not be written, or with nothing once it
    // was. A change that could not be written is kept in memory and written with the next one.
    std::function<void(const std::optional<QString>& failureReason)> onWriteFinished;

    bool contains(const QString& key) const;
    std::optional<QStringList> stringList(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    // An integral number from 0 to 2^32 - 1.
    std::optional<uint32_t> unsignedNumber(const QString& key) const;
    // Absent or not a Boolean reads as false.
    bool boolean(const QString& key) const;

    void setStringList(const QString& key, const QStringList& value);
    void setString(const QString& key, const QString& value);
    void setUnsignedNumber(const QString& key, uint32_t value);
    void setBoolean(const QString& key, bool value);
    void remove(const QString& key);

private:
    void set(const QString& key, const QJsonValue& value);
    void write();
    std::optional<QString> tryWrite();
    // Reads the file as it is now and takes in what changed in it since it was last read or
    // written here; the reason when it cannot be read or its damage cannot be kept aside.
    std::optional<QString> takeInFileOnDisk();
    // Copies damaged contents aside, or, without contents, moves what is at the file's path aside;
    // the reason when that fails.
    std::optional<QString> keepDamagedFile(const std::optional<QByteArray>& contents);
    // A copy of damaged contents made earlier, beside the file.
    std::optional<QString> earlierCopyOf(const QByteArray& contents) const;

    QString filePath_;
    WallClock now_;
    QJsonObject values_;
    // Keys changed here and not yet written.
    QSet<QString> unwrittenKeys_;
    // The file's contents when it was last read or written here; nothing when it could not be
    // read, or its damage could not be kept aside yet.
    std::optional<QByteArray> lastSeenContents_;
    // Whether the file's path was a link, and its contents were damaged, when last read.
    bool isLink_ = false;
    bool isDamaged_ = false;
    std::optional<QString> damagedFileCopy_;
    bool isDamagedFileUnread_ = false;
};

} // namespace harkwell
