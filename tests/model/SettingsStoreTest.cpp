#include "model/SettingsStore.h"
#include "EventLoop.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gmock/gmock.h>
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

using ::testing::HasSubstr;
using testing::json;
using testing::useLocale;

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size());
}

// The permission bits alone, as in `chmod`.
int modeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

// Makes the file's lock look left by a writer that died ten seconds ago (creating it if need be).
bool ageLock(const QString& file) {
    QFile lock(file + ".lock");
    return lock.open(QIODevice::ReadWrite) &&
           lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime);
}

const QDateTime copyTime(QDate(2026, 12, 6), QTime(15, 4, 5));
const QString copySuffix = ".corrupt-2026-12-06T15-04-05";

// What the model writes, and how every value reads back with its type, is checked through the
// model's own settings in AppModelTest; here, what the store finds on disk that it did not write,
// and what it does when it cannot write.
class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return directory.filePath("Harkwell.json"); }
    SettingsStore store(const QString& file) const {
        return SettingsStore(file, [] { return copyTime; });
    }

    QTemporaryDir directory;
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

// What a damaged file keeps: read back through the file the next change writes.
TEST_F(SettingsStoreTest, ADamagedFileKeepsWhatCanBeReadAndIsCopiedAsideFirst) {
    const QByteArray wholeSettings = R"({
    "hotKeyDisplayKey": "K",
    "hotKeyKeyCode": 40,
    "hotKeyModifiers": 256,
    "permissionSetupComplete": true,
    "wakePhrase": "James",
    "wakePhrases": [
        "James",
        "Dr. Kim",
        "Minsu"
    ]
})";
    // The file, what it keeps, whether it is damaged.
    const std::vector<std::tuple<const char*, QByteArray, QByteArray, bool>> cases{
        {"cut off in the last phrase", wholeSettings.left(wholeSettings.indexOf("Minsu") + 2),
         R"({"hotKeyDisplayKey": "K", "hotKeyKeyCode": 40, "hotKeyModifiers": 256, "permissionSetupComplete": true,
             "wakePhrase": "James", "wakePhrases": ["James", "Dr. Kim"]})",
         true},
        {"cut off after the last phrase", wholeSettings.left(wholeSettings.indexOf("Minsu") + 6),
         R"({"hotKeyDisplayKey": "K", "hotKeyKeyCode": 40, "hotKeyModifiers": 256, "permissionSetupComplete": true,
             "wakePhrase": "James", "wakePhrases": ["James", "Dr. Kim", "Minsu"]})",
         true},
        {"cut off in a key", wholeSettings.left(wholeSettings.indexOf("wakePhrase") + 5),
         R"({"hotKeyDisplayKey": "K", "hotKeyKeyCode": 40, "hotKeyModifiers": 256, "permissionSetupComplete": true})",
         true},
        {"cut off after a number that may have lost digits", R"({"permissionSetupComplete": true, "hotKeyKeyCode": 4)",
         R"({"permissionSetupComplete": true})", true},
        {"ill-formed UTF-8 in one phrase",
         "{\"wakePhrases\": [\"James\", \"Min\xffsu\"], \"permissionSetupComplete\": true}",
         "{\"wakePhrases\": [\"James\", \"Min\xef\xbf\xbdsu\"], \"permissionSetupComplete\": true}", true},
        {"a garbled value", R"({"selectedMode": anc, "permissionSetupComplete": true})",
         R"({"permissionSetupComplete": true})", true},
        {"two members run together", R"({"selectedMode": "anc "permissionSetupComplete": true})", "{}", true},
        {"not an object", R"(["James"])", "{}", true},
        {"binary", QByteArray("\x00\x01\x7f", 3), "{}", true},
        {"whole, after a byte order mark", "\xEF\xBB\xBF" + wholeSettings, wholeSettings, false},
        {"empty", " \n", "{}", false},
    };
    int number = 0;
    for (const auto& [name, contents, kept, isDamaged] : cases) {
        SCOPED_TRACE(name);
        const QString file = directory.filePath(QString("Harkwell-%1.json").arg(++number));
        writeFile(file, contents);
        auto loaded = store(file);
        EXPECT_EQ(contentsOf(file), contents) << "loading wrote the file";
        if (isDamaged) {
            EXPECT_EQ(loaded.damagedFileCopy(), file + copySuffix);
            EXPECT_EQ(contentsOf(file + copySuffix), contents);
            EXPECT_EQ(modeOf(file + copySuffix), 0600) << "the copy holds people's names";
        } else {
            EXPECT_EQ(loaded.damagedFileCopy(), std::nullopt);
            EXPECT_FALSE(QFile::exists(file + copySuffix));
        }
        loaded.setBoolean("written", true);
        QJsonObject expected = json(kept);
        expected.insert("written", true);
        EXPECT_EQ(json(contentsOf(file)), expected);
    }
}

// Each damaged load keeps its own copy: a later one never writes over an earlier one.
TEST_F(SettingsStoreTest, TwoDamagedLoadsMakeTwoCopies) {
    const QByteArray first = R"({"wakePhrases": ["James", "Ki)";
    const QByteArray second = "{\"wakePhrase\": \"\xff\xfe\"}";
    writeFile(path(), first);
    EXPECT_EQ(store(path()).damagedFileCopy(), path() + copySuffix);
    writeFile(path(), second);
    EXPECT_EQ(store(path()).damagedFileCopy(), path() + copySuffix + "-2");
    EXPECT_EQ(contentsOf(path() + copySuffix), first);
    EXPECT_EQ(contentsOf(path() + copySuffix + "-2"), second);
    EXPECT_FALSE(QFile::exists(path() + ".corrupt"));
}

// The same damaged file found again, as at each start until a change replaces it, keeps the
// copy made the first time.
TEST_F(SettingsStoreTest, TheSameDamagedFileIsCopiedOnce) {
    writeFile(path(), "not settings at all");
    EXPECT_EQ(store(path()).damagedFileCopy(), path() + copySuffix);
    const auto later = [this] { return copyTime.addSecs(60); };
    EXPECT_EQ(SettingsStore(path(), later).damagedFileCopy(), path() + copySuffix);
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"Harkwell.json", "Harkwell.json" + copySuffix}));
}

// Whatever takes the file's place, the store starts at once: a file of settings' size is read
// (through a link too) and copied aside when damaged; anything else is never opened and is moved
// aside whole. A link to a damaged file is replaced by a file of the store's own, and what it
// points to is left as it is; a link to valid settings is written through.
TEST_F(SettingsStoreTest, WhatTakesTheFilesPlaceIsLookedAtBeforeItIsOpened) {
    const QByteArray valid = R"({"wakePhrases": ["James"]})";
    const QByteArray notSettings = "export PATH=$HOME/bin:$PATH\n";
    // Valid settings one byte longer than a settings file may be.
    QByteArray oversized = valid;
    oversized.append(QByteArray(1024 * 1024 + 1 - valid.size(), ' '));
    const QString target = directory.filePath("elsewhere");
    const auto link = [](const QString& to, const QString& from) {
        ASSERT_EQ(::symlink(QFile::encodeName(to).constData(), QFile::encodeName(from).constData()), 0);
    };
    const auto fileType = [](const QString& file) {
        struct stat status {};
        return ::lstat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0u;
    };
    struct Case {
        const char* name;
        std::function<void(const QString& file)> make;
        // What lies at the copy's name afterwards (0: nothing), and what it holds when a file.
        unsigned keptAside;
        QByteArray copied;
        // What the store read, and what lies at the file's own path once it has written.
        QJsonObject values;
        unsigned writtenAs;
    };
    const std::vector<Case> cases{
        {"garbage", [&](const QString& file) { writeFile(file, notSettings); }, S_IFREG, notSettings, {}, S_IFREG},
        {"a FIFO",
         [](const QString& file) { ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0); },
         S_IFIFO,
         {},
         {},
         S_IFREG},
        {"a folder", [](const QString& file) { ASSERT_TRUE(QDir().mkdir(file)); }, S_IFDIR, {}, {}, S_IFREG},
        {"a link to /dev/null", [&](const QString& file) { link("/dev/null", file); }, S_IFLNK, {}, {}, S_IFREG},
        {"a link to /dev/zero", [&](const QString& file) { link("/dev/zero", file); }, S_IFLNK, {}, {}, S_IFREG},
        {"a link in a loop", [&](const QString& file) { link(file, file); }, S_IFLNK, {}, {}, S_IFREG},
        {"larger than 1 MiB",
         [&](const QString& file) { writeFile(file, oversized); },
         S_IFREG,
         oversized,
         {},
         S_IFREG},
        {"a link to a file larger than 1 MiB",
         [&](const QString& file) {
             writeFile(target, oversized);
             link(target, file);
         },
         S_IFLNK,
         {},
         {},
         S_IFREG},
        {"a link to a file that is no settings",
         [&](const QString& file) {
             writeFile(target, notSettings);
             link(target, file);
         },
         S_IFREG,
         notSettings,
         {},
         S_IFREG},
        {"a link to valid settings",
         [&](const QString& file) {
             writeFile(target, valid);
             link(target, file);
         },
         0,
         {},
         json(valid),
         S_IFLNK},
    };
    int number = 0;
    for (const auto& [name, make, keptAside, copied, values, writtenAs] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(target);
        const QString file = directory.filePath(QString("Harkwell-%1.json").arg(++number));
        make(file);
        const QByteArray targetBefore = contentsOf(target);
        const bool wasRegular = fileType(file) == S_IFREG;

        auto loaded = store(file);
        EXPECT_EQ(loaded.stringList("wakePhrases").has_value(), values.contains("wakePhrases"));
        EXPECT_EQ(fileType(file + copySuffix), keptAside);
        EXPECT_EQ(loaded.damagedFileCopy(), keptAside ? std::optional(file + copySuffix) : std::nullopt);
        if (keptAside == S_IFREG) {
            EXPECT_EQ(contentsOf(file + copySuffix), copied);
        }

        loaded.setBoolean("written", true);
        QJsonObject expected = values;
        expected.insert("written", true);
        EXPECT_EQ(fileType(file), writtenAs);
        EXPECT_EQ(json(contentsOf(file)), expected);
        if (writtenAs == S_IFLNK) {
            EXPECT_EQ(json(contentsOf(target)), expected) << "written through the link";
        } else {
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
    struct Case {
        const char* name;
        int folderMode;
        int fileMode;
        rlim_t fileSizeLimit;
        std::string reason;
    };
    const QString folder = directory.filePath("config");
    const QString file = folder + "/Harkwell.json";
    const std::vector<Case> cases{
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

// A change that could not be written is written with the next one that can be.
TEST_F(SettingsStoreTest, AChangeThatCouldNotBeWrittenIsWrittenWithTheNext) {
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
}

// Two stores over one file (two processes) keep each other's keys.
TEST_F(SettingsStoreTest, AWriteKeepsWhatAnotherWriterWroteSince) {
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
// block every write for 30 seconds.
TEST_F(SettingsStoreTest, AnEmptyLockLeftByADeadWriterIsRemovedButAFreshOneIsLeftAlone) {
    writeFile(path() + ".lock", "");
    SettingsStore{path()};
    EXPECT_TRUE(QFile::exists(path() + ".lock")) << "a writer may be filling it right now";
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
    // Adds the phrase as a person would, a change that is saved at once.
    void addPhrase(const QString& phrase) {
        model->setWakePhraseDraft(phrase);
        model->addWakePhraseFromDraft();
    }

    testing::TestLocale speaksEnglish;
    QTemporaryDir directory;
    std::unique_ptr<AppModel> model;
};

// Said once: the phrases read and the finished setup stay, so setup does not start again.
TEST_F(SettingsBannerTest, ADamagedFileSaysWhatWasKeptAndWhereTheCopyIs) {
    for (const auto& [locale, message] : std::vector<std::pair<std::string, QString>>{
             {"en-US",
              "The settings file was damaged; what could be read was kept. A copy of the damaged file is at %1."},
             {"ko-KR", "설정 파일이 손상되어 읽을 수 있는 설정만 남겼습니다. 손상된 파일의 사본: %1"}}) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        const QString file = directory.filePath(QString::fromStdString(locale) + ".json");
        writeFile(file, R"({"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. K)");
        auto& created = makeModel(file);
        EXPECT_EQ(created.errorMessage(), message.arg(file + copySuffix));
        EXPECT_EQ(created.activeWakePhrases(), QStringList{"James"});
        EXPECT_TRUE(created.isPermissionSetupComplete());
        addPhrase("Minsu");
        EXPECT_EQ(created.errorMessage(), message.arg(file + copySuffix)) << "shown until the panel closes";
        EXPECT_EQ(json(contentsOf(file))["wakePhrases"], (QJsonArray{"James", "Minsu"}));
        created.panelDidClose();
        EXPECT_EQ(created.errorMessage(), std::nullopt);
    }
}

// A file damaged by another program while Harkwell runs is told of with the next change.
TEST_F(SettingsBannerTest, AFileDamagedWhileRunningIsToldOfWithTheNextChange) {
    const QString file = directory.filePath("Harkwell.json");
    writeFile(file, R"({"permissionSetupComplete": true})");
    auto& created = makeModel(file);
    EXPECT_EQ(created.errorMessage(), std::nullopt);
    writeFile(file, "garbage");
    addPhrase("James");
    EXPECT_EQ(created.errorMessage(),
              QString("The settings file was damaged; what could be read was kept. A copy of the damaged file is at "
                      "%1.")
                  .arg(file + copySuffix));
    EXPECT_EQ(created.bannerKind(), AppModel::BannerKind::error);
}

// The settings folder stops being one while Harkwell runs: every change says so (and nothing
// else clears that until a change is saved again), listening goes on, and the change is written
// once the folder is back.
TEST_F(SettingsBannerTest, SettingsThatCannotBeSavedSaySoWithoutStoppingListening) {
    for (const auto& [locale, message] :
         std::vector<std::pair<std::string, QString>>{{"en-US", "Settings could not be saved: Not a directory"},
                                                      {"ko-KR", "설정을 저장하지 못했습니다: Not a directory"}}) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        const QString folder = directory.filePath(QString::fromStdString(locale));
        const QString file = folder + "/Harkwell.json";
        ASSERT_TRUE(QDir(directory.path()).mkpath(QString::fromStdString(locale)));
        writeFile(file, R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
        auto& created = makeModel(file);
        created.setDetectionEnabled(true);
        ASSERT_TRUE(created.isDetectionEnabled());

        ASSERT_TRUE(QDir(directory.path()).rename(QString::fromStdString(locale), "away"));
        writeFile(folder, "in the folder's place");
        addPhrase("Minsu");
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(detectors->startedWith.back(), (std::vector<std::string>{"James", "Minsu"}));
        created.cancelShortcutRecording();
        EXPECT_EQ(created.errorMessage(), message) << "the settings are still not saved";

        ASSERT_TRUE(QFile::remove(folder));
        ASSERT_TRUE(QDir(directory.path()).rename("away", QString::fromStdString(locale)));
        addPhrase("Kim");
        EXPECT_EQ(created.errorMessage(), std::nullopt);
        EXPECT_EQ(json(contentsOf(file))["wakePhrases"], (QJsonArray{"James", "Minsu", "Kim"}));
    }
}

} // namespace
} // namespace harkwell
