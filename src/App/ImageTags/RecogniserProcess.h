#pragma once
// RecogniserProcess: the tagger's text recogniser and object classifier,
// run in the pallix-recogniser helper process (RecogniserMain.cpp). The
// helper starts with the first request, so nothing runs until a pass reads an
// image, and answers request after request; ending it (after a pass) gives
// all of the engines' memory back to the system. A request the helper does
// not answer within the time limit, or answers with garbage, or during which
// it dies, kills it and answers nothing: the image keeps what the other
// recognisers gave, and the next request starts a new helper.
//
// Threads: any thread; requests are served one at a time. Blocking, so never
// the GUI thread (the tagger's worker calls it). The helper runs at the
// scheduling priority of the thread whose request started it; a request from
// a thread at another priority starts a new helper.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include <sys/types.h>

#include <QString>

#include "App/ImageTags/ImageTagExtraction.h"
#include "App/ImageTags/Recogniser/RecogniserProtocol.h"

namespace pallix {

class RecogniserProcess {
public:
    // One 512 px picture takes 0.3-2 s, the first of a helper a few more to
    // load the models; past this the helper is taken to be stuck.
    static constexpr std::chrono::milliseconds kRequestLimit{60000};

    explicit RecogniserProcess(std::chrono::milliseconds requestLimit = kRequestLimit);
    ~RecogniserProcess();
    RecogniserProcess(const RecogniserProcess&) = delete;
    RecogniserProcess& operator=(const RecogniserProcess&) = delete;

    // The recognisers the tagger calls, answered by `process`. Their
    // releaseWorkingMemory() ends the helper.
    static std::shared_ptr<TextRecognizer> textRecognizer(std::shared_ptr<RecogniserProcess> process);
    static std::shared_ptr<ImageClassifier> classifier(std::shared_ptr<RecogniserProcess> process);

    // The helper's answer for `image` (at most 512 px a side); nothing when
    // the picture is out of bounds or the helper failed.
    std::optional<recogniser::Answer> recognise(recogniser::Kind kind, const QImage& image);
    // Ends the helper, if one runs, and waits until it is gone.
    void end();
    // The running helper's process id; 0 when none runs.
    pid_t processId() const;
    // Whether the helper can name objects: its model was found from its
    // folder (looked up here, as the helper would, without starting it) and
    // no helper has said since that the model cannot be used.
    bool recognisesObjects() const { return m_modelFound && m_objectsRecognisable; }

    // Where the helper lives: $PALLIX_RECOGNISER, else beside the running
    // executable, else in <prefix>/libexec/pallix of an installed one, else
    // where the build put it. Read again for each helper started.
    static QString helperPath();

    // A thread's scheduling policy and nice value.
    struct Priority {
        int policy = 0;
        int nice = 0;
        bool operator==(const Priority&) const = default;
    };

private:
    bool startLocked();
    std::optional<recogniser::Answer> exchangeLocked(const std::string& request);
    void endLocked(bool kill);

    const std::chrono::milliseconds m_requestLimit;
    const bool m_modelFound;
    std::atomic<bool> m_objectsRecognisable{true};
    mutable std::mutex m_mutex;
    pid_t m_pid = 0;   // under m_mutex
    int m_socket = -1; // under m_mutex; the helper's stdin and stdout
    Priority m_priority; // under m_mutex; the running helper's, inherited from its starter
};

} // namespace pallix
