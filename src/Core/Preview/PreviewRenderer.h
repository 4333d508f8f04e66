#pragma once
// PreviewRenderer: runs the renders the thumbnail provider starts. The
// provider decides what runs and when (at most six at once, urgent first);
// a renderer only does the work off the GUI thread and answers each request
// once on the GUI thread. Tests give the provider a renderer whose answers
// they release by hand. Created and called on the GUI thread.

#include <functional>
#include <optional>

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include "Core/Preview/PreviewRendering.h"

namespace pallix {

class PreviewRenderer {
public:
    // The finished picture, or none for the fallback icon.
    using Done = std::function<void(std::optional<QImage>)>;

    virtual ~PreviewRenderer() = default;
    // Renders `request` and calls `done` once, later, on the GUI thread.
    virtual void start(const PreviewRequest& request, Done done) = 0;
};

// PreviewRendering::render on a pool of its own, urgent requests at a higher
// pool priority. Its destructor waits for the renders that run.
class PooledPreviewRenderer final : public PreviewRenderer {
public:
    explicit PooledPreviewRenderer(int maxThreads);
    ~PooledPreviewRenderer() override;

    void start(const PreviewRequest& request, Done done) override;

private:
    QThreadPool m_pool;
    QObject m_receiver;  // on the GUI thread: where the answers are delivered
};

} // namespace pallix
