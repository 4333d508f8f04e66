#pragma once
// PreviewRenderer: runs the renders the thumbnail provider starts. The
// provider decides what runs and when (at most six at once, urgent first);
// a renderer only does the work off the GUI thread and answers each request
// once on the GUI thread. Tests give the provider a renderer whose answers
// they release by hand. Created and called on the GUI thread.

#include <functional>
#include <memory>
#include <optional>

#include <QImage>

#include "App/Preview/BoundedPool.h"
#include "App/Preview/PreviewRendering.h"
#include "Platform/Clock.h"

namespace pallix {

class PreviewRenderer {
public:
    // The finished picture, or none for the fallback icon (or the type icon
    // of a special file).
    using Done = std::function<void(RenderOutcome)>;

    virtual ~PreviewRenderer() = default;
    // Renders `request` and calls `done` once, later, on the GUI thread.
    virtual void start(const PreviewRequest& request, Done done) = 0;
};

// PreviewRendering::render on a pool of its own, urgent requests at a higher
// pool priority. A render that takes longer than its budget on the clock (a
// decoder stuck on a hung disk or a hostile file) is answered as overdue and
// no longer holds a place (BoundedPool), so the renders behind it go on. Its
// destructor waits for the renders that run.
class PooledPreviewRenderer final : public PreviewRenderer {
public:
    using Render = std::function<RenderOutcome(const PreviewRequest&)>;
    static constexpr Clock::Duration kRenderBudget = std::chrono::milliseconds(RasterDecoding::kDecodeBudgetMs);

    explicit PooledPreviewRenderer(int maxThreads, std::shared_ptr<Clock> clock = Clock::system(),
                                   Clock::Duration budget = kRenderBudget, Render render = PreviewRendering::render);

    void start(const PreviewRequest& request, Done done) override;

    // Renders answered as overdue that still run (GUI thread).
    int overdueRenders() const { return m_pool.overdue(); }

private:
    const Render m_render;
    BoundedPool m_pool;
};

} // namespace pallix
