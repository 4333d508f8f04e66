#include "App/Preview/PreviewController.h"

#include <algorithm>

#include <QStringList>

namespace pallix {

namespace {
PreviewPanel* g_panel = nullptr;
} // namespace

PreviewPanel* PreviewPanel::shared()
{
    return g_panel;
}

void PreviewPanel::setShared(PreviewPanel* panel)
{
    g_panel = panel;
}

PreviewController::~PreviewController()
{
    if (PreviewPanel* panel = PreviewPanel::shared(); panel && panel->source() == this)
        panel->sourceDestroyed(this);
}

QString PreviewController::signature(const QList<QUrl>& urls)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl& url : urls)
        paths.append(url.path());
    return paths.join(QChar(0x1E));
}

void PreviewController::togglePreview(const QList<QUrl>& urls, int selectedIndex)
{
    PreviewPanel* panel = PreviewPanel::shared();
    if (!panel)
        return;
    const QString sig = signature(urls);
    if (panel->isVisible() && panel->source() == this && sig == m_lastSignature) {
        panel->close();
        return;
    }
    m_lastSignature = sig;
    preview(urls, selectedIndex);
}

void PreviewController::preview(const QList<QUrl>& urls, int selectedIndex)
{
    m_currentItems = urls;
    m_currentIndex = std::clamp(selectedIndex, 0, std::max(count() - 1, 0));
    if (PreviewPanel* panel = PreviewPanel::shared())
        panel->present(this, m_currentIndex);
}

void PreviewController::replaceShown(const QList<QUrl>& urls, int selectedIndex)
{
    const PreviewPanel* panel = PreviewPanel::shared();
    if (panel && panel->isVisible() && panel->source() == this)
        preview(urls, selectedIndex);
}

bool PreviewController::isShowing(const QUrl& url) const
{
    const PreviewPanel* panel = PreviewPanel::shared();
    return panel && panel->isVisible() && panel->source() == this && m_currentItems.contains(url);
}

void PreviewController::closePanel()
{
    if (PreviewPanel* panel = PreviewPanel::shared())
        panel->close();
}

QUrl PreviewController::itemAt(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return m_currentItems.at(index);
}

} // namespace pallix
