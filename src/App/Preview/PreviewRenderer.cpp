#include "App/Preview/PreviewRenderer.h"

namespace pallix {

PooledPreviewRenderer::PooledPreviewRenderer(int maxThreads, std::shared_ptr<Clock> clock, Clock::Duration budget,
                                             Render render)
    : m_render(std::move(render)), m_pool(maxThreads, std::move(clock), budget)
{
}

void PooledPreviewRenderer::start(const PreviewRequest& request, Done done)
{
    m_pool.start<RenderOutcome>([render = m_render, request] { return render(request); },
                                [done = std::move(done)](std::optional<RenderOutcome> outcome) {
                                    if (outcome) {
                                        done(std::move(*outcome));
                                        return;
                                    }
                                    RenderOutcome givenUp;
                                    givenUp.overdue = true;
                                    done(givenUp);
                                },
                                request.urgent ? 1 : 0);
}

} // namespace pallix
