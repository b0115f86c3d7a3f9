#include "shortcut/HotKeySetting.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/VirtualKeyCode.h"

#include "TestLocale.h"

#include <QInputDevice>
#include <QKeyEvent>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

QKeyEvent keyPress(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym, const QString& text = {}) {
    // A device of the test's own: without an application Qt would make (and leak) a default one.
    static const QInputDevice keyboard("test keyboard", 1, QInputDevice::DeviceType::Keyboard);
    return QKeyEvent(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0, text, false, 1, &keyboard);
}

TEST(HotKeySettingTest, FromKeyPress) {
    const auto ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    const struct {
        const char* name;
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        std::uint32_t keysym;
        std::optional<HotKeySetting> expected;
    } cases[] = {
        {"control option K", Qt::Key_K, ctrlAlt, 'k', HotKeySetting{40, 0x1800, "K"}},
        {"shift alone counts, shifted keysym", Qt::Key_K, Qt::ShiftModifier, 'K', HotKeySetting{40, 0x200, "K"}},
        {"shifted digit keeps the shifted character", Qt::Key_Exclam, Qt::ShiftModifier | Qt::MetaModifier, '!',
         HotKeySetting{18, 0x300, "!"}},
        {"keypad with Num Lock off is the same key", Qt::Key_End, Qt::ControlModifier | Qt::KeypadModifier, 0xff9c,
         HotKeySetting{83, 0x1000, "Keypad 1"}},
        {"space bar has its own label", Qt::Key_Space, ctrlAlt, ' ', HotKeySetting{49, 0x1800, "Space"}},
        {"function key", Qt::Key_F5, Qt::ControlModifier, 0xffc2, HotKeySetting{96, 0x1000, "F5"}},
        {"no modifier", Qt::Key_K, Qt::NoModifier, 'k', std::nullopt},
        {"keypad flag alone is no modifier", Qt::Key_1, Qt::KeypadModifier, 0xffb1, std::nullopt},
        {"white-space character", Qt::Key_nobreakspace, Qt::ControlModifier, 0xa0, std::nullopt},
        {"key outside the table", Qt::Key_unknown, Qt::ControlModifier, 0x6c1 /* Cyrillic a */, std::nullopt},
    };
    // The event's text does not matter: with Control held it is a control character (Ctrl+K is
    // U+000B, white space).
    for (const QString& text : {QString(), QString(QChar(0x0b))}) {
        for (const auto& c : cases) {
            EXPECT_EQ(HotKeySetting::from(keyPress(c.qtKey, c.modifiers, c.keysym, text)), c.expected) << c.name;
        }
    }
    const std::pair<HotKeySetting, const char*> labels[] = {
        {{40, 0x1800, "K"}, "Ctrl+Alt+K"},
        {{0, 0x1b00, "A"}, "Super+Ctrl+Alt+Shift+A"},
        {{96, 0x300, "F5"}, "Super+Shift+F5"},
        {{123, 0x1000, "←"}, "Ctrl+Left"}, // stored with the original symbol
        {{117, 0x800, "⌦"}, "Alt+Delete"}, // the forward delete key
        {{51, 0x800, "Delete"}, "Alt+Backspace"},
        {{53, 0x100, "Esc"}, "Super+Escape"},
        {{83, 0x1000, "Keypad 1"}, "Ctrl+Keypad 1"},
    };
    for (const auto& [setting, label] : labels) {
        EXPECT_EQ(setting.displayName(), label);
    }
    EXPECT_TRUE(HotKeySetting::isModifierKey(keyPress(Qt::Key_Control, Qt::ControlModifier, 0xffe3)));
    EXPECT_FALSE(HotKeySetting::isModifierKey(keyPress(Qt::Key_K, Qt::ControlModifier, 'k')));
    EXPECT_EQ(HotKeySetting::virtualKeyCode(keyPress(Qt::Key_Escape, Qt::NoModifier, 0xff1b)), 53u);
}

// A wrong keysym in the table would grab or bind a key other than the one the user chose.
TEST(VirtualKeyCodeTest, EveryKeyRoundTripsThroughItsKeysym) {
    for (const auto& key : virtualKeys()) {
        EXPECT_EQ(virtualKeyCodeFromKeysym(key.keysym), key.code) << key.keysymName;
        EXPECT_EQ(virtualKeyFromCode(key.code).value().keysym, key.keysym) << key.keysymName;
    }
}

TEST(HotKeyErrorTest, DescriptionInTheInterfaceLanguageEndsInTheSignedStatus) {
    const std::pair<const char*, const char*> cases[] = {
        {"ko-KR", "단축키를 등록할 수 없습니다. 다른 앱에서 쓰는 조합일 수 있습니다. (-10)"},
        {"en-US", "Could not register the shortcut. Another app may already use it. (-10)"},
    };
    const testing::TestLocale restoresTheLanguage;
    for (const auto& [locale, text] : cases) {
        testing::useLocale(locale);
        EXPECT_EQ(HotKeyError::registrationFailed(-10).errorDescription(), text);
    }
}

} // namespace
} // namespace harkwell
