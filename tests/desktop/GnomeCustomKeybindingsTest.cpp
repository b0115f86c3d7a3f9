#include "desktop/CustomKeybindings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

const QString listGroup = "org/gnome/settings-daemon/plugins/media-keys";
const QString entriesGroup = listGroup + "/custom-keybindings/";

// One value of a GLib key file, as written there: "'<Super>t'".
QString valueIn(const QString& keyFile, const QString& group, const QString& key) {
    const QRegularExpression section("^\\[" + QRegularExpression::escape(group) + "\\]\\n((?:[^[].*\\n|\\n)*)",
                                     QRegularExpression::MultilineOption);
    const QString lines = section.match(keyFile).captured(1);
    return QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption).match(lines).captured(1);
}

// Against GIO's key-file backend in a private configuration folder, holding an entry of the
// user's own: Harkwell's entry is added once, then updated, then removed; the user's is kept.
TEST(GnomeCustomKeybindingsTest, AddsUpdatesAndRemovesHarkwellsEntryAndKeepsTheOthers) {
    const QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("GSETTINGS_BACKEND", "keyfile");
    const QString path = config.filePath("glib-2.0/settings/keyfile");
    ASSERT_TRUE(QDir().mkpath(config.filePath("glib-2.0/settings")));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("[" + listGroup + "]\ncustom-keybindings=['/" + entriesGroup + "custom0/']\n\n[" + entriesGroup +
                "custom0]\nname='Terminal'\ncommand='gnome-terminal'\nbinding='<Super>t'\n")
                   .toUtf8());
    file.close();

    auto keybindings = makeGnomeCustomKeybindings();
    ASSERT_TRUE(keybindings) << "GNOME's schemas are missing (gnome-settings-daemon-common)";
    const auto read = [&] {
        QFile written(path);
        return written.open(QIODevice::ReadOnly) ? QString::fromUtf8(written.readAll()) : QString();
    };
    const QString expectedList = "['/" + entriesGroup + "custom0/', '/" + entriesGroup + "harkwell/']";
    for (const QString binding : {"<Super><Shift>h", "<Control><Alt>k"}) {
        EXPECT_EQ(keybindings->write({"Harkwell", "harkwell --toggle-mode", binding}), std::nullopt);
        const QString keyFile = read();
        EXPECT_EQ(valueIn(keyFile, listGroup, "custom-keybindings"), expectedList) << keyFile.toStdString();
        EXPECT_EQ(valueIn(keyFile, entriesGroup + "harkwell", "binding"), "'" + binding + "'");
        EXPECT_EQ(valueIn(keyFile, entriesGroup + "harkwell", "command"), "'harkwell --toggle-mode'");
        EXPECT_EQ(valueIn(keyFile, entriesGroup + "custom0", "binding"), "'<Super>t'");
    }
    EXPECT_EQ(keybindings->remove(), std::nullopt);
    const QString keyFile = read();
    EXPECT_EQ(valueIn(keyFile, listGroup, "custom-keybindings"), "['/" + entriesGroup + "custom0/']");
    EXPECT_EQ(valueIn(keyFile, entriesGroup + "harkwell", "binding"), "");
    EXPECT_EQ(valueIn(keyFile, entriesGroup + "custom0", "binding"), "'<Super>t'");
}

} // namespace
} // namespace harkwell
