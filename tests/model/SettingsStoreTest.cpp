#include "model/SettingsStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace harkwell {
namespace {

// What the store writes, and how every value reads back with its type, is checked through the
// model's own settings in AppModelTest; here, what the store finds on disk that it did not write.
class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return directory.filePath("Harkwell.json"); }
    void writeFile(const QByteArray& contents) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size());
    }

    QTemporaryDir directory;
};

TEST_F(SettingsStoreTest, ValuesOfTheWrongTypeReadAsAbsent) {
    writeFile(R"({"mixed": ["a", 1], "text": ["a"], "number": "12", "negative": -1, "fraction": 1.5,
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

// A file cut off mid-write, with ill-formed UTF-8, or not an object.
TEST_F(SettingsStoreTest, UnreadableFilesReadAsEmptyAreKeptAsideAndCanBeWrittenAgain) {
    for (const QByteArray contents :
         {R"({"wakePhrases": ["James", "Ki)", "{\"wakePhrase\": \"\xff\xfe\"}", R"(["James"])"}) {
        writeFile(contents);
        {
            SettingsStore store(path());
            EXPECT_FALSE(store.contains("wakePhrases") || store.contains("wakePhrase"));
            store.setStringList("wakePhrases", {"Minsu"});
        }
        QFile aside(path() + ".corrupt");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), contents);
        EXPECT_EQ(SettingsStore(path()).stringList("wakePhrases"), QStringList{"Minsu"});
    }
}

// QSettings would leave an empty lock alone for 30 seconds, blocking every write until then.
TEST_F(SettingsStoreTest, AnEmptyLockLeftByADeadWriterIsRemovedButAFreshOneIsLeftAlone) {
    QFile lock(path() + ".lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    SettingsStore{path()};
    EXPECT_TRUE(lock.exists()) << "a writer may be filling it right now";
    ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
    lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime);
    lock.close();
    SettingsStore{path()};
    EXPECT_FALSE(lock.exists());
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
        // The next writer comes later, as after a crash and a new launch.
        QFile lock(path() + ".lock");
        if (lock.open(QIODevice::ReadWrite)) {
            lock.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime);
        }
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto phrases = QJsonDocument::fromJson(file.readAll()).object()["wakePhrases"].toArray();
        ASSERT_EQ(phrases.size(), 2000) << writesBeforeKill;
        EXPECT_EQ(std::count(phrases.begin(), phrases.end(), phrases.first()), 2000) << writesBeforeKill;
    }
}

} // namespace
} // namespace harkwell
