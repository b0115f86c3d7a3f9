#include "airpods/HelperOutput.h"

#include <gtest/gtest.h>

namespace harkwell {

void PrintTo(const CommandResult& result, std::ostream* out) {
    *out << result.status << ": \"" << result.output << '"';
}

namespace {

TEST(HelperOutputTest, ParsesTheLastExitCodeLineOnly) {
    const std::vector<std::pair<std::string, int32_t>> parsed{{"EXIT_CODE=0", 0},
                                                              {"transparency\nEXIT_CODE=7\n", 7},
                                                              {"EXIT_CODE=1\nEXIT_CODE=0", 0},
                                                              {"EXIT_CODE=-12\r\nmore text", -12},
                                                              {"EXIT_CODE=4\u2028EXIT_CODE=5", 5},
                                                              {"EXIT_CODE=+3", 3},
                                                              {"EXIT_CODE=2147483647", 2147483647},
                                                              {"EXIT_CODE=-2147483648", -2147483647 - 1}};
    for (const auto& [text, expected] : parsed) {
        EXPECT_EQ(parseExitCode(text), expected) << text;
    }
    // Only a decimal 32-bit number with an optional sign, on a line of its own; an earlier
    // valid line is not consulted.
    for (const char* text : {"EXIT_CODE=0\nEXIT_CODE=zero", "EXIT_CODE=2147483648", "EXIT_CODE= 1", "EXIT_CODE=1 ",
                             "EXIT_CODE=", "EXIT_CODE=+-1", "EXIT_CODE=0x1", " EXIT_CODE=1", "exit_code=1", ""}) {
        EXPECT_EQ(parseExitCode(text), std::nullopt) << text;
    }
}

TEST(HelperOutputTest, CombinesFileAndPrintedTextWithoutExitCodeLines) {
    const std::vector<std::tuple<std::string, std::string, int32_t, CommandResult>> cases{
        {"transparency\nEXIT_CODE=0\n", "", 1, {0, "transparency"}},
        {"No device\nEXIT_CODE=1", "", 0, {1, "No device"}},
        {"", "", 3, {3, ""}},
        {"  \n\n anc \r\n\r\nEXIT_CODE=0\n\n", "\n", 1, {0, "anc "}}, // only the whole text is trimmed
        {"normal", "EXIT_CODE=5\nwarning", 0, {5, "normal\nwarning"}},
        {"EXIT_CODE=0", "EXIT_CODE=nope", 9, {9, ""}},
        {"\xFF transparency\nEXIT_CODE=0", "anc", 4, {4, "anc"}}, // ill-formed UTF-8 counts as empty
        {"anc\nEXIT_CODE=0", "\xC3", 2, {0, "anc"}},
        {"a\u0085b\u2029c", "", 0, {0, "a\nb\nc"}},
    };
    for (const auto& [file, printed, exitStatus, expected] : cases) {
        EXPECT_EQ(commandResultFromHelperOutput(file, printed, exitStatus), expected) << file << " | " << printed;
    }
}

TEST(HelperOutputTest, CutTextEndsOnAWholeCharacter) {
    const std::vector<std::pair<std::string, std::string>> cases{{"abc", "abc"},
                                                                 {"ab\xC3", "ab"},
                                                                 {"ab\xC3\xA9", "ab\xC3\xA9"},
                                                                 {"a\xE2\x80", "a"},
                                                                 {"a\xF0\x9F\x98", "a"},
                                                                 {"a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80"},
                                                                 {"", ""}};
    for (auto [text, expected] : cases) {
        dropIncompleteUtf8Tail(text);
        EXPECT_EQ(text, expected);
    }
}

} // namespace
} // namespace harkwell
