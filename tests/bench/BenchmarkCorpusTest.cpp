#include "BenchmarkCorpus.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace harkwell::bench {
namespace {

std::vector<Clip> read(const std::string& text) {
    std::istringstream lines(text);
    return readManifest(lines, "/corpus/m.jsonl");
}

TEST(BenchmarkCorpusTest, ReadsClipsWithTheirDefaults) {
    const auto clips = read(R"({"audio": "a.wav", "phrases": ["James"], "calls": [{"phrase": "James", "end": 1.5}]}

{"audio": "/elsewhere/b.wav", "phrases": ["민수"], "locale": "ko-KR", "condition": "office", "nearSpeech": [[1, 2.5]]}
{"audio": "c.wav", "phrases": []}
)");
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0].audio, "/corpus/a.wav");
    EXPECT_EQ(clips[0].locale, AppLocale::english);
    ASSERT_EQ(clips[0].calls.size(), 1u);
    EXPECT_EQ(clips[0].calls[0].phrase, "James");
    EXPECT_EQ(clips[0].calls[0].end, 1.5);
    EXPECT_EQ(clips[0].condition, "calls");
    EXPECT_EQ(clips[1].audio, "/elsewhere/b.wav");
    EXPECT_EQ(clips[1].locale, AppLocale::korean);
    EXPECT_EQ(clips[1].phrases, std::vector<std::string>{"민수"});
    EXPECT_EQ(clips[1].condition, "office");
    EXPECT_EQ(clips[1].nearSpeech, (std::vector<std::pair<double, double>>{{1, 2.5}}));
    EXPECT_EQ(clips[2].condition, "negative");
}

TEST(BenchmarkCorpusTest, NamesTheLineAtFault) {
    const std::pair<const char*, const char*> cases[]{
        {"not json", "/corpus/m.jsonl:1: expected {"},
        {R"({"phrases": []})", "/corpus/m.jsonl:1: expected {"},
        {"\n"
         R"({"audio": "a.wav", "phrases": [], "locale": "en"})",
         "/corpus/m.jsonl:2: \"locale\" must be"},
        {R"({"audio": "a.wav", "phrases": [], "calls": [{"phrase": "James"}]})", "each call needs"},
    };
    for (const auto& [text, message] : cases) {
        try {
            read(text);
            ADD_FAILURE() << "read: " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
    EXPECT_THROW(readManifest("/nonexistent/m.jsonl"), std::runtime_error);
}

} // namespace
} // namespace harkwell::bench
