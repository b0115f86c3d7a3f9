#pragma once

// Fakes of everything the application model works through.

#include "EventLoop.h"
#include "Holdable.h"
#include "model/AppModel.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace harkwell::testing {

// What the file holds; empty when it cannot be read.
inline QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
// Writes the file whole; throws when it cannot.
inline void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}
inline QJsonObject json(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }
inline QJsonObject settingsIn(const QString& path) { return json(contentsOf(path)); }
// The error as the banner says it.
inline QString describe(const Error& error) { return QString::fromStdString(error.description()); }

// AirPods whose answers the test scripts (unscripted calls answer ANC). With hold(), calls wait
// until release(); one held for 10 s gives up (hasGivenUp), so that a test whose code waits for it
// fails instead of hanging. shutDown ends a held call, which throws, and leaves later calls alone.
class FakeAirPods final : public AirPodsControl, public Holdable {
public:
    using Outcome = std::variant<ListeningMode, AppError>;

    ListeningMode currentMode() override { return answer("current-mode"); }
    ListeningMode prepareBluetoothPermission() override { return answer("request-permission"); }
    void setMode(ListeningMode mode) override { answer(std::string(mode.rawValue())); }
    void shutDown() override {
        {
            std::lock_guard lock(mutex_);
            ++shutDowns_;
            isEndingCall_ = isInCall_;
        }
        release();
    }

    void willAnswer(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcomes_.push_back(std::move(outcome));
    }
    std::vector<std::string> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    int shutDowns() const {
        std::lock_guard lock(mutex_);
        return shutDowns_;
    }
    bool hasGivenUp() const {
        std::lock_guard lock(mutex_);
        return hasGivenUp_;
    }

private:
    ListeningMode answer(std::string command) {
        std::unique_lock lock(mutex_);
        commands_.push_back(std::move(command));
        isInCall_ = true;
        if (!waitUntilReleased(lock, std::chrono::seconds(10))) {
            hasGivenUp_ = true;
        }
        isInCall_ = false;
        if (std::exchange(isEndingCall_, false)) {
            throw std::runtime_error("ended for quitting");
        }
        Outcome outcome = ListeningMode::anc;
        if (!outcomes_.empty()) {
            outcome = outcomes_.front();
            outcomes_.pop_front();
        }
        if (auto* error = std::get_if<AppError>(&outcome)) {
            throw *error;
        }
        return std::get<ListeningMode>(outcome);
    }

    std::deque<Outcome> outcomes_;
    std::vector<std::string> commands_;
    int shutDowns_ = 0;
    bool isInCall_ = false;
    bool isEndingCall_ = false;
    bool hasGivenUp_ = false;
};

// Permissions whose statuses the test sets; requests are recorded and answered by the test, from
// a thread of their own as the system does.
class FakePermissions final : public PermissionService {
public:
    AuthorizationStatus speech = AuthorizationStatus::authorized;
    AuthorizationStatus microphone = AuthorizationStatus::authorized;
    std::vector<std::string> requests;
    std::function<void(AuthorizationStatus)> speechCompletion;
    std::function<void(bool)> microphoneCompletion;

    AuthorizationStatus speechAuthorizationStatus() const override { return speech; }
    AuthorizationStatus microphoneAuthorizationStatus() const override { return microphone; }
    void requestSpeechAuthorization(std::function<void(AuthorizationStatus)> completion) override {
        requests.push_back("speech");
        speechCompletion = std::move(completion);
    }
    void requestMicrophoneAccess(std::function<void(bool)> completion) override {
        requests.push_back("microphone");
        microphoneCompletion = std::move(completion);
    }
    void answerSpeech(AuthorizationStatus status) { std::thread(std::move(speechCompletion), status).join(); }
    void answerMicrophone(bool granted) { std::thread(std::move(microphoneCompletion), granted).join(); }
};

// A detector that records what the model asks of it; the test plays the recogniser.
class FakeDetector final : public WakePhraseListener {
public:
    struct Log {
        std::vector<std::vector<std::string>> startedWith;
        std::vector<DetectionSensitivity> madeAt; // the sensitivity of each detector made
        std::vector<std::string> madeOn;          // its microphone source, empty for the automatic one
        double inputLevel = 0;                    // what every detector hears
        int stops = 0;
        // The recogniser hears the phrase alone (onDetected), or within other words (onHeard).
        std::function<void(const std::string& phrase)> onDetected;
        DetectedCallback onHeard;
        ErrorCallback onError;
        ListeningCallback onListening;
        NearSpeechCallback onNearSpeech;
        // Each destruction passes through it, as a real one waits for a recogniser still setting up.
        std::shared_ptr<HoldPoint> teardown = std::make_shared<HoldPoint>();
    };

    explicit FakeDetector(std::shared_ptr<Log> log) : log_(std::move(log)), teardown_(log_->teardown) {}
    ~FakeDetector() override { teardown_->pass(); }
    void start(const std::vector<std::string>& phrases, DetectedCallback onDetected, ErrorCallback onError,
               ListeningCallback onListening = nullptr, NearSpeechCallback onNearSpeech = nullptr) override {
        log_->startedWith.push_back(phrases);
        log_->onDetected = [onDetected](const std::string& phrase) { onDetected(phrase, phrase); };
        log_->onHeard = std::move(onDetected);
        log_->onError = std::move(onError);
        log_->onListening = std::move(onListening);
        log_->onNearSpeech = std::move(onNearSpeech);
    }
    void stop() override { ++log_->stops; }
    double inputLevel() const override { return log_->inputLevel; }

private:
    std::shared_ptr<Log> log_;
    const std::shared_ptr<HoldPoint> teardown_; // the log's fields are the main thread's
};

// The sound server's inputs as the test sets them, or unreachable; read on the model's inputs
// thread, and with hold(), reads wait until release().
class FakeAudioInputs final : public AudioInputList, public HoldPoint {
public:
    std::vector<AudioInputDevice> inputs() override {
        pass();
        std::lock_guard lock(mutex_);
        if (unreachable_) {
            throw Error(AppError::soundServerUnreachable(*unreachable_));
        }
        return devices_;
    }
    void setDevices(std::vector<AudioInputDevice> devices) {
        std::lock_guard lock(mutex_);
        devices_ = std::move(devices);
    }
    void setUnreachable(std::optional<std::string> reason) {
        std::lock_guard lock(mutex_);
        unreachable_ = std::move(reason);
    }
    int reads() const { return passes(); }

private:
    std::vector<AudioInputDevice> devices_{{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio", true}};
    std::optional<std::string> unreachable_;
};

// A desktop that answers registrations with nextStatus, or, with nextStatus empty, when the test
// calls answer(); the test presses the shortcut.
class FakeHotKeyBackend final : public HotKeyBackend {
public:
    struct Log {
        std::optional<HotKeySetting> registered;
        std::optional<std::int32_t> nextStatus = 0;
        std::optional<HotKeySetting> waiting; // the registration that waits for answer()
        FakeHotKeyBackend* backend = nullptr;
    };

    explicit FakeHotKeyBackend(std::shared_ptr<Log> log) : log_(std::move(log)) { log_->backend = this; }
    ~FakeHotKeyBackend() override { log_->backend = nullptr; }

    std::optional<std::int32_t> registerHotKey(const HotKeySetting& setting, HotKeyId) override {
        if (!log_->nextStatus) {
            log_->waiting = setting;
        } else if (*log_->nextStatus == 0) {
            log_->registered = setting;
        }
        return log_->nextStatus;
    }
    void unregisterHotKey() override {
        log_->registered.reset();
        log_->waiting.reset();
    }
    void press(HotKeyId id) const { reportPress(id); }
    void answer(std::int32_t status) {
        if (status == 0) {
            log_->registered = log_->waiting;
        }
        log_->waiting.reset();
        reportRegistration(status);
    }

private:
    std::shared_ptr<Log> log_;
};

// Key presses the test sends to the handler installed, as the application would deliver them.
class FakeKeyEventMonitor final : public KeyEventMonitor {
public:
    struct Keys {
        Handler handler;
        // A press; true when a handler took it.
        bool press(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym) const {
            if (!handler) {
                return false;
            }
            QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0);
            auto taker = handler; // a copy: the handler may remove itself
            taker(event);
            return true;
        }
    };

    explicit FakeKeyEventMonitor(std::shared_ptr<Keys> keys) : keys_(std::move(keys)) {}
    ~FakeKeyEventMonitor() override { remove(); }
    void install(Handler handler) override { keys_->handler = std::move(handler); }
    void remove() override { keys_->handler = nullptr; }

private:
    std::shared_ptr<Keys> keys_;
};

// A clock moved by hand, with the tickers that look at it: each tick comes as the clock passes its
// time, the earliest first (ties: the ticker started first).
class ManualClock final : public Clock {
public:
    class ManualTicker;

    TimePoint now() const override { return now_; }
    void advanceBy(duration elapsed);

private:
    TimePoint now_ = TimePoint() + std::chrono::hours(1);
    std::vector<ManualTicker*> tickers_; // the started ones
};

class ManualClock::ManualTicker final : public Ticker {
public:
    explicit ManualTicker(std::shared_ptr<ManualClock> clock) : clock_(std::move(clock)) {}
    ~ManualTicker() override { stop(); }
    void start(std::chrono::milliseconds interval, std::function<void()> onTick) override {
        stop();
        interval_ = interval;
        nextTick_ = clock_->now() + interval;
        onTick_ = std::move(onTick);
        clock_->tickers_.push_back(this);
    }
    void stop() override {
        onTick_ = nullptr;
        std::erase(clock_->tickers_, this);
    }

private:
    friend class ManualClock;
    std::shared_ptr<ManualClock> clock_;
    std::chrono::milliseconds interval_{0};
    TimePoint nextTick_;
    std::function<void()> onTick_;
};

inline void ManualClock::advanceBy(duration elapsed) {
    const TimePoint target = now_ + elapsed;
    for (;;) {
        const auto next = std::min_element(tickers_.begin(), tickers_.end(),
                                           [](const auto* a, const auto* b) { return a->nextTick_ < b->nextTick_; });
        if (next == tickers_.end() || (*next)->nextTick_ > target) {
            break;
        }
        ManualTicker* ticker = *next;
        now_ = ticker->nextTick_;
        ticker->nextTick_ += ticker->interval_;
        auto onTick = ticker->onTick_; // a copy: the tick may stop its ticker
        onTick();
    }
    now_ = target;
}

// The session's media players and the sound server's streams as the test sets them; what is done
// to them is logged ("pause a", "play a", "volume 7 16384"). With hold(), reading the players
// waits until release(), as a player that does not answer.
class FakeMedia final : public MediaPlayers, public SoundStreams, public HoldPoint {
public:
    std::vector<MediaPlayer> players() override {
        pass();
        std::lock_guard lock(state_);
        return players_;
    }
    void pause(const std::string& name) override { setStatus(name, MediaPlayer::Status::paused, "pause "); }
    void play(const std::string& name) override { setStatus(name, MediaPlayer::Status::playing, "play "); }
    std::vector<SoundStream> streams() override {
        std::lock_guard lock(state_);
        return streams_;
    }
    void changeVolumes(const std::vector<VolumeChange>& changes, std::chrono::milliseconds) override {
        std::lock_guard lock(state_);
        for (const auto& change : changes) {
            for (auto& stream : streams_) {
                if (stream.index == change.index) {
                    stream.volume = change.to;
                    log_.push_back("volume " + std::to_string(change.index) + ' ' + std::to_string(change.to.at(0)));
                }
            }
        }
    }

    void setPlayers(std::vector<MediaPlayer> players) {
        std::lock_guard lock(state_);
        players_ = std::move(players);
    }
    void setStreams(std::vector<SoundStream> streams) {
        std::lock_guard lock(state_);
        streams_ = std::move(streams);
    }
    std::vector<std::string> log() const {
        std::lock_guard lock(state_);
        return log_;
    }

private:
    void setStatus(const std::string& name, MediaPlayer::Status status, const std::string& action) {
        std::lock_guard lock(state_);
        log_.push_back(action + name);
        for (auto& player : players_) {
            if (player.name == name) {
                player.status = status;
            }
        }
    }

    mutable std::mutex state_;
    std::vector<MediaPlayer> players_;
    std::vector<SoundStream> streams_;
    std::vector<std::string> log_;
};

// One of each fake, and the model's dependencies over them with a settings file of the test's.
struct FakeModelParts {
    AppModel::Dependencies dependencies(const QString& settingsPath) const {
        return {airPods,
                std::make_unique<HotKeyController>(std::make_unique<FakeHotKeyBackend>(hotKeys), hotKeyDesktop),
                permissions,
                detectorFactory(),
                std::make_unique<FakeKeyEventMonitor>(keys),
                std::make_unique<SettingsStore>(settingsPath),
                std::make_unique<AutostartEntry>(autostartFolder(), executablePath),
                clock,
                [clock = clock] { return std::make_unique<ManualClock::ManualTicker>(clock); },
                audioInputs,
                whisperModel,
                media,
                media};
    }
    // Fake detectors that log to detectors.
    WakePhraseListenerFactory detectorFactory() const {
        return [log = detectors](AppLocale, DetectionSensitivity sensitivity, const std::string& source) {
            log->madeAt.push_back(sensitivity);
            log->madeOn.push_back(source);
            return std::make_unique<FakeDetector>(log);
        };
    }
    // A new settings file holding contents, another each time (QSettings caches what it parsed).
    QString writeSettingsFile(const QByteArray& contents) {
        const QString path = settingsDirectory.filePath(QString("Harkwell-%1.json").arg(++settingsFiles));
        writeFile(path, contents);
        return path;
    }
    // The listener reports an error from the recogniser's thread; true once it has been stopped.
    bool reportListenerError(const Error& error) const {
        const int stops = detectors->stops;
        std::thread(detectors->onError, error).join();
        return eventually([&] { return detectors->stops > stops; });
    }
    // Moves the clock on, its tickers ticking on the way, and lets what they started settle.
    void passTime(Clock::duration time) const {
        clock->advanceBy(time);
        settle();
    }
    QString autostartFolder() const { return autostartDirectory.filePath("autostart"); } // not there at first

    std::shared_ptr<FakeAirPods> airPods = std::make_shared<FakeAirPods>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<FakeDetector::Log> detectors = std::make_shared<FakeDetector::Log>();
    std::shared_ptr<FakeHotKeyBackend::Log> hotKeys = std::make_shared<FakeHotKeyBackend::Log>();
    DesktopKind hotKeyDesktop = DesktopKind::other; // whose way out a refused shortcut offers
    std::shared_ptr<FakeKeyEventMonitor::Keys> keys = std::make_shared<FakeKeyEventMonitor::Keys>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeAudioInputs> audioInputs = std::make_shared<FakeAudioInputs>();
    std::shared_ptr<WhisperModel> whisperModel;                       // none unless the test gives one
    std::shared_ptr<FakeMedia> media = std::make_shared<FakeMedia>(); // no players, no streams unless set
    QTemporaryDir autostartDirectory;
    QTemporaryDir settingsDirectory;
    int settingsFiles = 0;
    QString executablePath = QStringLiteral("/usr/bin/harkwell");
};

} // namespace harkwell::testing
