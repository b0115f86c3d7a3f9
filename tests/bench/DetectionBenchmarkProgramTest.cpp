// The detection_benchmark program's exits: a mistyped command line, or a manifest that is not
// there, is a usage error before any corpus is read.
#include <QProcess>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(DetectionBenchmarkProgramTest, AMistypedCommandLineExitsWithTheUsage) {
    const struct {
        QStringList arguments;
        int exitCode;
        const char* output;
        const char* errors;
    } cases[]{
        {{"/nonexistent/m.jsonl", "--search", "keyphase"}, 64, "", "--search takes common, keyphrase or lm"},
        {{"/nonexistent/m.jsonl", "--serach", "lm"}, 64, "", "serach"},
        {{"/nonexistent/m.jsonl"}, 64, "", "/nonexistent/m.jsonl: cannot be read"},
        {{"/"}, 64, "", "/: cannot be read"},
        {{"/etc/passwd"}, 2, "", "/etc/passwd:1: expected {"},
        {{"--help"}, 0, "Usage:", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(DETECTION_BENCHMARK, c.arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        const auto output = QString::fromUtf8(process.readAllStandardOutput());
        const auto errors = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE(output.contains(c.output)) << output.toStdString();
        EXPECT_TRUE(errors.contains(c.errors)) << errors.toStdString();
        EXPECT_EQ(errors.contains("Usage: "), c.exitCode == 64) << errors.toStdString();
        if (*c.output == '\0') {
            EXPECT_TRUE(output.isEmpty()) << output.toStdString();
        }
    }
}

} // namespace
} // namespace harkwell
