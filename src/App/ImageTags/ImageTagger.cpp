#include "App/ImageTags/ImageTagger.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <iterator>

#include <QCoreApplication>

#include "App/Paths/SystemPaths.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/AllocatorArenas.h"

namespace pallix {

namespace {

std::optional<ImageFileStamp> fileSystemStamp(const std::string& path);

ImageTagger::Options resolved(ImageTagger::Options options)
{
    if (!options.extractor)
        options.extractor = ImageTagExtraction::system();
    if (!options.clock)
        options.clock = Clock::system();
    if (!options.fileStamp)
        options.fileStamp = fileSystemStamp;
    return options;
}

std::optional<ImageFileStamp> fileSystemStamp(const std::string& path)
{
    const std::optional<IndexedItem> item = IndexedItem::from(path);
    if (!item || item->isDirectory())
        return std::nullopt;
    return ImageFileStamp{item->size(), item->modifiedAt()};
}

} // namespace

// One image's calls to the file system, made on a looker's thread.
struct ImageTagger::FileLook {
    std::string path;
    std::optional<ImageFileStamp> stamp;
    // The path the helper reads the file by; empty when it cannot be opened.
    std::unique_ptr<systempaths::PathForQt> readable;
    CancelToken answered;  // cancelled once the fields above are set
};

// A session's looker thread and the looks it has given up waiting for.
struct ImageTagger::FileLooks {
    // Looks at the files of a page in order, ahead of the session. A hung
    // disk holds its thread, not the session: the session drops the looker
    // and hands what is left to a new one; the thread ends once the call it
    // is in returns.
    class Looker {
    public:
        explicit Looker(FileStamper stamp) : m_lane(std::make_shared<Lane>())
        {
            std::thread([lane = m_lane, stamp = std::move(stamp)] { lane->run(stamp); }).detach();
        }
        ~Looker()
        {
            std::lock_guard lock(m_lane->mutex);
            m_lane->quitting = true;
            m_lane->queue.clear();
            m_lane->wake.notify_one();
        }
        void post(std::vector<std::shared_ptr<FileLook>> looks)
        {
            std::lock_guard lock(m_lane->mutex);
            m_lane->queue.insert(m_lane->queue.end(), looks.begin(), looks.end());
            m_lane->wake.notify_one();
        }

    private:
        struct Lane {
            std::mutex mutex;
            std::condition_variable wake;
            std::deque<std::shared_ptr<FileLook>> queue;  // under mutex
            bool quitting = false;                       // under mutex

            void run(const FileStamper& stamp)
            {
                for (;;) {
                    std::shared_ptr<FileLook> look;
                    {
                        std::unique_lock lock(mutex);
                        wake.wait(lock, [&] { return !queue.empty() || quitting; });
                        if (quitting)
                            return;
                        look = std::move(queue.front());
                        queue.pop_front();
                    }
                    look->stamp = stamp(look->path);
                    look->readable = std::make_unique<systempaths::PathForQt>(QString::fromStdString(look->path));
                    look->answered.cancel();
                }
            }
        };
        std::shared_ptr<Lane> m_lane;
    };

    std::unique_ptr<Looker> looker;
    std::map<std::string, std::shared_ptr<FileLook>> unanswered;
};

ImageTagger::ImageTagger() : ImageTagger(Options{}) {}

ImageTagger::ImageTagger(Options options)
    : m_options(resolved(std::move(options))),
      m_extraction(std::make_unique<BackgroundWorker>(m_options.backgroundPriority))
{
}

ImageTagger::~ImageTagger()
{
    shutdown();
}

ImageTagger& ImageTagger::shared()
{
    static ImageTagger tagger;
    static const bool registered = [] {
        qAddPostRoutine([] { ImageTagger::shared().shutdown(); });
        return true;
    }();
    Q_UNUSED(registered);
    return tagger;
}

void ImageTagger::shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
    }
    stopAll();
    m_extraction.reset();  // no session runs: nobody posts any more
}

void ImageTagger::startIfNeeded(std::shared_ptr<IndexStore> index, std::shared_ptr<ImageTagStore> tags,
                                const std::string& sessionID)
{
    if (!index)
        return;
    startIfNeeded([index](int limit, const std::string& after) { return index->imagePathsFromDatabase(limit, after); },
                  std::move(tags), sessionID);
}

void ImageTagger::startIfNeeded(PageSource pages, std::shared_ptr<ImageTagStore> tags, const std::string& sessionID)
{
    if (!pages || !tags)
        return;
    std::lock_guard lock(m_mutex);
    if (m_shutDown || m_sessions.contains(sessionID))
        return;
    Session& session = m_sessions[sessionID];
    session.token = std::make_shared<CancelToken>();
    session.thread = std::thread([this, pages = std::move(pages), tags = std::move(tags), token = session.token] {
        run(pages, *tags, *token);
    });
}

bool ImageTagger::hasSession(const std::string& sessionID) const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.contains(sessionID);
}

void ImageTagger::stopAll()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [id, session] : m_sessions) {
            session.token->cancel();
            if (session.thread.joinable())
                threads.push_back(std::move(session.thread));
        }
    }
    for (std::thread& thread : threads)
        thread.join();
}

void ImageTagger::run(const PageSource& pages, ImageTagStore& tags, const CancelToken& token)
{
    std::string after;
    FileLooks looks;
    std::int64_t extractedBefore = m_extracted.load();
    while (!token.isCancelled()) {
        const std::vector<std::string> page = pages(kPageSize, after);
        if (page.empty()) {
            // The pass is over (or there are no images): the next one starts
            // from the first image after a pause, so a fully tagged index is
            // not re-read in a tight loop.
            if (m_extracted.load() != extractedBefore)
                releaseWorkingMemory();
            extractedBefore = m_extracted.load();
            ++m_passes;
            if (!m_options.clock->sleepFor(kPassPause, &token))
                return;
            after.clear();
            continue;
        }
        if (!tagPage(page, tags, token, looks))
            return;
        // Paged by the last path: images added or removed meanwhile move no
        // other image to a page already read.
        after = page.back();
    }
}

bool ImageTagger::tagPage(const std::vector<std::string>& page, ImageTagStore& tags, const CancelToken& token,
                          FileLooks& looks)
{
    std::vector<std::shared_ptr<FileLook>> asked = askAhead(page, looks);
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (token.isCancelled())
            return false;
        if (!asked[i])
            continue;  // an image the system installed, or its disk still holds the last look
        const std::string& path = page[i];
        if (!waitForLook(*asked[i], token)) {
            if (token.isCancelled())
                return false;
            // Given up for this pass; the rest of the page goes to a new looker.
            looks.unanswered.emplace(path, asked[i]);
            looks.looker = std::make_unique<FileLooks::Looker>(m_options.fileStamp);
            std::vector<std::shared_ptr<FileLook>> rest;
            std::copy_if(asked.begin() + static_cast<std::ptrdiff_t>(i) + 1, asked.end(), std::back_inserter(rest),
                         [](const auto& look) { return look != nullptr; });
            looks.looker->post(std::move(rest));
            continue;
        }
        // An image whose tags hold recognised text is done; one without any
        // is looked at again when its file has changed since.
        const FileLook& file = *asked[i];
        if (tags.hasTags(path) && !tags.needsReindex(path, tagFormat(), file.stamp))
            continue;
        tagImage(path, tags, file);
    }
    return !token.isCancelled();
}

std::vector<std::shared_ptr<ImageTagger::FileLook>> ImageTagger::askAhead(const std::vector<std::string>& page,
                                                                        FileLooks& looks) const
{
    std::vector<std::shared_ptr<FileLook>> asked(page.size());
    for (std::size_t i = 0; i < page.size(); ++i) {
        const std::string& path = page[i];
        if (imagetags::isSystemImagePath(path))
            continue;  // icons and images the system installed
        // A file whose last look has not come back is left alone: one thread
        // per hung file at most.
        if (const auto given = looks.unanswered.find(path); given != looks.unanswered.end()) {
            if (!given->second->answered.isCancelled())
                continue;
            looks.unanswered.erase(given);
        }
        asked[i] = std::make_shared<FileLook>();
        asked[i]->path = path;
    }
    if (!looks.looker)
        looks.looker = std::make_unique<FileLooks::Looker>(m_options.fileStamp);
    std::vector<std::shared_ptr<FileLook>> toLook;
    std::copy_if(asked.begin(), asked.end(), std::back_inserter(toLook), [](const auto& look) { return look != nullptr; });
    looks.looker->post(std::move(toLook));
    return asked;
}

bool ImageTagger::waitForLook(FileLook& look, const CancelToken& token) const
{
    if (look.answered.isCancelled())
        return true;  // the looker was ahead: no wait
    // Stopping the session ends the wait too.
    token.addWaker(&look, [&look] { look.answered.cancel(); });
    if (!token.isCancelled())
        m_options.clock->sleepFor(kFileLookLimit, &look.answered);
    token.removeWaker(&look);
    return !token.isCancelled() && look.answered.isCancelled();
}

void ImageTagger::releaseWorkingMemory()
{
    // The engines are the worker's: they go on its thread, and with them the
    // freed pages of the pass.
    m_extraction->post([extractor = m_options.extractor] {
        extractor->releaseWorkingMemory();
        returnFreedMemory();
    });
}

int ImageTagger::tagFormat() const
{
    return m_options.extractor->recognisesObjects() ? ImageTagStore::kTagFormat : ImageTagStore::kTagFormat - 1;
}

void ImageTagger::tagImage(const std::string& path, ImageTagStore& tags, const FileLook& look)
{
    // Read by the path the look opened (a name that is not UTF-8 by its
    // link), so the extraction makes no call of its own on the disk here.
    const std::string readable = look.readable->path().toStdString();
    const std::optional<ImageFileStamp>& file = look.stamp;
    // The session waits for its image, so the job may use the locals.
    std::promise<std::vector<std::string>> extracted;
    std::future<std::vector<std::string>> result = extracted.get_future();
    m_extraction->post([&] {
        try {
            extracted.set_value(readable.empty() ? std::vector<std::string>{}
                                                 : m_options.extractor->extractImageTags(readable));
        } catch (...) {
            extracted.set_value({});  // out of memory while decoding: as an unreadable image
        }
    });
    const std::vector<std::string> found = result.get();
    ++m_extracted;
    const double now = m_options.clock->wallSecondsSince1970();
    // Store errors are dropped: the image counts as done for this pass. A
    // row is written for what was found, for an image looked at that gave
    // nothing, and for the state of the file the tags now stand for.
    if (!found.empty() || file || !tags.hasTags(path))
        tags.mergeTags(path, found, now, tagFormat(), file);
}

} // namespace pallix
