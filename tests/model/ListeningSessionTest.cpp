#include "model/ListeningSession.h"
#include "EventLoop.h"
#include "LogCapture.h"
#include "ModelFakes.h"
#include "TestLocale.h"
#include "speech/WhisperTranscriber.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using namespace std::chrono_literals;

const Error soundStopped = AppError::microphoneStopped("Built-in Audio");
const Error soundUnreachable = AppError::soundServerUnreachable("Connection refused");
const std::vector<std::string> james{"James"};

class ListeningSessionTest : public ::testing::Test, protected FakeModelParts {
protected:
    ListeningSessionTest() { makeSession(); }
    ~ListeningSessionTest() override {
        audioInputs->release();
        detectors->teardown->release();
        session.reset();
    }

    // A new session over whisperModel; a try that is due starts again over the same phrases.
    void makeSession() {
        session.reset();
        session = std::make_unique<ListeningSession>(detectorFactory(), microphones, clock,
                                                     std::make_unique<ManualClock::ManualTicker>(clock), whisperModel);
        session->onDetected = [this](const QString& phrase, const QString&) { heard.append(phrase); };
        session->onFailed = [this](const Error& error) { failures.push_back(error.description()); };
        session->onResumed = [this] { ++resumes; };
        session->onResumeDue = [this] { session->start(james); };
    }
    void report(const Error& error) { ASSERT_TRUE(reportListenerError(error)); }
    // A model file that is there; the tests' loaders read nothing from it.
    QString presentModelFile() {
        QFile file(modelDirectory.filePath("ggml-model.bin"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("ggml") == 4);
        return file.fileName();
    }
    std::size_t tries() const { return detectors->startedWith.size() - 1; }

    TestLocale speaksEnglish;
    QTemporaryDir modelDirectory;
    MicrophoneInputs microphones{audioInputs};
    std::unique_ptr<ListeningSession> session;
    QStringList heard;
    std::vector<std::string> failures;
    int resumes = 0;
};

// Retries after 1, 2, 4, 8, 16, then every 30 s, quietly; audio ends the trying and says so once.
TEST_F(ListeningSessionTest, ListeningLostWithTheSoundIsTriedAgainWithBackoffUntilAudioComes) {
    const std::vector<std::chrono::seconds> delays{1s, 2s, 4s, 8s, 16s, 30s, 30s};
    audioInputs->setUnreachable("Connection refused"); // the watch agrees: still away
    session->start(james);
    report(soundStopped);
    EXPECT_EQ(failures, std::vector<std::string>{soundStopped.description()});
    EXPECT_FALSE(session->isRunning());
    EXPECT_TRUE(session->isWaitingToResume());

    for (std::size_t attempt = 0; attempt < delays.size(); ++attempt) {
        SCOPED_TRACE(attempt);
        if (attempt == 0 || delays[attempt] != delays[attempt - 1] * 2) {
            passTime(delays[attempt] - 1ms);
            EXPECT_EQ(tries(), attempt) << "tried too early";
            passTime(1ms);
        } else {
            passTime(delays[attempt]);
        }
        ASSERT_EQ(tries(), attempt + 1);
        EXPECT_EQ(detectors->startedWith.back(), james);
        if (attempt + 1 == delays.size()) {
            break; // this one hears audio
        }
        report(attempt % 2 ? soundStopped : soundUnreachable);
        EXPECT_EQ(failures.size(), 1u) << "a failed try was not quiet";
    }

    EXPECT_EQ(resumes, 0);
    std::thread(detectors->onListening).join();
    ASSERT_TRUE(eventually([&] { return resumes == 1; }));
    EXPECT_FALSE(session->isWaitingToResume());
    std::thread(detectors->onListening).join();
    std::thread(detectors->onDetected, "James").join(); // the resumed session hears calls
    ASSERT_TRUE(eventually([&] { return heard == QStringList{"James"}; }));
    EXPECT_EQ(resumes, 1) << "audio while listening said so again";
    passTime(120s);
    EXPECT_EQ(tries(), delays.size());
}

// However long the wait has grown, a sound server that comes back is tried within seconds: it is
// watched meanwhile through its list of inputs, which makes no listener.
TEST_F(ListeningSessionTest, ASoundServerThatComesBackIsTriedAtOnceWhateverTheWait) {
    audioInputs->setUnreachable("Connection refused");
    session->start(james);
    report(soundUnreachable);
    for (const auto delay : {1s, 2s, 4s, 8s, 16s}) {
        passTime(delay);
        report(soundUnreachable);
    }
    passTime(20s); // of the 30 s the next try waits
    ASSERT_EQ(tries(), 5u) << "tried more often than the waits allow";
    audioInputs->setUnreachable(std::nullopt);
    for (int second = 0; second < 3 && tries() == 5; ++second) {
        passTime(1s);
        eventually([&] { return tries() == 6; }, 2s);
    }
    EXPECT_EQ(tries(), 6u) << "the try waited for its time";
}

// What ends the trying: a cancel, or an error other than the sound going away; such an error at
// first is not tried again at all.
TEST_F(ListeningSessionTest, ACancelOrAnotherErrorEndsTheTrying) {
    const std::vector<std::tuple<const char*, std::function<void()>, std::vector<std::string>>> cases{
        {"cancelled",
         [this] {
             session->cancelResume();
             session->stop();
         },
         {soundStopped.description()}},
        {"no microphone on the server that came back",
         [this] { report(AppError::microphoneMissing()); },
         {soundStopped.description(), Error(AppError::microphoneMissing()).description()}},
    };
    for (const auto& [name, act, failed] : cases) {
        SCOPED_TRACE(name);
        detectors->startedWith.clear();
        detectors->stops = 0;
        failures.clear();
        session->start(james);
        report(soundStopped);
        passTime(1s);
        ASSERT_EQ(tries(), 1u);
        act();
        EXPECT_EQ(detectors->stops, 2) << "the try under way ends";
        EXPECT_FALSE(session->isWaitingToResume());
        EXPECT_EQ(failures, failed);
        std::thread(detectors->onListening).join(); // late, from the try that was stopped
        passTime(120s);
        EXPECT_EQ(resumes, 0);
        EXPECT_EQ(tries(), 1u);
    }
    session->start(james);
    report(Error::platform("Recognition was cancelled."));
    EXPECT_FALSE(session->isWaitingToResume());
}

// What a stopped session's listener still reports is dropped; a later session's own error ends it.
TEST_F(ListeningSessionTest, WhatAStoppedSessionStillSendsIsIgnored) {
    session->start(james);
    const auto firstSessionError = detectors->onError;
    // A call on its way when listening stops must not arrive.
    std::thread(detectors->onDetected, "James").join();
    session->stop();
    EXPECT_EQ(detectors->stops, 1);
    std::thread(firstSessionError, Error::platform("Recognition was cancelled.")).join();
    settle();
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_TRUE(failures.empty());

    // Nor may the old session's late error end the next one; its own error does.
    session->start(james);
    std::thread(firstSessionError, Error::platform("Recognition was cancelled.")).join();
    std::thread(detectors->onError, Error::platform("The microphone went away.")).join();
    ASSERT_TRUE(eventually([&] { return !failures.empty(); }));
    EXPECT_EQ(failures, std::vector<std::string>{"The microphone went away."});
    EXPECT_FALSE(session->isRunning());
}

// A new level while listening starts a new session over the same phrases; the same level again,
// or a level while stopped, starts nothing. The input level is the listener's only while listening.
// A session stopped or started again leaves the old listener to end on another thread: a recogniser
// that is still setting up holds up neither.
TEST_F(ListeningSessionTest, ANewSensitivityStartsANewSessionOverTheSamePhrases) {
    detectors->inputLevel = 0.25;
    QSignalSpy changes(session.get(), &ListeningSession::sensitivityChanged);
    session->setSensitivity(DetectionSensitivity::high);
    EXPECT_TRUE(detectors->madeAt.empty());
    EXPECT_EQ(session->inputLevel(), 0);
    session->start(james);
    EXPECT_EQ(session->inputLevel(), 0.25);
    const auto firstSession = detectors->onDetected;

    detectors->teardown->hold();
    session->setSensitivity(DetectionSensitivity::high);
    EXPECT_EQ(detectors->madeAt.size(), 1u) << "the same level again restarted listening";
    session->setSensitivity(DetectionSensitivity::low);
    EXPECT_EQ(changes.count(), 3);
    EXPECT_EQ(session->sensitivity(), DetectionSensitivity::low);
    EXPECT_EQ(detectors->madeAt,
              (std::vector<DetectionSensitivity>{DetectionSensitivity::high, DetectionSensitivity::low}));
    EXPECT_EQ(detectors->startedWith, (std::vector<std::vector<std::string>>(2, james)));
    EXPECT_EQ(detectors->stops, 1);
    EXPECT_TRUE(session->isRunning());

    std::thread(firstSession, "James").join();
    std::thread(detectors->onDetected, "James").join();
    ASSERT_TRUE(eventually([&] { return !heard.isEmpty(); }));
    settle();
    EXPECT_EQ(heard, QStringList{"James"}) << "the stopped session was heard";

    session->stop();
    EXPECT_EQ(detectors->stops, 2);
    EXPECT_FALSE(detectors->teardown->hasGivenUp()) << "the main thread waited for a listener to end";
    detectors->teardown->release();
    EXPECT_TRUE(eventually([&] { return detectors->teardown->passes() == 2; }));
}

const AudioInputDevice builtIn{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio", true};
const AudioInputDevice headset{"bluez_input.AA_BB_CC_DD_EE_FF.0", "AirPods Pro", false, true};

// With a chosen input, listening starts once the inputs have been read on the inputs thread: a
// sound server that does not answer holds up that session and not the main thread, and a session
// that ended meanwhile starts no listener when the answer comes. A chosen input that is gone gives
// way to the automatic choice, named as the fallback while that session lasts.
TEST_F(ListeningSessionTest, ListeningOnAChosenInputWaitsForTheInputsOffTheMainThread) {
    audioInputs->setDevices({headset, builtIn});
    audioInputs->hold();
    microphones.setSource("alsa_input.usb-Blue_Yeti");
    session->start(james);
    settle();
    EXPECT_FALSE(audioInputs->hasGivenUp()) << "a read waited on the main thread";
    EXPECT_TRUE(session->isRunning());
    EXPECT_TRUE(detectors->madeOn.empty());
    audioInputs->release();
    ASSERT_TRUE(eventually([&] { return !detectors->madeOn.empty(); }));
    EXPECT_EQ(detectors->madeOn, std::vector<std::string>{""}) << "one session, on the automatic choice";
    EXPECT_EQ(session->fallbackMicrophone(), "Built-in Audio");

    audioInputs->hold();
    session->setSensitivity(DetectionSensitivity::high);
    ASSERT_TRUE(eventually([&] { return audioInputs->reads() == 2; }));
    session->stop();
    audioInputs->release();
    // A refresh reads after the session's read, and its list comes after the session's answer.
    microphones.refresh();
    ASSERT_TRUE(eventually([&] { return !microphones.inputs().isEmpty(); }));
    EXPECT_EQ(detectors->madeOn.size(), 1u) << "a session stopped meanwhile started";
    EXPECT_FALSE(session->isRunning());
    EXPECT_EQ(session->fallbackMicrophone(), "");
}

// The notice says why listening goes on with the basic recogniser: nothing while the model loads,
// which starts with the session itself, and nothing without a loader; the reason of a failure goes
// to the model's log, not to the notice.
// A loaded model that transcribes nothing, multilingual or English-only.
class LoadedModel final : public WhisperTranscriber {
public:
    explicit LoadedModel(bool multilingual) : multilingual_(multilingual) {}
    bool isMultilingual() const override { return multilingual_; }

private:
    bool multilingual_;
};

// Without phrases, in English: the basic recogniser listens without the model, and why it does.
TEST_F(ListeningSessionTest, TheRecognizerNoticeSaysWhatListensWithoutTheModelAndWhy) {
    using Load = std::function<std::shared_ptr<WhisperTranscriber>()>;
    const auto throwing = [](const char* reason) -> Load {
        return [reason]() -> std::shared_ptr<WhisperTranscriber> { throw std::runtime_error(reason); };
    };
    const QString notInstalled = "Accurate recognition model not installed: listening with the basic recogniser.";
    const QString notLoaded = "Accurate recognition model could not be loaded: listening with the basic recogniser.";
    const QString present = presentModelFile();
    // The model's path, its loader (none: the model stays loading), the notice, the reason in the log.
    const std::vector<std::tuple<QString, Load, QString, QString>> cases{
        {"", throwing("read"), notInstalled, {}},
        {modelDirectory.filePath("absent.bin"), throwing("read"), notInstalled, {}},
        {present, throwing("not a ggml file"), notLoaded, "not a ggml file"},
        {present, [] { return nullptr; }, notLoaded, "the model could not be read"},
        {present, nullptr, "", {}},
        {present, [] { return std::make_shared<LoadedModel>(true); }, "", {}},
    };
    for (const auto& [path, load, notice, reason] : cases) {
        SCOPED_TRACE(path.toStdString() + " " + reason.toStdString());
        const LogCapture log("harkwell.*=false\nharkwell.model=true");
        std::promise<void> release; // loads wait for the test, so that their state can be seen
        std::shared_future<void> released = release.get_future().share();
        WhisperModel::Loader loader;
        if (load) {
            loader = [released, load = load](const std::string&) {
                released.wait();
                return load();
            };
        }
        const auto whisper = std::make_shared<WhisperModel>(path.toStdString(), loader);
        whisperModel = whisper;
        makeSession();
        const bool isPresent = path == present;
        EXPECT_EQ(session->recognizerNotice(), isPresent ? QString() : notice) << "before loading";
        QSignalSpy noticeChanges(session.get(), &ListeningSession::recognizerNoticeChanged);
        release.set_value();
        if (isPresent && load) {
            ASSERT_TRUE(eventually([&] { return whisper->state() != WhisperModelState::loading; }));
            EXPECT_EQ(noticeChanges.count(), 1);
        } else {
            settle();
            EXPECT_EQ(whisper->state(), isPresent ? WhisperModelState::loading : WhisperModelState::notInstalled);
        }
        EXPECT_EQ(session->recognizerNotice(), notice);
        if (!reason.isEmpty()) {
            EXPECT_FALSE(session->recognizerNotice().contains(reason));
            EXPECT_TRUE(log.lines().join('\n').contains(reason)) << log.lines().join('\n').toStdString();
        }
    }
}

// The notice speaks of the phrases' languages, not the interface's: Korean texts when a phrase is
// Hangul and no multilingual model is ready, the basic recogniser's when the phrases are Latin
// only; without a phrase in either, the interface language decides. It follows the phrases.
// (The Korean texts are checked with the translations.)
TEST_F(ListeningSessionTest, TheRecognizerNoticeFollowsThePhrasesLanguages) {
    enum class Model { notInstalled, failed, loading, multilingual, englishOnly };
    const QString basicMissing = "Accurate recognition model not installed: listening with the basic recogniser.";
    const QString koreanMissing = "Accurate recognition model not installed: Korean cannot be heard.";
    const QString basicFailed = "Accurate recognition model could not be loaded: listening with the basic recogniser.";
    const QString koreanFailed = "Accurate recognition model could not be loaded: Korean cannot be heard.";
    const QString englishOnly = "The installed recognition model hears English only: Korean cannot be heard.";
    const std::vector<AppLocale> noLanguage;
    const std::vector<AppLocale> latin{AppLocale::english};
    const std::vector<AppLocale> hangul{AppLocale::korean};
    const std::vector<AppLocale> both{AppLocale::english, AppLocale::korean};
    // The model, the phrases' languages, the interface language, the notice, whether Korean is heard.
    const std::vector<std::tuple<Model, std::vector<AppLocale>, const char*, QString, bool>> cases{
        {Model::notInstalled, noLanguage, "en-US", basicMissing, false},
        {Model::notInstalled, noLanguage, "ko-KR", "정확한 인식 모델이 설치되지 않았습니다. 한국어를 들을 수 없습니다.",
         false},
        {Model::notInstalled, latin, "ko-KR", "정확한 인식 모델이 설치되지 않았습니다. 기본 인식기로 듣고 있습니다.",
         false},
        {Model::notInstalled, latin, "en-US", basicMissing, false},
        {Model::notInstalled, hangul, "en-US", koreanMissing, false},
        {Model::notInstalled, both, "en-US", koreanMissing, false},
        {Model::failed, latin, "en-US", basicFailed, false},
        {Model::failed, both, "en-US", koreanFailed, false},
        {Model::loading, both, "en-US", "", true},
        {Model::multilingual, both, "en-US", "", true},
        {Model::englishOnly, latin, "en-US", "", false},
        {Model::englishOnly, hangul, "en-US", englishOnly, false},
        {Model::englishOnly, noLanguage, "en-US", "", false},
        {Model::englishOnly, noLanguage, "ko-KR", "설치된 인식 모델은 영어만 듣습니다. 한국어를 들을 수 없습니다.",
         false},
    };
    const QString present = presentModelFile();
    for (const auto& [model, languages, locale, notice, isKoreanHeard] : cases) {
        SCOPED_TRACE(std::to_string(int(model)) + " " + std::to_string(languages.size()) +
                     (languages.empty() ? "" : std::string(languages.back().rawValue())) + " " + locale);
        useLocale(locale);
        WhisperModel::Loader loader;
        if (model == Model::failed) {
            loader = [](const std::string&) -> std::shared_ptr<WhisperTranscriber> {
                throw std::runtime_error("not a ggml file");
            };
        } else if (model != Model::loading) {
            loader = [multilingual = model == Model::multilingual](const std::string&) {
                return std::make_shared<LoadedModel>(multilingual);
            };
        }
        const auto whisper = std::make_shared<WhisperModel>(
            model == Model::notInstalled ? std::string() : present.toStdString(), loader);
        whisperModel = whisper;
        makeSession();
        ASSERT_TRUE(eventually([&] { return !loader || whisper->state() != WhisperModelState::loading; }));
        session->setPhraseLanguages(latin);
        QSignalSpy noticeChanges(session.get(), &ListeningSession::recognizerNoticeChanged);
        session->setPhraseLanguages(languages);
        EXPECT_EQ(noticeChanges.count(), 1) << "the phrases changed";
        EXPECT_EQ(session->recognizerNotice(), notice);
        EXPECT_EQ(session->isKoreanHeard(), isKoreanHeard);
    }
}

// Korean phrases alone are heard only with the model: a session begun while it loads waits for it
// instead of failing at once; Latin phrases are heard at once.
TEST_F(ListeningSessionTest, KoreanPhrasesAloneWaitForTheModelThatLoads) {
    const QString path = presentModelFile();
    const std::vector<std::string> minsu{"민수"}, both{"James", "민수"};
    // The phrases, whether the session is stopped while the model loads, whether the model
    // loads, and the listeners started before and after it is read.
    const std::vector<std::tuple<std::vector<std::string>, bool, bool, std::size_t, std::size_t>> cases{
        {minsu, false, true, 0, 1}, {minsu, false, false, 0, 1}, // the listener says nothing hears them
        {minsu, true, true, 0, 0},  {both, false, true, 1, 2},   // James at once, both with the model
        {james, false, true, 1, 2},
    };
    for (const auto& [phrases, isStopped, loads, before, after] : cases) {
        SCOPED_TRACE(phrases.size() + (isStopped ? 10 : 0) + (loads ? 100 : 0));
        std::promise<void> release;
        whisperModel = std::make_shared<WhisperModel>(
            path.toStdString(),
            [read = release.get_future().share(), loads](const std::string&) -> std::shared_ptr<WhisperTranscriber> {
                read.wait();
                if (!loads) {
                    throw std::runtime_error("not a ggml file");
                }
                return std::make_shared<LoadedModel>(true);
            });
        const auto whisper = whisperModel;
        const auto started = detectors->startedWith.size();
        makeSession();
        session->start(phrases);
        EXPECT_TRUE(session->isRunning());
        EXPECT_EQ(detectors->startedWith.size() - started, before);
        if (isStopped) {
            session->stop();
            EXPECT_FALSE(session->isRunning());
        }
        release.set_value();
        ASSERT_TRUE(eventually([&] { return whisper->state() != WhisperModelState::loading; }));
        EXPECT_EQ(detectors->startedWith.size() - started, after);
        if (after > 0) {
            EXPECT_EQ(detectors->startedWith.back(), phrases);
        }
        session.reset();
    }
}

// The model is held while listening is on, between sessions too, and let go when it is turned off;
// listening turned on again waits the moment the model takes to read again.
TEST_F(ListeningSessionTest, TheModelIsHeldOnlyWhileListeningIsOn) {
    const QString path = presentModelFile();
    int reads = 0;
    whisperModel = std::make_shared<WhisperModel>(path.toStdString(), [&reads](const std::string&) {
        ++reads;
        return std::make_shared<LoadedModel>(true);
    });
    const auto whisper = whisperModel;
    makeSession();
    ASSERT_TRUE(eventually([&] { return whisper->state() == WhisperModelState::unloaded; })) << "read at start";
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(whisper->transcriber(), nullptr);
    EXPECT_TRUE(session->isKoreanHeard()) << "what the model hears is known without it";

    for (const int round : {2, 3}) {
        const auto started = detectors->startedWith.size();
        session->start(james);
        EXPECT_EQ(detectors->startedWith.size(), started) << "waits for the model";
        ASSERT_TRUE(eventually([&] { return detectors->startedWith.size() == started + 1; }));
        EXPECT_NE(whisper->transcriber(), nullptr);
        session->setSensitivity(DetectionSensitivity::high); // a new session, the same model
        session->setSensitivity(DetectionSensitivity::medium);
        EXPECT_EQ(detectors->startedWith.size(), started + 3);
        EXPECT_EQ(reads, round);
        session->end();
        EXPECT_EQ(whisper->state(), WhisperModelState::unloaded);
        EXPECT_EQ(whisper->transcriber(), nullptr);
    }
}

} // namespace
} // namespace harkwell
