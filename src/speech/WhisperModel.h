#pragma once

#include "core/OwnerContext.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

namespace harkwell {

class SerialQueue;
class WhisperTranscriber;

// Where the accurate recogniser's model stands.
enum class WhisperModelState {
    notInstalled, // no model file where it is looked for
    loading,      // being read on a thread of its own
    ready,        // loaded: listening uses it
    failed,       // unreadable, of a format the runtime does not know, or a processor it cannot run on
    unloaded,     // read fine before, and let go while nothing listens: the next load reads it again
};

// The model file Harkwell listens with: HARKWELL_WHISPER_MODEL when set, else the one installed
// beside the application (<root>/share/harkwell/ggml-whisper-base.bin, <root> being the folder
// above the executable's: the build tree and /usr alike).
std::string defaultWhisperModelPath();

// The accurate recogniser's model, shared by every listening session: a change of sensitivity or
// microphone does not read it again. It is held only while listening needs it: several hundred
// megabytes that a tray utility should not keep all day while it does not listen, and it reads
// again in a fraction of a second. Loading runs on a thread of its own; the state changes on the
// main thread (a Qt application must exist). Listening goes on with the basic recogniser alone
// until the model is first ready, and for good when it is missing or failed.
class WhisperModel : public QObject {
    Q_OBJECT

public:
    // Reads the file at path and returns the loaded model, or throws std::exception saying why it cannot.
    using Loader = std::function<std::shared_ptr<WhisperTranscriber>(const std::string& path)>;

    // An empty path means no model is installed.
    explicit WhisperModel(std::string path, Loader loader = nullptr, QObject* parent = nullptr);
    ~WhisperModel() override;

    // Asks for the model: starts reading it unless it is read or being read (the state is loading
    // until it ends); nothing for a model that is missing or failed.
    void load();
    // Lets the model go once nothing asks for it: now when it is ready (the state becomes unloaded),
    // as soon as it is read when it is loading. The listeners made with it keep theirs until they end.
    void release();
    // Whether the model was read at least once: a load now reads it again.
    bool wasRead() const { return wasRead_; }
    // Whether the model hears other languages than English, as it said when it was last read.
    bool isMultilingual() const { return isMultilingual_; }

    const std::string& path() const { return path_; }
    WhisperModelState state() const { return state_; }
    // Why loading failed, for the log and the panel's notice; empty otherwise.
    const std::string& failure() const { return failure_; }
    // The loaded model; null unless the state is ready.
    std::shared_ptr<WhisperTranscriber> transcriber() const { return transcriber_; }

signals:
    void stateChanged();

private:
    void finishLoading(std::shared_ptr<WhisperTranscriber> transcriber, std::string failure);

    const std::string path_;
    Loader loader_;
    WhisperModelState state_;
    bool isReading_ = false;
    bool isWanted_ = true;
    bool wasRead_ = false;
    bool isMultilingual_ = false;
    std::string failure_;
    std::shared_ptr<WhisperTranscriber> transcriber_;
    OwnerContext owner_;
    // Reads the model, made at the first load. Last, so that it goes first: a read still under way
    // when the application quits ends before the rest of the model (and the process) does.
    std::unique_ptr<SerialQueue> reading_;
};

} // namespace harkwell
