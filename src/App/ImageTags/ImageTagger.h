#pragma once
// ImageTagger: walks the image files of an index without end and gives every
// image that lacks them content tags in an image-tag store. One session per
// run key ("local", "server"), each a thread of its own that reads pages of
// 220 image paths in path order, tags each image that has no row, whose
// tags are of an older format, or hold no recognised text and were read
// from another size or modification time of the file, and after an empty
// page pauses 12 s and starts the next pass from the first image. Images the
// system installed (isSystemImagePath) are left out. A pass that read any
// image ends by dropping the recognisers' engines and buffers (built again
// by the next image read) and handing freed memory back to the system.
//
// Extraction, the costly step, runs on one worker thread lowered to
// background priority (idle CPU class, lowest nice value, idle I/O), so it
// only uses cores nothing else wants. What an image needs of the file system
// in this process (its size and time, an open for a name that is not UTF-8)
// is asked on a thread of the session's own, ahead of it, and waited for at
// most 5 s: a file whose disk does not answer is left out of the pass, and
// looked at again only once that call has come back. The session threads
// keep normal priority: they hold the stores' locks, which searches wait
// for, and a starved thread holding one would slow typing.
//
// Threads: startIfNeeded(), hasSession() and the counters may be called from
// any thread (the model calls them on the GUI thread); they return at once.
// The store calls run on the session threads, extraction on the worker. The
// destructor cancels the sessions and joins them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "App/ImageTags/ImageTagExtraction.h"
#include "Core/Semantic/ImageTagStore.h"
#include "Platform/BackgroundWorker.h"
#include "Platform/Clock.h"

namespace pallix {

class IndexStore;

class ImageTagger {
public:
    static constexpr int kPageSize = 220;
    static constexpr std::chrono::seconds kPassPause{12};
    static constexpr std::chrono::seconds kFileLookLimit{5};

    // The image paths of an index in path order: at most `limit`, the first
    // after `after` (empty: from the first).
    using PageSource = std::function<std::vector<std::string>(int limit, const std::string& after)>;
    // The size and modification time of the file at a path; nothing when it
    // cannot be read. It may block for good (a hung network disk).
    using FileStamper = std::function<std::optional<ImageFileStamp>(const std::string& path)>;

    struct Options {
        std::shared_ptr<ImageTagExtractor> extractor;  // none: ImageTagExtraction::system()
        std::shared_ptr<Clock> clock;                  // none: the system clock
        bool backgroundPriority = true;                // lower the extraction worker
        FileStamper fileStamp = nullptr;               // none: the file system's
    };

    ImageTagger();
    explicit ImageTagger(Options options);
    ImageTagger(const ImageTagger&) = delete;
    ImageTagger& operator=(const ImageTagger&) = delete;
    ~ImageTagger();

    // The process's tagger, with the machine's recognisers. It is shut down
    // when the application object goes, before static destruction: the
    // recognition engine must end while its library's caches still live.
    static ImageTagger& shared();

    // Starts the session `sessionID` over the index's images, unless one was
    // started under that key before (running or ended: never twice).
    void startIfNeeded(std::shared_ptr<IndexStore> index, std::shared_ptr<ImageTagStore> tags,
                       const std::string& sessionID);
    void startIfNeeded(PageSource pages, std::shared_ptr<ImageTagStore> tags, const std::string& sessionID);

    bool hasSession(const std::string& sessionID) const;
    // Ends every session at its next check and waits for them (tests).
    void stopAll();
    // stopAll(), then ends the extraction thread; nothing starts afterwards.
    void shutdown();

    // Images extracted and passes finished so far, all sessions (benchmark, tests).
    std::int64_t extractedImages() const { return m_extracted.load(); }
    std::int64_t finishedPasses() const { return m_passes.load(); }

private:
    struct Session {
        std::shared_ptr<CancelToken> token;
        std::thread thread;
    };

    struct FileLook;
    struct FileLooks;

    void run(const PageSource& pages, ImageTagStore& tags, const CancelToken& token);
    // Tags one page; false when cancelled midway.
    bool tagPage(const std::vector<std::string>& page, ImageTagStore& tags, const CancelToken& token,
                 FileLooks& looks);
    // Hands the page's files to the looker; per path its look, or null for
    // one not to read (installed by the system, or its last look still hangs).
    std::vector<std::shared_ptr<FileLook>> askAhead(const std::vector<std::string>& page, FileLooks& looks) const;
    // Waits for the look at most kFileLookLimit; false when it has not come
    // back or the session is cancelled.
    bool waitForLook(FileLook& look, const CancelToken& token) const;
    void tagImage(const std::string& path, ImageTagStore& tags, const FileLook& look);
    void releaseWorkingMemory();
    // The format the extractor's tags are written in: a row written without
    // objects (no usable detector) is read again once a detector can name them.
    int tagFormat() const;

    const Options m_options;
    mutable std::mutex m_mutex;
    std::map<std::string, Session> m_sessions;  // under m_mutex; entries are never removed
    bool m_shutDown = false;                    // under m_mutex
    std::atomic<std::int64_t> m_extracted{0};
    std::atomic<std::int64_t> m_passes{0};
    // Shared by the sessions: one image at a time. Reset by shutdown() once
    // no session runs.
    std::unique_ptr<BackgroundWorker> m_extraction;
};

} // namespace pallix
