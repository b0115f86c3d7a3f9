#pragma once

// The fixture of the application model's tests: the model over fakes and a settings file of the
// test's; the test plays the recogniser, the AirPods and time.

#include "EventLoop.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <gtest/gtest.h>

#include <thread>

namespace harkwell::testing {

using Status = AuthorizationStatus;
using namespace std::chrono_literals;

class AppModelTest : public ::testing::Test, protected FakeModelParts {
protected:
    ~AppModelTest() override {
        audioInputs->release();
        media->release();
        detectors->teardown->release();
        model.reset();
        airPods->release();
    }

    // A model over a new settings file; the old model goes first, as it unhooks the hot-key backend.
    AppModel& makeModel(const QByteArray& settings) {
        model.reset();
        path = writeSettingsFile(settings);
        model = std::make_unique<AppModel>(dependencies(path));
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }
    QJsonObject storedSettings() const { return settingsIn(path); }
    // Setup complete, listening for "James"; more settings start with ", ".
    AppModel& listeningModel(const QByteArray& more = "") {
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"])" + more + "}");
        created.setDetectionEnabled(true);
        return created;
    }
    void addPhrase(const QString& phrase) {
        model->setWakePhraseDraft(phrase);
        model->addWakePhraseFromDraft();
    }

    // The recogniser hears the call, on its own thread.
    void detect() { std::thread(detectors->onDetected, "James").join(); }
    // A call heard while listening, once the AirPods have switched for it.
    void hearCall() {
        const auto heard = calls.size();
        detect();
        ASSERT_TRUE(eventually([&] { return calls.size() > heard && !model->isCommandRunning(); }));
    }
    void hearNearSpeech() {
        std::thread(detectors->onNearSpeech).join();
        settle();
    }
    bool idle() {
        return eventually([&] { return !model->isCommandRunning(); });
    }
    // Time passes; a command it sets going has finished when this returns.
    void wait(std::chrono::milliseconds time) {
        clock->advanceBy(time);
        ASSERT_TRUE(idle());
    }
    void pressShortcut() { hotKeys->backend->press({HotKeyController::signature, HotKeyController::hotKeyNumber}); }

    TestLocale speaksEnglish;
    QString path;
    std::unique_ptr<AppModel> model;
    QStringList calls;
};

} // namespace harkwell::testing
