#include "media/MprisPlayers.h"

#include "core/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>

#include <utility>

namespace harkwell {

namespace {

const QString playerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// A{sv} as QtDBus hands it over: a map already, or still a D-Bus argument.
QVariantMap asMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) {
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    }
    return value.toMap();
}

QString asText(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

MediaPlayer::Status statusFrom(const QString& status) {
    if (status == QLatin1String("Playing")) {
        return MediaPlayer::Status::playing;
    }
    return status == QLatin1String("Paused") ? MediaPlayer::Status::paused : MediaPlayer::Status::stopped;
}

} // namespace

MprisPlayers::MprisPlayers(QDBusConnection bus, std::chrono::milliseconds timeout)
    : bus_(std::move(bus)), timeout_(timeout) {}

std::vector<MediaPlayer> MprisPlayers::players() {
    const int timeout = int(timeout_.count());
    const QDBusMessage names = bus_.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
        QDBus::Block, timeout);
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty()) {
        qCWarning(logMedia) << "the session bus's names could not be read:" << names.errorMessage();
        return {};
    }
    // Every player is asked at once; together they take one time-out at most.
    std::vector<std::pair<QString, QDBusPendingCall>> asked;
    for (const QString& name : names.arguments().constFirst().toStringList()) {
        if (!name.startsWith(playerPrefix)) {
            continue;
        }
        auto getAll = QDBusMessage::createMethodCall(
            name, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
        getAll << playerInterface;
        asked.emplace_back(name, bus_.asyncCall(getAll, timeout));
    }
    std::vector<MediaPlayer> players;
    for (auto& [name, call] : asked) {
        QDBusPendingReply<QVariantMap> reply(call);
        reply.waitForFinished();
        if (reply.isError()) {
            qCInfo(logMedia) << "media player" << name << "did not answer:" << reply.error().message();
            continue;
        }
        const QVariantMap properties = reply.value();
        const QVariantMap metadata = asMap(properties.value(QStringLiteral("Metadata")));
        MediaPlayer player;
        player.name = name.toStdString();
        player.status = statusFrom(properties.value(QStringLiteral("PlaybackStatus")).toString());
        player.track = (asText(metadata.value(QStringLiteral("mpris:trackid"))) + '\n' +
                        asText(metadata.value(QStringLiteral("xesam:url"))))
                           .toStdString();
        qCDebug(logMedia) << "media player" << name << properties.value(QStringLiteral("PlaybackStatus")).toString();
        players.push_back(std::move(player));
    }
    return players;
}

void MprisPlayers::pause(const std::string& name) { send(name, "Pause"); }

void MprisPlayers::play(const std::string& name) { send(name, "Play"); }

void MprisPlayers::send(const std::string& name, const char* method) {
    auto message = QDBusMessage::createMethodCall(QString::fromStdString(name), objectPath, playerInterface,
                                                  QString::fromLatin1(method));
    if (!bus_.send(message)) {
        qCWarning(logMedia) << method << "could not be sent to" << logged(name) << ":" << bus_.lastError().message();
    }
}

} // namespace harkwell
