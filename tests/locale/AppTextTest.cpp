#include "locale/AppText.h"
#include "locale/AppMetadata.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

// Points the metadata lookup at a value of the test's own for the life of the object.
class ScopedLocaleMetadata {
public:
    explicit ScopedLocaleMetadata(std::optional<std::string> value) {
        setAppMetadataLookupForTesting([value](std::string_view key) -> std::optional<std::string> {
            return key == "HarkwellLocale" ? value : std::nullopt;
        });
    }
    ~ScopedLocaleMetadata() { setAppMetadataLookupForTesting(nullptr); }
};

TEST(AppTextTest, OnlyTheExactValueEnUsSelectsEnglish) {
    const std::vector<std::pair<std::optional<std::string>, AppLocale>> cases{
        {"en-US", AppLocale::english}, {std::nullopt, AppLocale::korean}, {"ko-KR", AppLocale::korean},
        {"en-us", AppLocale::korean},  {"en", AppLocale::korean},         {"", AppLocale::korean},
    };
    for (const auto& [value, expected] : cases) {
        ScopedLocaleMetadata metadata(value);
        EXPECT_EQ(currentAppLocale(), expected) << value.value_or("<absent>");
        EXPECT_EQ(appText("끔", "Off"), expected == AppLocale::english ? "Off" : "끔");
        EXPECT_EQ(uiText("끔", "Off"), expected == AppLocale::english ? QString("Off") : QString("끔"));
    }
}

TEST(AppTextTest, WithoutAnOverrideTheBuiltInMetadataIsRead) {
    // Without an override the value baked in by the build is read.
    EXPECT_EQ(appMetadataValue("HarkwellLocale"), builtInAppMetadata().at("HarkwellLocale"));
    EXPECT_EQ(appMetadataValue("NoSuchKey"), std::nullopt);
}

} // namespace
} // namespace harkwell
