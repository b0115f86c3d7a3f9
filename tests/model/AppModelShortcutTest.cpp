// The model with the real shortcut backends: the desktop portal's (against a fake portal on a
// private bus) and X11's (on the test's Xvfb, beside another client that grabs keys).
#include "EventLoop.h"
#include "FakePortal.h"
#include "ModelFakes.h"
#include "OtherXClient.h"
#include "PrivateBusConnection.h"
#include "TestLocale.h"
#include "model/AppModel.h"
#include "shortcut/PortalHotKeyBackend.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::eventually;

const QByteArray storedControlOptionK = R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";
constexpr std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

QString refusalText(std::int32_t status) {
    return QString::fromStdString(HotKeyError::registrationFailed(status).errorDescription());
}

class AppModelShortcutTest : public ::testing::Test, protected testing::FakeModelParts {
protected:
    // A model over a new settings file holding the shortcut Ctrl+Alt+K, with this hot-key controller.
    std::unique_ptr<AppModel> makeModel(std::unique_ptr<HotKeyController> controller) {
        path = directory.filePath(QString("Harkwell-%1.json").arg(++generation));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(storedControlOptionK) == storedControlOptionK.size());
        file.close();
        auto parts = dependencies(path);
        parts.hotKeyController = std::move(controller);
        return std::make_unique<AppModel>(std::move(parts));
    }
    QByteArray storedSettings() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool storesControlOptionK() const {
        const auto settings = SettingsStore(path);
        return settings.unsignedNumber("hotKeyKeyCode") == 40u && settings.unsignedNumber("hotKeyModifiers") == 6144u &&
               settings.string("hotKeyDisplayKey") == "K";
    }

    testing::TestLocale speaksEnglish;
    QTemporaryDir directory;
    QString path;
    int generation = 0;
};

// The model starts without waiting for the portal, which holds its answer as while it asks the
// user; the answer arrives later: bound, or refused with the refusal's message.
TEST_F(AppModelShortcutTest, ThePortalsLateAnswerToTheStoredShortcut) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    using Answer = testing::FakePortal::BindAnswer;
    for (const auto& [answer, message] : {std::pair<Answer, std::optional<QString>>{Answer::bind, std::nullopt},
                                          {Answer::refuse, refusalText(-2002)}}) {
        SCOPED_TRACE(message.value_or("bound").toStdString());
        testing::FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
        portal.holdsAnswers = true;
        portal.bindAnswer = answer;
        auto controller = std::make_unique<HotKeyController>(
            std::make_unique<PortalHotKeyBackend>(testing::connectToPrivateBus(daemon, "harkwell")));
        const auto* registrar = controller.get();
        const auto model = makeModel(std::move(controller));
        EXPECT_TRUE(registrar->isRegistrationPending());
        EXPECT_FALSE(model->errorMessage());
        ASSERT_TRUE(eventually([&] { return portal.isHoldingAnswer(); }));

        portal.releaseAnswer();
        ASSERT_TRUE(eventually([&] { return !registrar->isRegistrationPending(); }));
        EXPECT_EQ(registrar->isRegistered(), !message);
        EXPECT_EQ(model->errorMessage(), message);
        EXPECT_EQ(model->hotKeyDisplayName(), "Ctrl+Alt+K");
        EXPECT_EQ(storedSettings(), storedControlOptionK);
    }
}

// Another client holds the stored combination before the model starts: the refusal shows at
// launch, with the shortcut still shown and stored for the next launch. A re-recording that is
// refused leaves the shortcut in effect shown, stored and registered.
TEST_F(AppModelShortcutTest, AnX11GrabOfAnotherClient) {
    testing::OtherXClient other;
    ASSERT_EQ(other.grab('k', controlAlt), 0);
    const auto model = makeModel(std::make_unique<HotKeyController>()); // X11 under this test's main()
    EXPECT_EQ(model->errorMessage(), refusalText(-10));
    EXPECT_EQ(model->hotKeyDisplayName(), "Ctrl+Alt+K");
    EXPECT_EQ(storedSettings(), storedControlOptionK);

    const auto record = [&](int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym) {
        model->startShortcutRecording();
        keys->press(qtKey, modifiers, keysym);
    };
    other.ungrab('k', controlAlt);
    record(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k');
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(other.grab('k', controlAlt), 10) << "the shortcut is not in effect";

    ASSERT_EQ(other.grab('j', XCB_MOD_MASK_CONTROL), 0);
    record(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_EQ(model->errorMessage(), refusalText(-10));
    EXPECT_EQ(model->hotKeyDisplayName(), "Ctrl+Alt+K");
    EXPECT_TRUE(storesControlOptionK());
    EXPECT_EQ(other.grab('k', controlAlt), 10) << "the refusal released the shortcut in effect";
}

} // namespace
} // namespace harkwell
