#include "model/SettingsStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <chrono>
#include <cmath>

namespace harkwell {

namespace {

constexpr std::chrono::milliseconds abandonedLockAge{2000};

bool readJson(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray data = device.readAll();
    if (data.trimmed().isEmpty()) {
        return true; // a new, empty file
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        if (value.isArray()) {
            QStringList strings;
            bool allStrings = true;
            for (const QJsonValue element : value.toArray()) {
                allStrings = allStrings && element.isString();
                strings.append(element.toString());
            }
            // A list with anything but strings in it is kept as a plain list, which no
            // reader of string lists accepts.
            map.insert(it.key(), allStrings ? QVariant(strings) : QVariant(value.toArray().toVariantList()));
        } else {
            map.insert(it.key(), value.toVariant());
        }
    }
    return true;
}

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat() {
    static const QSettings::Format format = QSettings::registerFormat("json", readJson, writeJson);
    return format;
}

// QSettings takes "<file>.lock" while it writes. A writer that died between creating the lock
// and writing its process id into it leaves an empty lock that QSettings only overrides after
// 30 seconds, blocking every write until then; a live writer fills it at once.
void removeAbandonedLockFile(const QString& settingsPath) {
    const QFileInfo lock(settingsPath + ".lock");
    if (lock.exists() && lock.size() == 0 &&
        lock.lastModified().msecsTo(QDateTime::currentDateTime()) > abandonedLockAge.count()) {
        QFile::remove(lock.filePath());
    }
}

// Where QSettings keeps organisation "Harkwell", application "Harkwell" for the user.
QString defaultSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Harkwell/Harkwell.json";
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultSettingsPath()) {}

SettingsStore::~SettingsStore() = default;

SettingsStore::SettingsStore(const QString& filePath) {
    removeAbandonedLockFile(filePath);
    settings_ = std::make_unique<QSettings>(filePath, jsonFormat());
    if (settings_->status() == QSettings::FormatError) {
        // Keep the unreadable file for the user before the next write replaces it.
        const QString path = settings_->fileName();
        QFile::remove(path + ".corrupt");
        QFile::copy(path, path + ".corrupt");
    }
}

QString SettingsStore::filePath() const { return settings_->fileName(); }

bool SettingsStore::contains(const QString& key) const { return settings_->contains(key); }

std::optional<QStringList> SettingsStore::stringList(const QString& key) const {
    const QVariant value = settings_->value(key);
    if (value.typeId() != QMetaType::QStringList) {
        return std::nullopt;
    }
    return value.toStringList();
}

std::optional<QString> SettingsStore::string(const QString& key) const {
    const QVariant value = settings_->value(key);
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<uint32_t> SettingsStore::unsignedNumber(const QString& key) const {
    const QVariant value = settings_->value(key);
    const auto type = value.typeId();
    if (type != QMetaType::Double && type != QMetaType::LongLong && type != QMetaType::Int && type != QMetaType::UInt &&
        type != QMetaType::ULongLong) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > 4294967295.0 || std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(number);
}

bool SettingsStore::boolean(const QString& key) const {
    const QVariant value = settings_->value(key);
    return value.typeId() == QMetaType::Bool && value.toBool();
}

void SettingsStore::setStringList(const QString& key, const QStringList& value) {
    settings_->setValue(key, value);
    flush();
}

void SettingsStore::setString(const QString& key, const QString& value) {
    settings_->setValue(key, value);
    flush();
}

void SettingsStore::setUnsignedNumber(const QString& key, uint32_t value) {
    settings_->setValue(key, static_cast<double>(value));
    flush();
}

void SettingsStore::setBoolean(const QString& key, bool value) {
    settings_->setValue(key, value);
    flush();
}

void SettingsStore::remove(const QString& key) {
    settings_->remove(key);
    flush();
}

void SettingsStore::flush() { settings_->sync(); }

} // namespace harkwell
