#include "model/SettingsStore.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harkwell {
namespace {

using testing::contentsOf;
using testing::json;
using testing::useLocale;
using testing::writeFile;

// The permission bits alone, as in `chmod`.
int modeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

// S_IFREG, S_IFLNK, ... of what lies at the path, 0 for nothing.
unsigned fileType(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0u;
}

// Makes the file's lock look left by a writer that died ten seconds ago (creating it if need be).
bool ageLock(const QString& file) {
    QFile lock(file + ".lock");
    return lock.open(QIODevice::ReadWrite) &&
           lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime);
}

const QDateTime copyTime(QDate(2026, 12, 6), QTime(15, 4, 5));
const QString copySuffix = ".corrupt-2026-12-06T15-04-05";

// What the model writes and reads back is checked through its settings in AppModelTest; here, what
// the store finds on disk that it did not write, and what it does when it cannot write.
class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return directory.filePath("Harkwell.json"); }
    QString numberedPath() { return directory.filePath(QString("Harkwell-%1.json").arg(++files)); }
    static SettingsStore store(const QString& file) {
        return SettingsStore(file, [] { return copyTime; });
    }
    // Writes one key and checks that the file then holds the values plus that key.
    static void expectWritten(SettingsStore& loaded, const QString& file, QJsonObject values) {
        loaded.setBoolean("written", true);
        values.insert("written", true);
        EXPECT_EQ(json(contentsOf(file)), values);
    }

    QTemporaryDir directory;
    int files = 0;
};

TEST_F(SettingsStoreTest, ValuesOfTheWrongTypeReadAsAbsent) {
    writeFile(path(), R"({"mixed": ["a", 1], "text": ["a"], "number": "12", "negative": -1, "fraction": 1.5,
                  "huge": 4294967296, "max": 4294967295, "flag": "true", "zero": 0})");
    SettingsStore store(path());
    EXPECT_EQ(store.stringList("mixed"), std::nullopt);
    EXPECT_EQ(store.string("text"), std::nullopt);
    for (const char* key : {"number", "negative", "fraction", "huge"}) {
        EXPECT_EQ(store.unsignedNumber(key), std::nullopt) << key;
    }
    EXPECT_EQ(store.unsignedNumber("zero"), 0u);
    EXPECT_EQ(store.unsignedNumber("max"), 4294967295u);
    EXPECT_FALSE(store.boolean("flag"));
}

// What a damaged file keeps, read back through the file the next change writes; the damaged file
// is copied aside first, privately.
TEST_F(SettingsStoreTest, ADamagedFileKeepsWhatCanBeReadAndIsCopiedAsideFirst) {
    const QByteArray whole = R"({"hotKeyKeyCode": 40, "permissionSetupComplete": true, "wakePhrase": "James",
        "wakePhrases": ["James", "Dr. Kim", "Minsu"]})";
    const QByteArray head = R"({"hotKeyKeyCode": 40, "permissionSetupComplete": true)";
    // The file, what it keeps (empty: nothing), whether it is damaged.
    const std::vector<std::tuple<const char*, QByteArray, QByteArray, bool>> cases{
        {"cut off in the last phrase", whole.left(whole.indexOf("Minsu") + 2),
         head + R"(, "wakePhrase": "James", "wakePhrases": ["James", "Dr. Kim"]})", true},
        {"cut off after the last phrase", whole.left(whole.indexOf("Minsu") + 6),
         head + R"(, "wakePhrase": "James", "wakePhrases": ["James", "Dr. Kim", "Minsu"]})", true},
        {"cut off in a key", whole.left(whole.indexOf("wakePhrase") + 5), head + "}", true},
        {"cut off after a number that may have lost digits", R"({"permissionSetupComplete": true, "hotKeyKeyCode": 4)",
         R"({"permissionSetupComplete": true})", true},
        {"ill-formed UTF-8 in one phrase", "{\"wakePhrases\": [\"James\", \"Min\xffsu\"], \"wakePhrase\": \"J\"}",
         "{\"wakePhrases\": [\"James\", \"Min\xef\xbf\xbdsu\"], \"wakePhrase\": \"J\"}", true},
        {"a garbled value", R"({"selectedMode": anc, "permissionSetupComplete": true})",
         R"({"permissionSetupComplete": true})", true},
        {"two members run together", R"({"selectedMode": "anc "permissionSetupComplete": true})", {}, true},
        {"not an object", R"(["James"])", {}, true},
        {"binary", QByteArray("\x00\x01\x7f", 3), {}, true},
        {"whole, after a byte order mark", "\xEF\xBB\xBF" + whole, whole, false},
        {"empty", " \n", {}, false},
    };
    for (const auto& [name, contents, kept, isDamaged] : cases) {
        SCOPED_TRACE(name);
        const QString file = numberedPath();
        writeFile(file, contents);
        auto loaded = store(file);
        EXPECT_EQ(contentsOf(file), contents) << "loading wrote the file";
        EXPECT_EQ(loaded.damagedFileCopy(), isDamaged ? std::optional(file + copySuffix) : std::nullopt);
        EXPECT_EQ(contentsOf(file + copySuffix), isDamaged ? contents : QByteArray());
        if (isDamaged) {
            EXPECT_EQ(modeOf(file + copySuffix), 0600) << "the copy holds people's names";
        }
        expectWritten(loaded, file, json(kept));
    }
}

// Each damaged load keeps its own copy; the same damaged file found again (as at each start until
// a change replaces it) keeps the copy made the first time.
TEST_F(SettingsStoreTest, EachDamagedFileIsCopiedOnce) {
    const QByteArray first = R"({"wakePhrases": ["James", "Ki)";
    const QByteArray second = "{\"wakePhrase\": \"\xff\xfe\"}";
    writeFile(path(), first);
    EXPECT_EQ(store(path()).damagedFileCopy(), path() + copySuffix);
    EXPECT_EQ(SettingsStore(path(), [] { return copyTime.addSecs(60); }).damagedFileCopy(), path() + copySuffix);
    writeFile(path(), second);
    EXPECT_EQ(store(path()).damagedFileCopy(), path() + copySuffix + "-2");
    EXPECT_EQ(contentsOf(path() + copySuffix), first);
    EXPECT_EQ(contentsOf(path() + copySuffix + "-2"), second);
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// Whatever takes the file's place, the store starts at once: a file of settings' size is read
// (through a link too) and copied aside when damaged; anything else is never opened and is moved
// aside whole. A link to a damaged file is replaced by a file of the store's own, and what it
// points to is left as it is; a link to valid settings is written through.
TEST_F(SettingsStoreTest, WhatTakesTheFilesPlaceIsLookedAtBeforeItIsOpened) {
    const QByteArray valid = R"({"wakePhrases": ["James"]})";
    const QByteArray notSettings = "export PATH=$HOME/bin:$PATH\n";
    QByteArray oversized = valid; // one byte longer than a settings file may be
    oversized.append(QByteArray(1024 * 1024 + 1 - valid.size(), ' '));
    const QString target = directory.filePath("elsewhere");
    const auto link = [](const QString& to, const QString& from) {
        ASSERT_EQ(::symlink(QFile::encodeName(to).constData(), QFile::encodeName(from).constData()), 0);
    };
    const auto linkTo = [&](const QByteArray& contents) {
        return [&, contents](const QString& file) {
            writeFile(target, contents);
            link(target, file);
        };
    };
    const auto plain = [&](const QByteArray& contents) {
        return [&, contents](const QString& file) { writeFile(file, contents); };
    };
    // What is made at the file's path; what lies at the copy's name afterwards (0: nothing) and what
    // it holds when a file; whether the phrases were read; what lies at the path once written.
    const std::vector<
        std::tuple<const char*, std::function<void(const QString&)>, unsigned, QByteArray, bool, unsigned>>
        cases{
            {"garbage", plain(notSettings), S_IFREG, notSettings, false, S_IFREG},
            {"a FIFO",
             [](const QString& f) { ASSERT_EQ(::mkfifo(QFile::encodeName(f).constData(), 0600), 0); },
             S_IFIFO,
             {},
             false,
             S_IFREG},
            {"a folder", [](const QString& f) { ASSERT_TRUE(QDir().mkdir(f)); }, S_IFDIR, {}, false, S_IFREG},
            {"a link to /dev/zero", [&](const QString& f) { link("/dev/zero", f); }, S_IFLNK, {}, false, S_IFREG},
            {"a link in a loop", [&](const QString& f) { link(f, f); }, S_IFLNK, {}, false, S_IFREG},
            {"larger than 1 MiB", plain(oversized), S_IFREG, oversized, false, S_IFREG},
            {"a link to a file larger than 1 MiB", linkTo(oversized), S_IFLNK, {}, false, S_IFREG},
            {"a link to a file that is no settings", linkTo(notSettings), S_IFREG, notSettings, false, S_IFREG},
            {"a link to valid settings", linkTo(valid), 0, {}, true, S_IFLNK},
        };
    for (const auto& [name, make, keptAside, copied, readsPhrases, writtenAs] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(target);
        const QString file = numberedPath();
        make(file);
        const QByteArray targetBefore = contentsOf(target);
        const bool wasRegular = fileType(file) == S_IFREG;

        auto loaded = store(file);
        EXPECT_EQ(loaded.stringList("wakePhrases").has_value(), readsPhrases);
        EXPECT_EQ(fileType(file + copySuffix), keptAside);
        EXPECT_EQ(loaded.damagedFileCopy(), keptAside ? std::optional(file + copySuffix) : std::nullopt);
        if (keptAside == S_IFREG) {
            EXPECT_EQ(contentsOf(file + copySuffix), copied);
        }
        expectWritten(loaded, file, readsPhrases ? json(valid) : QJsonObject());
        EXPECT_EQ(fileType(file), writtenAs);
        if (writtenAs != S_IFLNK) { // else the link, still there, was written through
            EXPECT_EQ(contentsOf(target), targetBefore) << "what the link pointed to was changed";
            EXPECT_TRUE(wasRegular || modeOf(file) == 0600) << "a new file holds people's names";
        }
        EXPECT_FALSE(QFile::exists(file + ".new"));
    }
}

// An existing file keeps the permissions its owner gave it; a new one is its owner's alone,
// whatever the umask.
TEST_F(SettingsStoreTest, WritingKeepsTheFilesPermissionsAndMakesNewFilesPrivate) {
    const mode_t umask = ::umask(0);
    for (const auto& [existingMode, expectedMode] :
         std::vector<std::pair<int, int>>{{0640, 0640}, {0604, 0604}, {-1, 0600}}) {
        QFile::remove(path());
        if (existingMode >= 0) {
            writeFile(path(), "{}");
            ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode_t(existingMode)), 0);
        }
        store(path()).setString("selectedMode", "anc");
        EXPECT_EQ(modeOf(path()), expectedMode) << existingMode;
        EXPECT_EQ(json(contentsOf(path())), json(R"({"selectedMode": "anc"})"));
    }
    ::umask(umask);
}

// The file as it was stays, and the writer says why. settings_writer runs as "nobody" under root,
// which ignores permission bits; a file size limit fails writes as a full disk does.
TEST_F(SettingsStoreTest, AWriteThatFailsSaysWhyAndLeavesTheFileAsItWas) {
    const QString folder = directory.filePath("config");
    const QString file = folder + "/Harkwell.json";
    const std::vector<std::tuple<const char*, int, int, rlim_t, std::string>> cases{
        {"read-only file", 0777, 0444, RLIM_INFINITY, "Existing file " + file.toStdString() + " is not writable"},
        {"read-only folder", 0555, 0666, RLIM_INFINITY, "Permission denied"},
        {"disk full", 0777, 0666, 1024, "File too large"},
    };
    ASSERT_EQ(::chmod(QFile::encodeName(directory.path()).constData(), 0755), 0);
    const QByteArray original = R"({"wakePhrases": ["James"]})";
    for (const auto& [name, folderMode, fileMode, fileSizeLimit, reason] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(QDir(directory.path()).mkpath("config"));
        writeFile(file, original);
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), mode_t(fileMode)), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
        QProcess writer;
        writer.setChildProcessModifier([limit = fileSizeLimit] {
            if (::geteuid() == 0) {
                ::setgroups(0, nullptr);
                (void)!::setgid(65534);
                (void)!::setuid(65534);
            }
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            ::signal(SIGXFSZ, SIG_IGN);
        });
        writer.start(SETTINGS_WRITER, {file, "wakePhrases", "1"});
        ASSERT_TRUE(writer.waitForFinished(30000));
        EXPECT_EQ(writer.exitCode(), 1);
        EXPECT_EQ(writer.readAllStandardOutput().toStdString(), "failed: " + reason + "\n");
        EXPECT_EQ(contentsOf(file), original);
        EXPECT_EQ(modeOf(file), fileMode);
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{"Harkwell.json"})
            << "a half-written file was left behind";
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        ASSERT_TRUE(QDir(folder).removeRecursively());
    }
}

// A change that could not be written goes with the next one that can be; two stores over one file
// (two processes) keep each other's keys.
TEST_F(SettingsStoreTest, AWriteKeepsWhatCouldNotBeWrittenAndWhatAnotherWriterWrote) {
    const QString blocker = directory.filePath("config");
    writeFile(blocker, "not a folder");
    auto settings = store(blocker + "/Harkwell.json");
    std::vector<std::optional<QString>> outcomes;
    settings.onWriteFinished = [&](const std::optional<QString>& failure) { outcomes.push_back(failure); };
    settings.setStringList("wakePhrases", {"James"});
    ASSERT_TRUE(QFile::remove(blocker));
    settings.setString("selectedMode", "anc");
    EXPECT_EQ(outcomes, (std::vector<std::optional<QString>>{"Not a directory", std::nullopt}));
    EXPECT_EQ(json(contentsOf(blocker + "/Harkwell.json")),
              json(R"({"wakePhrases": ["James"], "selectedMode": "anc"})"));

    auto first = store(path());
    auto second = store(path());
    first.setString("first", "1");
    second.setString("second", "2");
    first.setString("first", "3");
    second.remove("missing");
    EXPECT_EQ(json(contentsOf(path())), json(R"({"first": "3", "second": "2"})"));
    EXPECT_EQ(second.string("first"), "3");
}

// A writer that died between creating its lock and filling it leaves an empty lock, which would
// block every write for 30 seconds; one that is fresh may be being filled right now.
TEST_F(SettingsStoreTest, AnEmptyLockLeftByADeadWriterIsRemovedButAFreshOneIsLeftAlone) {
    writeFile(path() + ".lock", "");
    SettingsStore{path()};
    EXPECT_TRUE(QFile::exists(path() + ".lock"));
    ASSERT_TRUE(ageLock(path()));
    SettingsStore{path()};
    EXPECT_FALSE(QFile::exists(path() + ".lock"));
}

// A writer killed at any point, as in a crash, leaves the old or the new value, never a torn file.
TEST_F(SettingsStoreTest, KillingAWriterMidWriteLeavesACompleteFile) {
    for (const int writesBeforeKill : {1, 3, 6}) {
        QProcess writer;
        writer.start(SETTINGS_WRITER, {path(), "wakePhrases", "100000"});
        ASSERT_TRUE(writer.waitForStarted());
        for (int writes = 0; writes < writesBeforeKill && writer.waitForReadyRead(30000);) {
            for (; writer.canReadLine(); ++writes) {
                writer.readLine();
            }
        }
        writer.kill();
        writer.waitForFinished();
        ageLock(path()); // the next writer comes later, as after a crash and a new launch
        const auto phrases = json(contentsOf(path()))["wakePhrases"].toArray();
        ASSERT_EQ(phrases.size(), 2000) << writesBeforeKill;
        EXPECT_EQ(std::count(phrases.begin(), phrases.end(), phrases.first()), 2000) << writesBeforeKill;
    }
}

// --- What the model shows ----------------------------------------------------------------

class SettingsBannerTest : public ::testing::Test, protected testing::FakeModelParts {
protected:
    ~SettingsBannerTest() override { model.reset(); }
    AppModel& makeModel(const QString& settingsPath) {
        model.reset();
        auto parts = dependencies(directory.filePath("unused.json"));
        parts.settings = std::make_unique<SettingsStore>(settingsPath, [] { return copyTime; });
        model = std::make_unique<AppModel>(std::move(parts));
        return *model;
    }
    void addPhrase(const QString& phrase) {
        model->setWakePhraseDraft(phrase);
        model->addWakePhraseFromDraft();
    }

    testing::TestLocale speaksEnglish;
    QTemporaryDir directory;
    std::unique_ptr<AppModel> model;
};

// Found at load, or with the next change when another program damaged the file while Harkwell
// runs: said until the panel closes; the phrases read and the finished setup stay. A folder in the
// file's place is moved aside unread, and the banner says so.
TEST_F(SettingsBannerTest, ADamagedFileSaysWhatWasKeptAndWhereTheCopyIs) {
    for (const auto& [locale, message, unreadMessage] : std::vector<std::tuple<std::string, QString, QString>>{
             {"en-US",
              "The settings file was damaged; what could be read was kept. A copy of the damaged file is at %1.",
              "The settings file could not be read (not a file, or larger than 1 MiB); it was moved aside unread to "
              "%1."},
             {"ko-KR", "설정 파일이 손상되어 읽을 수 있는 설정만 남겼습니다. 손상된 파일의 사본: %1",
              "설정 파일을 읽을 수 없어(파일이 아니거나 1MiB보다 큼) 읽지 않은 채 %1(으)로 옮겼습니다."}}) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        for (const auto& [whileRunning, unread] : {std::pair(false, false), {true, false}, {false, true}}) {
            const QString file =
                directory.filePath(QString("%1-%2-%3.json").arg(locale.c_str()).arg(whileRunning).arg(unread));
            const QByteArray damaged = R"({"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. K)";
            if (unread) {
                ASSERT_TRUE(QDir().mkdir(file));
            } else {
                writeFile(file,
                          whileRunning ? R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})" : damaged);
            }
            const QString told = (unread ? unreadMessage : message).arg(file + copySuffix);
            auto& created = makeModel(file);
            EXPECT_EQ(created.errorMessage(), whileRunning ? std::nullopt : std::optional(told));
            if (whileRunning) {
                writeFile(file, damaged);
            }
            addPhrase("Minsu");
            EXPECT_EQ(created.errorMessage(), told) << "shown until the panel closes";
            EXPECT_EQ(created.bannerKind(), AppModel::BannerKind::error);
            EXPECT_EQ(created.activeWakePhrases(), (unread ? QStringList{"Minsu"} : QStringList{"James", "Minsu"}));
            EXPECT_EQ(created.isPermissionSetupComplete(), !unread);
            EXPECT_EQ(json(contentsOf(file))["wakePhrases"], QJsonArray::fromStringList(created.activeWakePhrases()));
            created.panelDidClose();
            EXPECT_EQ(created.errorMessage(), std::nullopt);
        }
    }
}

// The settings folder stops being one while Harkwell runs: the change says so (and nothing else
// clears that until a change is saved again or the panel closes; the same failure is told once),
// listening goes on, and the changes are written once the folder is back. A link whose target's
// folder is gone is named.
TEST_F(SettingsBannerTest, SettingsThatCannotBeSavedSaySoWithoutStoppingListening) {
    for (const auto& [locale, message] :
         std::vector<std::pair<std::string, QString>>{{"en-US", "Settings could not be saved: Not a directory"},
                                                      {"ko-KR", "설정을 저장하지 못했습니다: Not a directory"}}) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        const QString name = QString::fromStdString(locale);
        const QString folder = directory.filePath(name);
        ASSERT_TRUE(QDir(directory.path()).mkpath(name));
        writeFile(folder + "/Harkwell.json", R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
        auto& created = makeModel(folder + "/Harkwell.json");
        created.setDetectionEnabled(true);

        ASSERT_TRUE(QDir(directory.path()).rename(name, "away"));
        writeFile(folder, "in the folder's place");
        addPhrase("Minsu");
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(detectors->startedWith.back(), (std::vector<std::string>{"James", "Minsu"}));
        created.cancelShortcutRecording();
        EXPECT_EQ(created.errorMessage(), message) << "the settings are still not saved";
        created.panelDidClose();
        addPhrase("Lee");
        EXPECT_EQ(created.errorMessage(), std::nullopt) << "told again";

        ASSERT_TRUE(QFile::remove(folder));
        ASSERT_TRUE(QDir(directory.path()).rename("away", name));
        addPhrase("Kim");
        EXPECT_EQ(created.errorMessage(), std::nullopt);
        EXPECT_EQ(json(contentsOf(folder + "/Harkwell.json"))["wakePhrases"],
                  (QJsonArray{"James", "Minsu", "Lee", "Kim"}));
    }
    const QString link = directory.filePath("link.json");
    const QString target = directory.filePath("gone/Harkwell.json");
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    useLocale("en-US");
    auto& linked = makeModel(link);
    addPhrase("Minsu");
    EXPECT_EQ(linked.errorMessage(), "Settings could not be saved: " + target + ": No such file or directory");
}

} // namespace
} // namespace harkwell
