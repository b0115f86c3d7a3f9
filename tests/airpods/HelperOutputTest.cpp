#include "airpods/HelperOutput.h"
#include "airpods/ListeningMode.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(HelperOutputTest, ParsesTheLastExitCodeLineOnly) {
    const std::vector<std::pair<std::string, int32_t>> parsed{{"EXIT_CODE=-12\r\nmore text", -12},
                                                              {"EXIT_CODE=4\u2028EXIT_CODE=5", 5},
                                                              {"EXIT_CODE=+3", 3},
                                                              {"EXIT_CODE=2147483647", 2147483647}};
    for (const auto& [text, expected] : parsed) {
        EXPECT_EQ(parseExitCode(text), expected) << text;
    }
    // Only a decimal 32-bit number with an optional sign, on a line of its own; an earlier
    // valid line is not consulted.
    for (const char* text : {"EXIT_CODE=0\nEXIT_CODE=zero", "EXIT_CODE=2147483648", "EXIT_CODE= 1",
                             "EXIT_CODE=", "EXIT_CODE=+-1", " EXIT_CODE=1"}) {
        EXPECT_EQ(parseExitCode(text), std::nullopt) << text;
    }
}

TEST(HelperOutputTest, CombinesFileAndPrintedTextWithoutExitCodeLines) {
    const std::vector<std::tuple<std::string, std::string, int32_t, CommandResult>> cases{
        {"", "", 3, {3, ""}},
        {"  \n\n anc \r\n\r\nEXIT_CODE=0\n\n", "\n", 1, {0, "anc "}}, // only the whole text is trimmed
        {"normal", "EXIT_CODE=5\nwarning", 0, {5, "normal\nwarning"}},
        {"EXIT_CODE=0", "EXIT_CODE=nope", 9, {9, ""}},
        {"\xFF transparency\nEXIT_CODE=0", "anc", 4, {4, "anc"}}, // ill-formed UTF-8 counts as empty
    };
    for (const auto& [file, printed, exitStatus, expected] : cases) {
        EXPECT_EQ(commandResultFromHelperOutput(file, printed, exitStatus), expected) << file << " | " << printed;
    }
}

TEST(HelperOutputTest, CutTextEndsOnAWholeCharacter) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"ab\xC3", "ab"}, {"a\xF0\x9F\x98", "a"}, {"a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80"}, {"", ""}};
    for (auto [text, expected] : cases) {
        dropIncompleteUtf8Tail(text);
        EXPECT_EQ(text, expected);
    }
}

TEST(HelperOutputTest, ReadsTheLastWholeLineModeWord) {
    const std::vector<std::pair<std::string, ListeningMode>> cases{
        {"  Transparent  ", ListeningMode::transparency},
        {"noise-cancellation", ListeningMode::anc},
        {"OFF", ListeningMode::normal},
        {"normal\ntransparency", ListeningMode::transparency},
        {"anc\r\ndone\r\n", ListeningMode::anc},
        {"off\u2028connected", ListeningMode::normal},
        {"anc\n\xFF", ListeningMode::anc},
    };
    for (const auto& [output, expected] : cases) {
        EXPECT_EQ(ListeningMode::fromHelperOutput(output), expected) << output;
    }
    for (const char* output : {"mode: anc", "\n\n  \n", "\xFF\xFEnormal"}) {
        EXPECT_EQ(ListeningMode::fromHelperOutput(output), std::nullopt) << output;
    }
}

// The names the settings store; exact matching is RawValueTable's.
TEST(HelperOutputTest, StoredModeNames) {
    const std::pair<std::string_view, ListeningMode> cases[]{
        {"normal", ListeningMode::normal}, {"anc", ListeningMode::anc}, {"transparency", ListeningMode::transparency}};
    for (const auto& [raw, mode] : cases) {
        EXPECT_EQ(ListeningMode::fromRawValue(raw), mode) << raw;
        EXPECT_EQ(mode.rawValue(), raw);
    }
    EXPECT_EQ(ListeningMode::fromRawValue("off"), std::nullopt) << "a word of the helper's, not a stored name";
}

} // namespace
} // namespace harkwell
