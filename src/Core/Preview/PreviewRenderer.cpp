#include "Core/Preview/PreviewRenderer.h"

namespace pallix {

PooledPreviewRenderer::PooledPreviewRenderer(int maxThreads)
{
    m_pool.setMaxThreadCount(maxThreads);
}

PooledPreviewRenderer::~PooledPreviewRenderer()
{
    m_pool.waitForDone();
}

void PooledPreviewRenderer::start(const PreviewRequest& request, Done done)
{
    QObject* receiver = &m_receiver;
    m_pool.start(
        [request, receiver, done = std::move(done)]() mutable {
            std::optional<QImage> picture = PreviewRendering::render(request);
            QMetaObject::invokeMethod(
                receiver, [done = std::move(done), picture = std::move(picture)] { done(picture); },
                Qt::QueuedConnection);
        },
        request.urgent ? 1 : 0);
}

} // namespace pallix
