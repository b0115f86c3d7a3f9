#include "model/ListeningSession.h"

#include "core/Log.h"
#include "locale/AppError.h"
#include "locale/AppLanguage.h"
#include "matching/PhraseLanguage.h"
#include "speech/TwoStageRecognizer.h"
#include "speech/WhisperTranscriber.h"

#include <algorithm>

namespace harkwell {

namespace {

// How often a wait to listen again looks at the clock.
constexpr std::chrono::milliseconds tickInterval{250};
// How often a sound server out of reach is asked whether it is back.
constexpr std::chrono::seconds serverWatchInterval{1};
// A server that answers the watch but not the capture is tried no more often than this.
constexpr std::chrono::seconds closestTries{2};

} // namespace

ListeningSession::ListeningSession(WakePhraseListenerFactory listenerFactory, MicrophoneInputs& microphones,
                                   std::shared_ptr<const Clock> clock, std::unique_ptr<Ticker> ticker,
                                   std::shared_ptr<WhisperModel> whisperModel, QObject* parent)
    : QObject(parent), listenerFactory_(std::move(listenerFactory)), microphones_(microphones),
      clock_(std::move(clock)), ticker_(std::move(ticker)), whisperModel_(std::move(whisperModel)) {
    if (!whisperModel_) {
        return;
    }
    connect(whisperModel_.get(), &WhisperModel::stateChanged, this, [this] {
        if (whisperModel_->state() == WhisperModelState::failed) {
            qCWarning(logModel) << "the accurate recognition model" << QString::fromStdString(whisperModel_->path())
                                << "could not be loaded:" << QString::fromStdString(whisperModel_->failure());
        }
        updateRecognizerNotice();
        emit isKoreanHeardChanged();
        if (whisperModel_->state() == WhisperModelState::loading) {
            return;
        }
        if (auto source = std::exchange(awaitingModel_, std::nullopt)) {
            // Still wanted once the model is known: it hears the phrases now, or the listener
            // says why nothing does.
            makeListener(session_, source->name, source->fallback);
        } else if (whisperModel_->state() == WhisperModelState::ready) {
            // Listening began before the model was read: a new session over the same phrases
            // hears with it from now on.
            restartListener();
        }
    });
    updateRecognizerNotice();
    // Read once at start-up, to know whether it loads and which languages it hears; it is let go
    // as soon as it is read unless listening has started meanwhile.
    whisperModel_->load();
    whisperModel_->release();
}

ListeningSession::~ListeningSession() {
    ticker_->stop();
    retireListener();
}

void ListeningSession::start(const std::vector<std::string>& phrases) {
    stop();
    if (whisperModel_) {
        whisperModel_->load();
    }
    phrases_ = phrases;
    const auto session = ++session_;
    // The session goes on once the source is known, unless it has ended meanwhile.
    isAwaitingSource_ = true;
    microphones_.resolveSource(owner_.guard<const std::string&, const QString&>(
        [this, session](const std::string& source, const QString& fallback) {
            if (session != session_) {
                return;
            }
            isAwaitingSource_ = false;
            if (needsTheLoadingModel()) {
                qCInfo(logModel) << "listening session" << session << "waits for the accurate recognition model";
                awaitingModel_ = Source{source, fallback};
                return;
            }
            makeListener(session, source, fallback);
        }));
}

void ListeningSession::makeListener(std::uint64_t session, const std::string& source, const QString& fallback) {
    assignFallbackMicrophone(fallback);
    listener_ = listenerFactory_(currentAppLocale(), sensitivity_, source);
    qCInfo(logModel) << "listening session" << session << "started with" << phrases_.size() << "phrases at"
                     << logged(sensitivity_.rawValue()) << "sensitivity";
    // What the listener reports comes to the main thread, for its own session only.
    const auto forSession = [this, session](std::function<void()> work) {
        return owner_.bind<>([this, session, work = std::move(work)] {
            if (session_ == session) {
                work();
            }
        });
    };
    listener_->start(phrases_,
                     owner_.bind<const std::string&, const std::string&>(
                         [this, session](const std::string& phrase, const std::string& heard) {
                             if (session_ == session && onDetected) {
                                 onDetected(QString::fromStdString(phrase), QString::fromStdString(heard));
                             }
                         }),
                     owner_.bind<const Error&>([this, session](const Error& error) {
                         if (session_ == session) {
                             handleError(error);
                         }
                     }),
                     forSession([this] { handleListening(); }), forSession([this] {
                         if (onNearSpeech) {
                             onNearSpeech();
                         }
                     }));
}

void ListeningSession::stop() {
    if (!fallbackMicrophone_.isEmpty()) {
        assignFallbackMicrophone(QString());
    }
    isAwaitingSource_ = false;
    awaitingModel_.reset();
    retireListener();
    ++session_;
}

void ListeningSession::end() {
    stop();
    if (whisperModel_) {
        whisperModel_->release();
    }
}

bool ListeningSession::needsTheLoadingModel() const {
    // Phrases in Korean alone, which only the model hears: a listener made now would hear nothing
    // and fail, though the model is a moment away. Latin phrases are heard at once and again with
    // the model once it is read, the first time; read again, it is only a moment away.
    if (!whisperModel_ || whisperModel_->state() != WhisperModelState::loading) {
        return false;
    }
    if (whisperModel_->wasRead()) {
        return true;
    }
    const auto languages = listeningLanguagesOf(phrases_);
    return !languages.empty() && std::find(languages.begin(), languages.end(), AppLocale::english) == languages.end();
}

void ListeningSession::retireListener() {
    if (!listener_) {
        return;
    }
    qCInfo(logModel) << "listening session" << session_ << "stopped";
    listener_->stop();
    // Its threads end on the retiring thread: the main thread does not wait for a recogniser that
    // is still setting up or transcribing.
    retiringQueue_.async(
        [listener = std::shared_ptr<WakePhraseListener>(std::move(listener_))]() mutable { listener.reset(); });
}

void ListeningSession::setSensitivity(DetectionSensitivity sensitivity) {
    const bool changed = sensitivity != sensitivity_;
    sensitivity_ = sensitivity;
    emit sensitivityChanged();
    if (changed) {
        restartListener();
    }
}

void ListeningSession::restartListener() {
    if (listener_) {
        // The session under way ends; whoever listens sees no pause.
        start(std::vector<std::string>(phrases_));
    }
}

void ListeningSession::handleError(const Error& error) {
    const bool isAudioGone =
        error.is(AppError::Kind::soundServerUnreachable) || error.is(AppError::Kind::microphoneStopped);
    const bool isServerAway = error.is(AppError::Kind::soundServerUnreachable);
    if (resume_ && isAudioGone) {
        // A try that found the sound still gone: quietly, the next try waits longer.
        stop();
        scheduleResume(std::min<Clock::duration>(resume_->delay * 2, longestResumeDelay), isServerAway);
        return;
    }
    cancelResume();
    stop();
    if (onFailed) {
        onFailed(error);
    }
    if (isAudioGone) {
        scheduleResume(firstResumeDelay, isServerAway);
    }
}

void ListeningSession::handleListening() {
    if (!resume_) {
        return;
    }
    cancelResume();
    if (onResumed) {
        onResumed();
    }
}

void ListeningSession::scheduleResume(Clock::duration delay, bool isServerAway) {
    Resume resume{};
    resume.delay = delay;
    resume.since = clock_->now();
    resume.at = resume.since + delay;
    resume.isServerAway = isServerAway;
    resume_ = resume;
    updateTicker();
}

void ListeningSession::cancelResume() {
    resume_.reset();
    updateTicker();
}

void ListeningSession::stopForNewPhrases() {
    stop();
    if (resume_ && !resume_->at) {
        resume_->at = clock_->now(); // the try under way is gone; the next one uses the new phrases
    }
}

void ListeningSession::resumeWhenDue() {
    if (resume_ && resume_->at && clock_->now() >= *resume_->at) {
        resume_->at.reset();
        if (onResumeDue) {
            onResumeDue();
        }
        return;
    }
    watchServer();
}

void ListeningSession::watchServer() {
    if (!resume_ || !resume_->at || !resume_->isServerAway || isWatchingServer_ ||
        (resume_->lastWatch && clock_->now() - *resume_->lastWatch < serverWatchInterval)) {
        return;
    }
    resume_->lastWatch = clock_->now();
    isWatchingServer_ = true;
    microphones_.checkServer(owner_.guard<bool>([this](bool answers) {
        isWatchingServer_ = false;
        if (answers && resume_ && resume_->at && clock_->now() - resume_->since >= closestTries) {
            qCInfo(logModel) << "the sound server answers again: listening is tried now";
            resume_->at = clock_->now();
            resumeWhenDue();
        }
    }));
}

void ListeningSession::updateTicker() {
    if (resume_.has_value() == isTicking_) {
        return;
    }
    isTicking_ = resume_.has_value();
    if (isTicking_) {
        ticker_->start(tickInterval, [this] { resumeWhenDue(); });
    } else {
        ticker_->stop();
    }
}

void ListeningSession::assignFallbackMicrophone(const QString& name) {
    fallbackMicrophone_ = name;
    emit fallbackMicrophoneChanged();
}

void ListeningSession::setPhraseLanguages(std::vector<AppLocale> languages) {
    phraseLanguages_ = std::move(languages);
    if (whisperModel_) {
        updateRecognizerNotice();
    }
}

bool ListeningSession::isKoreanHeard() const {
    if (!whisperModel_) {
        return true;
    }
    switch (whisperModel_->state()) {
    case WhisperModelState::loading:
        return true;
    case WhisperModelState::ready:
    case WhisperModelState::unloaded:
        return canListenIn(AppLocale::korean, whisperModel_->isMultilingual());
    case WhisperModelState::notInstalled:
    case WhisperModelState::failed:
        break;
    }
    return false;
}

void ListeningSession::updateRecognizerNotice() {
    // Only Whisper hears Korean (PocketSphinx has no Korean model): with a Korean phrase the notice
    // says that Korean cannot be heard instead of naming the basic recogniser, which hears the
    // Latin phrases alone.
    const bool korean = phraseLanguages_.empty() ? currentAppLocale() == AppLocale::korean
                                                 : std::find(phraseLanguages_.begin(), phraseLanguages_.end(),
                                                             AppLocale::korean) != phraseLanguages_.end();
    QString notice;
    switch (whisperModel_->state()) {
    case WhisperModelState::notInstalled:
        notice = korean ? tr("Accurate recognition model not installed: Korean cannot be heard.")
                        : tr("Accurate recognition model not installed: listening with the basic recogniser.");
        break;
    case WhisperModelState::failed:
        notice = korean ? tr("Accurate recognition model could not be loaded: Korean cannot be heard.")
                        : tr("Accurate recognition model could not be loaded: listening with the basic recogniser.");
        break;
    case WhisperModelState::ready:
    case WhisperModelState::unloaded:
        if (korean && !isKoreanHeard()) {
            notice = tr("The installed recognition model hears English only: Korean cannot be heard.");
        }
        break;
    case WhisperModelState::loading:
        break;
    }
    recognizerNotice_ = notice;
    emit recognizerNoticeChanged();
}

} // namespace harkwell
