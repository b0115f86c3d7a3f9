#include "airpods/ListeningMode.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(ListeningModeTest, ReadsTheLastWholeLineModeWordFromHelperOutput) {
    const std::vector<std::pair<std::string, ListeningMode>> cases{
        {"transparency", ListeningMode::transparency},
        {"  Transparent  ", ListeningMode::transparency},
        {"ANC", ListeningMode::anc},
        {"Noise", ListeningMode::anc},
        {"noise-cancellation", ListeningMode::anc},
        {"OFF", ListeningMode::normal},
        {"normal\ntransparency", ListeningMode::transparency},
        {"anc\r\ndone\r\n", ListeningMode::anc},
        {"normal\rtransparency\r", ListeningMode::transparency},
        {"off\u2028connected", ListeningMode::normal},
        {"transparency\u0085mode: anc", ListeningMode::transparency},
        {"anc\n\xFF", ListeningMode::anc},
    };
    for (const auto& [output, expected] : cases) {
        EXPECT_EQ(ListeningMode::fromHelperOutput(output), expected) << output;
    }
    for (const char* output : {"noise cancellation", "mode: anc", "", "\n\n  \n", "\xFF\xFEnormal"}) {
        EXPECT_EQ(ListeningMode::fromHelperOutput(output), std::nullopt) << output;
    }
}

TEST(ListeningModeTest, RawValuesAreExact) {
    for (const ListeningMode mode : {ListeningMode::normal, ListeningMode::anc, ListeningMode::transparency}) {
        EXPECT_EQ(ListeningMode::fromRawValue(mode.rawValue()), mode);
    }
    for (const char* raw : {"off", "ANC", ""}) {
        EXPECT_EQ(ListeningMode::fromRawValue(raw), std::nullopt) << raw;
    }
}

} // namespace
} // namespace harkwell
