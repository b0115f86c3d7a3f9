#include "model/AutostartEntry.h"
#include "ModelFakes.h"

#include <QDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::contentsOf;
using testing::writeFile;

// The Exec value as desktops read it: string escapes first, then
// quoting; a path without reserved characters goes bare.
TEST(AutostartEntryTest, TheExecValueQuotesAndEscapesWhatDesktopEntriesReserve) {
    const std::vector<std::pair<QString, QString>> cases{
        {"/usr/bin/harkwell", "/usr/bin/harkwell"},
        {"/opt/Harkwell-1.0_x86/bin/harkwell", "/opt/Harkwell-1.0_x86/bin/harkwell"},
        {"/home/ann/My Apps/harkwell", R"("/home/ann/My Apps/harkwell")"},
        {"/home/ann/100%/harkwell", "/home/ann/100%%/harkwell"},
        {"/home/ann/50% off/harkwell", R"("/home/ann/50%% off/harkwell")"},
        {"/tmp/#1/harkwell", R"("/tmp/#1/harkwell")"},
        {"/tmp/it's/harkwell", R"("/tmp/it's/harkwell")"},
        {R"(/tmp/a"b/harkwell)", R"("/tmp/a\\"b/harkwell")"},
        {"/tmp/$HOME/`x`/harkwell", R"("/tmp/\\$HOME/\\`x\\`/harkwell")"},
        {R"(/tmp/back\slash/harkwell)", R"("/tmp/back\\\\slash/harkwell")"},
        {"/tmp/tab\there/harkwell", R"("/tmp/tab\there/harkwell")"},
        {"/tmp/new\nline/harkwell", R"("/tmp/new\nline/harkwell")"},
        {"/home/민수/harkwell", "/home/민수/harkwell"},
    };
    for (const auto& [path, exec] : cases) {
        EXPECT_EQ(AutostartEntry::execValue(path), exec) << path.toStdString();
    }
}

// What a file of that name says to the session, whoever wrote it.
TEST(AutostartEntryTest, AnEntryIsOnWhenItIsADesktopEntryNeitherHiddenNorSwitchedOff) {
    const QByteArray ours = AutostartEntry("unused", "/usr/bin/harkwell").contents();
    const std::vector<std::tuple<const char*, std::optional<QByteArray>, bool>> cases{
        {"no file", std::nullopt, false},
        {"the entry Harkwell writes", ours, true},
        {"edited by hand", "[Desktop Entry]\nType=Application\nExec=harkwell --quiet\n", true},
        {"hidden", ours + "Hidden=true\n", false},
        {"hidden, spaced", "[Desktop Entry]\r\nExec=harkwell\r\n  Hidden = true  \r\n", false},
        {"not hidden", ours + "Hidden=false\n", true},
        {"switched off in GNOME", "[Desktop Entry]\nExec=harkwell\nX-GNOME-Autostart-enabled=false\n", false},
        {"hidden in another group only", ours + "[Desktop Action quit]\nHidden=true\n", true},
        {"empty", "", false},
        {"not a desktop entry", "Exec=harkwell\n", false},
    };
    QTemporaryDir directory;
    const AutostartEntry entry(directory.path(), "/usr/bin/harkwell");
    for (const auto& [name, contents, enabled] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(entry.filePath());
        if (contents) {
            writeFile(entry.filePath(), *contents);
        }
        EXPECT_EQ(entry.isEnabled(), enabled);
    }
}

TEST(AutostartEntryTest, SwitchingOnWritesTheEntryAndItsFolderAndSwitchingOffRemovesIt) {
    QTemporaryDir directory;
    AutostartEntry entry(directory.filePath("config/autostart"), "/opt/Harkwell Test/harkwell");
    EXPECT_EQ(entry.filePath(), directory.filePath("config/autostart/io.github.harkwell.Harkwell.desktop"));
    EXPECT_EQ(entry.setEnabled(true), std::nullopt);
    EXPECT_TRUE(entry.isEnabled());
    const QByteArray written = contentsOf(entry.filePath());
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\nType=Application\nName=Harkwell\n")) << written.toStdString();
    EXPECT_TRUE(written.contains("\nExec=\"/opt/Harkwell Test/harkwell\"\n")) << written.toStdString();

    // A hidden entry is replaced whole.
    writeFile(entry.filePath(), written + "Hidden=true\n");
    EXPECT_EQ(entry.setEnabled(true), std::nullopt);
    EXPECT_EQ(contentsOf(entry.filePath()), written);

    EXPECT_EQ(entry.setEnabled(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry.filePath()));
    EXPECT_EQ(entry.setEnabled(false), std::nullopt); // nothing to remove
    EXPECT_EQ(QDir(directory.filePath("config/autostart")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
}

} // namespace
} // namespace harkwell
