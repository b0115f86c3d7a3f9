#include "locale/AppLanguage.h"
#include "locale/AppMetadata.h"

#include "TestLocale.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <set>

namespace harkwell {
namespace {

TEST(AppLanguageTest, ChosenFromTheBuildOptionAndTheDesktopsFirstLanguage) {
    const struct {
        std::optional<std::string_view> buildLocale;
        QStringList uiLanguages;
        AppLocale expected;
    } cases[] = {
        // Following the desktop: Korean only when Korean comes first.
        {"system", {"ko-KR", "en-US"}, AppLocale::korean},
        {"system", {"ko"}, AppLocale::korean},
        {"system", {"ko_KR"}, AppLocale::korean},
        {std::nullopt, {"ko-KR"}, AppLocale::korean},
        {"system", {"en-US", "ko-KR"}, AppLocale::english},
        {"system", {"de-DE", "ko"}, AppLocale::english},
        {"system", {"kok-IN"}, AppLocale::english}, // Konkani, not Korean
        {"system", {"C"}, AppLocale::english},
        {"system", {}, AppLocale::english},
        // A build fixed to one language: only the exact "en-US" is English.
        {"en-US", {"ko-KR"}, AppLocale::english},
        {"ko-KR", {"en-US"}, AppLocale::korean},
        {"en-us", {"en-US"}, AppLocale::korean},
        {"en", {"en-US"}, AppLocale::korean},
        {"", {"en-US"}, AppLocale::korean},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseAppLocale(c.buildLocale, c.uiLanguages), c.expected)
            << c.buildLocale.value_or("<none>") << " " << c.uiLanguages.join(':').toStdString();
    }
}

TEST(AppLanguageTest, TheBuiltInMetadataIsRead) {
    EXPECT_EQ(appMetadataValue("HarkwellLocale"), builtInAppMetadata().at("HarkwellLocale"));
    EXPECT_EQ(appMetadataValue("NoSuchKey"), std::nullopt);
}

// The texts through tr() come in the language chosen last; translatedText gives either language
// whichever is spoken.
TEST(AppLanguageTest, TextsReachTheUserThroughTheKoreanTranslator) {
    const testing::TestLocale restoresTheLanguage;
    const char* const context = "harkwell::main";
    const char* const english = "harkwell: takes one option at most";
    const QString korean = "harkwell: 옵션은 하나만 줄 수 있습니다";
    const struct {
        std::vector<AppLocale> chosen;
        QString expected;
    } cases[] = {
        {{AppLocale::korean}, korean},
        {{AppLocale::korean, AppLocale::english}, english},
        // Chosen twice, English again at once.
        {{AppLocale::korean, AppLocale::korean, AppLocale::english}, english},
        {{AppLocale::english, AppLocale::english, AppLocale::korean}, korean},
    };
    for (const auto& c : cases) {
        for (const AppLocale locale : c.chosen) {
            useAppLocale(locale);
        }
        EXPECT_EQ(currentAppLocale(), c.chosen.back());
        EXPECT_EQ(QCoreApplication::translate(context, english), c.expected);
        EXPECT_EQ(translatedText(AppLocale::korean, context, english), korean);
        EXPECT_EQ(translatedText(AppLocale::english, context, english), english);
    }
    EXPECT_EQ(translatedText(AppLocale::korean, context, "No such text"), "No such text");
}

// The placeholders of a text (%1, %2, ...), which its translation must keep.
std::multiset<QString> placeholders(const QString& text) {
    std::multiset<QString> found;
    static const QRegularExpression placeholder("%[1-9]");
    for (auto it = placeholder.globalMatch(text); it.hasNext();) {
        found.insert(it.next().captured());
    }
    return found;
}

TEST(AppLanguageTest, EveryTextHasAFinishedKoreanTranslation) {
    QFile file(HARKWELL_KOREAN_TRANSLATIONS);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << HARKWELL_KOREAN_TRANSLATIONS;
    QXmlStreamReader xml(&file);
    QString context;
    QString source;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const QString type = xml.attributes().value("type").toString();
            const QString translation = xml.readElementText();
            const std::string where = (context + ": " + source).toStdString();
            EXPECT_TRUE(type.isEmpty()) << type.toStdString() << " " << where;
            EXPECT_FALSE(translation.trimmed().isEmpty()) << where;
            EXPECT_EQ(placeholders(translation), placeholders(source)) << where;
            ++messages;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 0);
}

} // namespace
} // namespace harkwell
