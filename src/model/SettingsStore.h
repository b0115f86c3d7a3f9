#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class QSettings;

namespace harkwell {

// The user's settings: QSettings for organisation and application "Harkwell", kept in a JSON
// file so that every value reads back with the type it was written with (a list of one or no
// strings stays a list, a number stays a number).
//
// Every write is flushed at once. QSettings replaces the file atomically and takes a lock
// file while it does, so a crash or a second process mid-write leaves the old or the new
// file, never a mix. A value of the wrong type, or a file that cannot be parsed, reads as
// absent; an unparsable file is copied aside as "<file>.corrupt" before it is written over.
class SettingsStore {
public:
    // The user's own settings file (~/.config/Harkwell/Harkwell.json).
    SettingsStore();
    // A settings file of the caller's choosing.
    explicit SettingsStore(const QString& filePath);
    ~SettingsStore();

    QString filePath() const;

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
    void flush();

    std::unique_ptr<QSettings> settings_;
};

} // namespace harkwell
