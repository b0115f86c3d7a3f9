#include "airpods/ListeningMode.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

TEST(ListeningModeTest, ReadsTheLastWholeLineModeWordFromHelperOutput) {
    const std::vector<std::pair<std::string, std::optional<ListeningMode>>> cases{
        {"transparency", ListeningMode::transparency},
        {"  Transparent  ", ListeningMode::transparency},
        {"ANC", ListeningMode::anc},
        {"Noise", ListeningMode::anc},
        {"noise-cancellation", ListeningMode::anc},
        {"noise cancellation", std::nullopt},
        {"OFF", ListeningMode::normal},
        {"normal\ntransparency", ListeningMode::transparency},
        {"anc\ndone", ListeningMode::anc},
        {"anc\r\ndone\r\n", ListeningMode::anc},
        {"normal\rtransparency\r", ListeningMode::transparency},
        {"off\u2028connected", ListeningMode::normal},
        {"transparency\u0085mode: anc", ListeningMode::transparency},
        {"mode: anc", std::nullopt},
        {"", std::nullopt},
        {"\n\n  \n", std::nullopt},
        {"\xFF\xFEnormal", std::nullopt},
        {"anc\n\xFF", ListeningMode::anc},
    };
    for (const auto& [output, expected] : cases) {
        EXPECT_EQ(ListeningMode::fromHelperOutput(output), expected) << output;
    }
}

TEST(ListeningModeTest, RawValuesAreExact) {
    for (const ListeningMode mode : {ListeningMode::normal, ListeningMode::anc, ListeningMode::transparency}) {
        EXPECT_EQ(ListeningMode::fromRawValue(mode.rawValue()), mode);
    }
    EXPECT_EQ(ListeningMode::fromRawValue("off"), std::nullopt);
    EXPECT_EQ(ListeningMode::fromRawValue("ANC"), std::nullopt);
    EXPECT_EQ(ListeningMode::fromRawValue(""), std::nullopt);
}

} // namespace
} // namespace harkwell
