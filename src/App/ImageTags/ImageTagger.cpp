#include "App/ImageTags/ImageTagger.h"

#include <future>

#include <QCoreApplication>

#include "Core/IndexDB/IndexStore.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/AllocatorArenas.h"

namespace pallix {

namespace {

ImageTagger::Options resolved(ImageTagger::Options options)
{
    if (!options.extractor)
        options.extractor = ImageTagExtraction::system();
    if (!options.clock)
        options.clock = Clock::system();
    return options;
}

// The file as the tagger is about to read it; nothing when it cannot be read.
std::optional<ImageFileStamp> fileStamp(const std::string& path)
{
    const std::optional<IndexedItem> item = IndexedItem::from(path);
    if (!item || item->isDirectory())
        return std::nullopt;
    return ImageFileStamp{item->size(), item->modifiedAt()};
}

} // namespace

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
        if (!tagPage(page, tags, token))
            return;
        // Paged by the last path: images added or removed meanwhile move no
        // other image to a page already read.
        after = page.back();
    }
}

bool ImageTagger::tagPage(const std::vector<std::string>& page, ImageTagStore& tags, const CancelToken& token)
{
    for (const std::string& path : page) {
        if (token.isCancelled())
            return false;
        if (imagetags::isSystemImagePath(path))
            continue;  // icons and images the system installed
        // An image whose tags hold recognised text is done; one without any
        // is looked at again when its file has changed since.
        const std::optional<ImageFileStamp> file = fileStamp(path);
        if (tags.hasTags(path) && !tags.needsReindex(path, tagFormat(), file))
            continue;
        tagImage(path, tags, file);
    }
    return !token.isCancelled();
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

void ImageTagger::tagImage(const std::string& path, ImageTagStore& tags, const std::optional<ImageFileStamp>& file)
{
    // The session waits for its image, so the job may use the locals.
    std::promise<std::vector<std::string>> extracted;
    std::future<std::vector<std::string>> result = extracted.get_future();
    m_extraction->post([&] {
        try {
            extracted.set_value(m_options.extractor->extractImageTags(path));
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
