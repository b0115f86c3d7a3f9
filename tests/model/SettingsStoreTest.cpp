#include "model/SettingsStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace harkwell {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return directory.filePath("Harkwell.json"); }

    void writeFile(const QByteArray& contents) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QJsonObject fileContents() const {
        QFile file(path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonParseError error{};
        const auto document = QJsonDocument::fromJson(file.readAll(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return document.object();
    }

    // Moves the lock file's modification time by `seconds`, if there is a lock file.
    void ageLockFile(int seconds) {
        QFile lock(path() + ".lock");
        if (lock.open(QIODevice::ReadWrite)) {
            lock.setFileTime(QDateTime::currentDateTime().addSecs(seconds), QFileDevice::FileModificationTime);
        }
    }

    QTemporaryDir directory;
};

TEST_F(SettingsStoreTest, EveryValueReadsBackWithItsType) {
    {
        SettingsStore store(path());
        store.setStringList("empty", {});
        store.setStringList("one", {"민수"});
        store.setStringList("two", {"James", "Dr. Kim"});
        store.setUnsignedNumber("code", 40);
        store.setUnsignedNumber("max", 4294967295u);
        store.setBoolean("flag", true);
        store.setString("mode", "transparency");
    }
    // The file holds the values in their own JSON types.
    const auto json = fileContents();
    EXPECT_TRUE(json["empty"].isArray());
    EXPECT_TRUE(json["one"].isArray());
    EXPECT_TRUE(json["code"].isDouble());
    EXPECT_TRUE(json["flag"].isBool());

    SettingsStore store(path());
    EXPECT_EQ(store.stringList("empty"), QStringList());
    EXPECT_EQ(store.stringList("one"), QStringList{"민수"});
    EXPECT_EQ(store.stringList("two"), (QStringList{"James", "Dr. Kim"}));
    EXPECT_EQ(store.unsignedNumber("code"), 40u);
    EXPECT_EQ(store.unsignedNumber("max"), 4294967295u);
    EXPECT_TRUE(store.boolean("flag"));
    EXPECT_EQ(store.string("mode"), "transparency");
    EXPECT_EQ(store.stringList("missing"), std::nullopt);
    EXPECT_FALSE(store.boolean("missing"));

    store.remove("one");
    EXPECT_FALSE(store.contains("one"));
    EXPECT_FALSE(fileContents().contains("one"));
}

TEST_F(SettingsStoreTest, ValuesOfTheWrongTypeReadAsAbsent) {
    writeFile(R"({"list": "James", "mixed": ["a", 1], "text": ["a"], "number": "12", "negative": -1,
                  "fraction": 1.5, "huge": 1e10, "flag": "true", "zero": 0})");
    SettingsStore store(path());
    EXPECT_EQ(store.stringList("list"), std::nullopt);
    EXPECT_EQ(store.stringList("mixed"), std::nullopt);
    EXPECT_EQ(store.string("text"), std::nullopt);
    EXPECT_EQ(store.unsignedNumber("number"), std::nullopt);
    EXPECT_EQ(store.unsignedNumber("negative"), std::nullopt);
    EXPECT_EQ(store.unsignedNumber("fraction"), std::nullopt);
    EXPECT_EQ(store.unsignedNumber("huge"), std::nullopt);
    EXPECT_FALSE(store.boolean("flag"));
    EXPECT_EQ(store.unsignedNumber("zero"), 0u);
}

TEST_F(SettingsStoreTest, UnreadableFilesReadAsEmptyAreKeptAsideAndCanBeWrittenAgain) {
    const std::vector<QByteArray> unreadable{
        R"({"wakePhrases": ["James", "Ki)", // truncated
        "\x01\x02 not json at all",         // garbage
        "{\"wakePhrase\": \"\xff\xfe\"}",   // ill-formed UTF-8
        R"(["James"])",                     // not an object
    };
    for (const auto& contents : unreadable) {
        writeFile(contents);
        {
            SettingsStore store(path());
            EXPECT_FALSE(store.contains("wakePhrases"));
            EXPECT_EQ(store.string("wakePhrase"), std::nullopt);
            store.setStringList("wakePhrases", {"Minsu"});
        }
        QFile aside(path() + ".corrupt");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), contents);
        EXPECT_EQ(SettingsStore(path()).stringList("wakePhrases"), QStringList{"Minsu"});
        EXPECT_EQ(fileContents()["wakePhrases"].toArray().size(), 1);
    }
}

TEST_F(SettingsStoreTest, AnEmptyLockLeftByADeadWriterIsRemovedButAFreshOneIsLeftAlone) {
    QFile lock(path() + ".lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    SettingsStore{path()};
    EXPECT_TRUE(lock.exists()) << "a writer may be filling it right now";
    ageLockFile(-10);
    SettingsStore{path()};
    EXPECT_FALSE(lock.exists());
}

// A writer killed at any point leaves the old or the new value, never a torn file.
TEST_F(SettingsStoreTest, KillingAWriterMidWriteLeavesACompleteFile) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 10; ++round) {
        QProcess writer;
        writer.start(SETTINGS_WRITER, {path(), "wakePhrases", "100000"});
        ASSERT_TRUE(writer.waitForStarted());
        const int writesBeforeKill = std::uniform_int_distribution<int>(1, 8)(random);
        int writes = 0;
        while (writes < writesBeforeKill && writer.waitForReadyRead(30000)) {
            while (writer.canReadLine()) {
                writer.readLine();
                ++writes;
            }
        }
        writer.kill();
        writer.waitForFinished();
        // The next writer comes later, as after a crash and a new launch.
        ageLockFile(-10);

        const auto phrases = fileContents()["wakePhrases"].toArray();
        ASSERT_EQ(phrases.size(), 2000) << "round " << round;
        for (const auto& phrase : phrases) {
            ASSERT_EQ(phrase, phrases.first()) << "round " << round;
        }
    }
}

// Two processes writing different keys of one file at the same time lose neither.
TEST_F(SettingsStoreTest, ConcurrentWritersKeepEachOthersKeys) {
    QProcess first;
    QProcess second;
    first.start(SETTINGS_WRITER, {path(), "first", "40"});
    second.start(SETTINGS_WRITER, {path(), "second", "40"});
    ASSERT_TRUE(first.waitForFinished(60000));
    ASSERT_TRUE(second.waitForFinished(60000));
    ASSERT_EQ(first.exitCode(), 0);
    ASSERT_EQ(second.exitCode(), 0);

    SettingsStore store(path());
    EXPECT_EQ(store.stringList("first").value_or(QStringList()).value(0), "first-39");
    EXPECT_EQ(store.stringList("second").value_or(QStringList()).value(0), "second-39");
}

} // namespace
} // namespace harkwell
