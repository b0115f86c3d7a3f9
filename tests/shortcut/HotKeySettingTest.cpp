#include "shortcut/HotKeySetting.h"
#include "locale/AppMetadata.h"
#include "shortcut/HotKeyController.h"
#include "shortcut/VirtualKeyCode.h"

#include <QInputDevice>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <set>

namespace harkwell {
namespace {

QKeyEvent keyPress(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym, const QString& text = {}) {
    // A device of the test's own: without an application Qt would make (and leak) a default one.
    static const QInputDevice keyboard("test keyboard", 1, QInputDevice::DeviceType::Keyboard);
    return QKeyEvent(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0, text, false, 1, &keyboard);
}

struct FromCase {
    const char* name;
    int qtKey;
    Qt::KeyboardModifiers modifiers;
    std::uint32_t keysym;
    std::optional<HotKeySetting> expected;
};

TEST(HotKeySettingTest, FromKeyPress) {
    const auto ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    const FromCase cases[] = {
        {"control option K", Qt::Key_K, ctrlAlt, 'k', HotKeySetting{40, 0x1800, "K"}},
        {"shift command up", Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52, HotKeySetting{126, 0x300, "↑"}},
        {"shift alone counts, shifted keysym", Qt::Key_K, Qt::ShiftModifier, 'K', HotKeySetting{40, 0x200, "K"}},
        {"shifted digit keeps the shifted character", Qt::Key_Exclam, Qt::ShiftModifier | Qt::MetaModifier, '!',
         HotKeySetting{18, 0x300, "!"}},
        {"Caps Lock gives the upper-case keysym", Qt::Key_A, Qt::MetaModifier, 'A', HotKeySetting{0, 0x100, "A"}},
        {"keypad flag ignored", Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, 0xffb1,
         HotKeySetting{83, 0x1000, "Keypad 1"}},
        {"keypad with Num Lock off is the same key", Qt::Key_End, Qt::ControlModifier | Qt::KeypadModifier, 0xff9c,
         HotKeySetting{83, 0x1000, "Keypad 1"}},
        {"space bar has its own label", Qt::Key_Space, ctrlAlt, ' ', HotKeySetting{49, 0x1800, "Space"}},
        {"Shift Tab", Qt::Key_Backtab, Qt::ShiftModifier, 0xfe20, HotKeySetting{48, 0x200, "Tab"}},
        {"backspace is Delete", Qt::Key_Backspace, ctrlAlt, 0xff08, HotKeySetting{51, 0x1800, "Delete"}},
        {"function key", Qt::Key_F5, Qt::ControlModifier, 0xffc2, HotKeySetting{96, 0x1000, "F5"}},
        {"no modifier", Qt::Key_K, Qt::NoModifier, 'k', std::nullopt},
        {"keypad flag alone is no modifier", Qt::Key_1, Qt::KeypadModifier, 0xffb1, std::nullopt},
        {"white-space character", Qt::Key_nobreakspace, Qt::ControlModifier, 0xa0, std::nullopt},
        {"key outside the table", Qt::Key_unknown, Qt::ControlModifier, 0x6c1 /* Cyrillic a */, std::nullopt},
        {"no keysym (synthesised event)", Qt::Key_K, Qt::ControlModifier, 0, std::nullopt},
    };
    // The event's text does not matter: with Control held it is a control character (Ctrl+K is
    // U+000B, white space).
    for (const QString& text : {QString(), QString(QChar(0x0b))}) {
        for (const auto& c : cases) {
            EXPECT_EQ(HotKeySetting::from(keyPress(c.qtKey, c.modifiers, c.keysym, text)), c.expected) << c.name;
        }
    }
}

TEST(HotKeySettingTest, DisplayNameOrdersModifiersControlOptionShiftCommand) {
    const std::pair<HotKeySetting, std::string> cases[] = {
        {{40, 0x1800, "K"}, "⌃⌥K"},
        {{126, 0x300, "↑"}, "⇧⌘↑"},
        {{0, 0x1b00, "A"}, "⌃⌥⇧⌘A"},
        {{0, 0, "A"}, "A"},
    };
    for (const auto& [setting, name] : cases) {
        EXPECT_EQ(setting.displayName(), name);
    }
}

TEST(HotKeySettingTest, ModifierAndEscapeKeys) {
    EXPECT_TRUE(HotKeySetting::isModifierKey(keyPress(Qt::Key_Control, Qt::ControlModifier, 0xffe3)));
    EXPECT_TRUE(HotKeySetting::isModifierKey(keyPress(Qt::Key_CapsLock, Qt::NoModifier, 0xffe5)));
    EXPECT_FALSE(HotKeySetting::isModifierKey(keyPress(Qt::Key_K, Qt::ControlModifier, 'k')));
    EXPECT_EQ(HotKeySetting::virtualKeyCode(keyPress(Qt::Key_Escape, Qt::NoModifier, 0xff1b)), 53u);
}

TEST(VirtualKeyCodeTest, EveryKeyRoundTripsThroughItsKeysym) {
    std::set<std::uint32_t> codes;
    for (const auto& key : virtualKeys()) {
        EXPECT_TRUE(codes.insert(key.code).second) << "code listed twice: " << key.code;
        EXPECT_EQ(virtualKeyCodeFromKeysym(key.keysym), key.code) << key.keysymName;
        const auto back = virtualKeyFromCode(key.code);
        ASSERT_TRUE(back) << key.code;
        EXPECT_EQ(back->keysym, key.keysym);
    }
    EXPECT_FALSE(virtualKeyFromCode(52));
    EXPECT_FALSE(virtualKeyFromCode(0xffff));
}

TEST(HotKeyErrorTest, DescriptionEndsInTheSignedStatus) {
    for (const auto& [locale, message] :
         {std::pair<std::string, std::string>{"en-US", "Could not register the shortcut. Another app may already "
                                                       "use it. (-10)"},
          {"ko-KR", "단축키를 등록할 수 없습니다. 다른 앱에서 쓰는 조합일 수 있습니다. (-10)"}}) {
        setAppMetadataLookupForTesting([locale](std::string_view) { return std::optional<std::string>(locale); });
        const auto error = HotKeyError::registrationFailed(-10);
        EXPECT_EQ(error.errorDescription(), message);
        EXPECT_EQ(std::string(error.what()), message);
    }
    setAppMetadataLookupForTesting(nullptr);
}

// A backend that records what it is asked, in a state that outlives it, and refuses when told to.
struct FakeBackendState {
    std::optional<HotKeySetting> registered;
    HotKeyId id;
    std::int32_t nextStatus = 0;
    std::function<void(HotKeyId)> press;
};

class FakeBackend : public HotKeyBackend {
public:
    explicit FakeBackend(FakeBackendState& state) : state_(state) {
        state_.press = [this](HotKeyId id) { reportPress(id); };
    }
    ~FakeBackend() override { state_.press = nullptr; }
    std::int32_t registerHotKey(const HotKeySetting& setting, HotKeyId id) override {
        EXPECT_FALSE(state_.registered) << "registered over an earlier shortcut";
        if (state_.nextStatus == 0) {
            state_.registered = setting;
            state_.id = id;
        }
        return state_.nextStatus;
    }
    void unregisterHotKey() override { state_.registered.reset(); }

private:
    FakeBackendState& state_;
};

TEST(HotKeyControllerTest, RegistersReplacesAndRefuses) {
    FakeBackendState state;
    int presses = 0;
    {
        HotKeyController controller(std::make_unique<FakeBackend>(state));
        controller.onPressed = [&] { ++presses; };
        controller.registerHotKey({40, 0x1800, "K"});
        EXPECT_EQ(state.id, (HotKeyId{0x48524b57u, 1})); // 'H' 'R' 'K' 'W'
        state.press({HotKeyController::signature, 1});
        state.press({HotKeyController::signature, 2}); // not ours
        EXPECT_EQ(presses, 1);

        controller.registerHotKey({126, 0x300, "↑"});
        EXPECT_EQ(state.registered, (HotKeySetting{126, 0x300, "↑"}));

        state.nextStatus = -10;
        try {
            controller.registerHotKey({40, 0x1800, "K"});
            ADD_FAILURE() << "no error";
        } catch (const HotKeyError& error) {
            EXPECT_EQ(error.status(), -10);
        }
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_FALSE(state.registered);
        controller.unregisterHotKey();

        state.nextStatus = 0;
        controller.registerHotKey({40, 0x1800, "K"});
        EXPECT_TRUE(controller.isRegistered());
        controller.onPressed = nullptr;
        state.press({HotKeyController::signature, 1}); // consumed, nothing happens
    }
    EXPECT_FALSE(state.press) << "the backend outlived the controller";
    EXPECT_FALSE(state.registered) << "teardown leaves the shortcut registered";
    EXPECT_EQ(presses, 1);
}

} // namespace
} // namespace harkwell
