#include "shortcut/HotKeySetting.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/KeyNotation.h"
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
        EXPECT_NE(qtKeyCombination({key.code, 0, ""}), 0) << key.keysymName;
    }
}

// The message says what happened and, where the desktop registers no shortcuts, what works there.
TEST(HotKeyErrorTest, DescriptionInTheInterfaceLanguageEndsInTheSignedStatus) {
    const struct {
        const char* locale;
        std::int32_t status;
        DesktopKind desktop;
        const char* text;
    } cases[] = {
        {"ko-KR", -10, DesktopKind::other, "단축키를 등록할 수 없습니다. 다른 앱에서 이미 쓰는 조합입니다. (-10)"},
        {"en-US", -10, DesktopKind::other, "Could not register the shortcut: another app already uses it. (-10)"},
        {"en-US", -2, DesktopKind::other, "Could not register the shortcut: the X server refused it. (-2)"},
        {"en-US", HotKeyError::portalUnavailable, DesktopKind::gnome,
         "This desktop does not let apps register shortcuts. Add it to GNOME's keyboard shortcuts with the button "
         "below. (-2001)"},
        {"en-US", HotKeyError::portalUnavailable, DesktopKind::sway,
         "This desktop does not let apps register shortcuts. Add the line below to sway's config. (-2001)"},
        {"en-US", HotKeyError::noShortcutService, DesktopKind::kde,
         "This desktop does not let apps register shortcuts. Bind harkwell --toggle-mode to it in the desktop's "
         "keyboard settings. (-3001)"},
        {"ko-KR", HotKeyError::portalUnavailable, DesktopKind::gnome,
         "이 데스크톱은 앱이 단축키를 등록하도록 허용하지 않습니다. 아래 버튼으로 GNOME 키보드 단축키에 추가하세요. "
         "(-2001)"},
        {"en-US", HotKeyError::portalRefused, DesktopKind::gnome, "The desktop did not bind the shortcut. (-2002)"},
    };
    const testing::TestLocale restoresTheLanguage;
    for (const auto& [locale, status, desktop, text] : cases) {
        testing::useLocale(locale);
        EXPECT_EQ(HotKeyError::registrationFailed(status, desktop).errorDescription(), text);
    }
}

// Each desktop service reads its own notation; a wrong one binds another combination or none.
TEST(KeyNotationTest, EachServiceGetsItsOwnNotation) {
    const struct {
        HotKeySetting setting;
        const char* portal;
        const char* gtk;
        const char* sway;
    } cases[] = {
        {{40, 0x1800, "K"}, "CTRL+ALT+K", "<Control><Alt>k", "Ctrl+Mod1+k"},
        {{126, 0x300, "↑"}, "SHIFT+LOGO+Up", "<Super><Shift>Up", "Mod4+Shift+Up"},
        {{24, 0x1000, "="}, "CTRL+equal", "<Control>equal", "Ctrl+equal"},
        {{52, 0x100, "?"}, "", "", ""}, // no such key: a damaged setting
    };
    for (const auto& [setting, portal, gtk, sway] : cases) {
        EXPECT_EQ(keyNotation(setting, KeyNotation::portal), portal);
        EXPECT_EQ(keyNotation(setting, KeyNotation::gtk), gtk);
        EXPECT_EQ(keyNotation(setting, KeyNotation::sway), sway);
    }
    EXPECT_EQ(swayBindingLine({4, 0x300, "H"}, "harkwell --toggle-mode"),
              "bindsym Mod4+Shift+h exec harkwell --toggle-mode");
}

} // namespace
} // namespace harkwell
