#include "App/Browser/FolderBrowserModel.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include <QCollator>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "App/Paths/ShownNames.h"
#include "App/Paths/SystemPaths.h"
#include "Platform/FileNames.h"
#include "App/Actions/SystemDesktop.h"

namespace pallix {

namespace {

// Runs `job` on `pool` and hands its result to `apply` on the GUI thread,
// unless `owner` is gone by then: the watcher dies with it.
template <typename Job, typename Apply>
void runThenApply(QObject* owner, QThreadPool* pool, Job job, Apply apply)
{
    using Result = decltype(job());
    auto* watcher = new QFutureWatcher<Result>(owner);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, owner, [watcher, apply] {
        watcher->deleteLater();
        apply(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(pool, std::move(job)));
}

QString qs(std::string_view s)
{
    return QString::fromUtf8(s);
}

bool isImage(const IndexedItem& item)
{
    return !item.isDirectory() && kinds::isImageExtension(item.fileExtension());
}

QUrl fileUrl(const IndexedItem& item)
{
    return systempaths::url(item.path());
}

} // namespace

FolderBrowserModel::FolderBrowserModel(const QString& initialPath, Environment environment, QObject* parent)
    : QObject(parent),
      m_currentPath(standardized(initialPath)),
      m_lister(environment.lister ? std::move(environment.lister) : Lister(listFolder)),
      m_mover(std::make_shared<const SafeMove>(std::move(environment.rename))),
      m_pool(environment.pool ? environment.pool : QThreadPool::globalInstance()),
      m_desktop(environment.desktop ? std::move(environment.desktop) : std::make_shared<SystemDesktop>())
{
    navigate(m_currentPath, true);
}

FolderBrowserModel::~FolderBrowserModel() = default;

QString FolderBrowserModel::standardized(const QString& path)
{
    return qs(paths::standardize(path.toStdString()));
}

QString FolderBrowserModel::titleOf(const QString& path)
{
    const QString name = shownnames::shown(paths::lastComponent(path.toStdString()));
    return name.isEmpty() ? shownnames::shown(path) : name;
}

QString FolderBrowserModel::title() const
{
    return titleOf(m_currentPath);
}

void FolderBrowserModel::setSelectedItemID(const QString& path)
{
    if (path == m_selectedItemID)
        return;
    m_selectedItemID = path;
    emit selectionChanged();
}

void FolderBrowserModel::navigate(const QString& path, bool recordHistory)
{
    const QString p = standardized(path);
    const bool moved = p != m_currentPath;
    m_currentPath = p;
    emit currentPathChanged(p);
    if (recordHistory) {
        if (m_historyIndex < m_history.size() - 1)
            m_history.erase(m_history.begin() + m_historyIndex + 1, m_history.end());
        if (m_history.isEmpty() || m_history.last() != p)
            m_history.append(p);
        m_historyIndex = m_history.size() - 1;
    }
    emit historyChanged();
    if (moved)
        setMoveProblem({});
    startListing();
}

void FolderBrowserModel::goBack()
{
    if (!canGoBack())
        return;
    --m_historyIndex;
    navigate(m_history.at(m_historyIndex), false);
}

void FolderBrowserModel::goForward()
{
    if (!canGoForward())
        return;
    ++m_historyIndex;
    navigate(m_history.at(m_historyIndex), false);
}

QList<FolderBreadcrumb> FolderBrowserModel::breadcrumbs() const
{
    const QString p = standardized(m_currentPath);
    QList<FolderBreadcrumb> crumbs{{QStringLiteral("/"), QStringLiteral("/")}};
    QString accumulated;
    for (const QString& piece : p.split(u'/', Qt::SkipEmptyParts)) {
        accumulated += u'/' + piece;
        crumbs.append({shownnames::shown(piece), accumulated});
    }
    return crumbs;
}

void FolderBrowserModel::open(const IndexedItem& item)
{
    if (item.isDirectory())
        navigate(qs(item.path()), true);
    else
        m_desktop->openUrl(fileUrl(item));
}

void FolderBrowserModel::reveal(const IndexedItem& item)
{
    m_desktop->revealInFileManager(fileUrl(item));
}

void FolderBrowserModel::quickLook(const IndexedItem& item)
{
    if (!isImage(item)) {
        m_previewController.preview({fileUrl(item)}, 0);
        return;
    }
    QList<QUrl> urls;
    int index = -1;
    for (const IndexedItem& candidate : m_items) {
        if (!isImage(candidate))
            continue;
        if (index < 0 && candidate.path() == item.path())
            index = static_cast<int>(urls.size());
        urls.append(fileUrl(candidate));
    }
    m_previewController.preview(urls, std::max(index, 0));
}

void FolderBrowserModel::quickLookSelected()
{
    if (m_selectedItemID.isEmpty())
        return;
    const std::string selected = m_selectedItemID.toStdString();
    const auto it = std::find_if(m_items.cbegin(), m_items.cend(),
                                 [&](const IndexedItem& item) { return item.path() == selected; });
    if (it != m_items.cend())
        quickLook(*it);
}

void FolderBrowserModel::moveFileUrls(const QList<QUrl>& urls, const QString& directoryPath)
{
    // A file named twice in one drop would be moved and then reported as
    // missing: each distinct path is moved once.
    QStringList sources;
    std::set<QString> seen;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = standardized(systempaths::fromUrl(url));
        if (seen.insert(path).second)
            sources.append(path);
    }
    if (sources.isEmpty())
        return;
    ++m_movesInFlight;
    const std::string directory = directoryPath.toStdString();
    auto job = [mover = m_mover, sources, directory] {
        QList<MoveReport> reports;
        for (const QString& source : sources)
            reports.append({titleOf(source), mover->moveInto(source.toStdString(), directory)});
        return reports;
    };
    runThenApply(this, m_pool, std::move(job), [this](const QList<MoveReport>& reports) { applyMoves(reports); });
}

void FolderBrowserModel::applyMoves(const QList<MoveReport>& reports)
{
    --m_movesInFlight;
    // "项", not "个文件": what stayed may be folders.
    QStringList stayed;
    for (const MoveReport& report : reports) {
        if (!report.outcome.moved)
            stayed.append(QStringLiteral("%1（%2）").arg(report.name, qs(report.outcome.error)));
    }
    setMoveProblem(stayed.isEmpty() ? QString()
                                    : QStringLiteral("%1 项留在原处：%2").arg(stayed.size()).arg(stayed.join(u"；")));
    // The folder shown is listed again and the history stays as it is: the
    // destination is one of its children, whose card is still where it was.
    startListing();
    emit movesFinished();
}

void FolderBrowserModel::setMoveProblem(const QString& text)
{
    if (text == m_moveProblem)
        return;
    m_moveProblem = text;
    emit moveProblemChanged();
}

void FolderBrowserModel::startListing()
{
    const qint64 generation = ++m_loadGeneration;
    ++m_listingsInFlight;
    runThenApply(this, m_pool, [lister = m_lister, path = m_currentPath] { return lister(path); },
                 [this, generation](QList<IndexedItem> items) { applyListing(std::move(items), generation); });
}

void FolderBrowserModel::applyListing(QList<IndexedItem> items, qint64 generation)
{
    --m_listingsInFlight;
    if (generation != m_loadGeneration)
        return;  // a newer navigation owns the window
    m_items = std::move(items);
    emit itemsChanged();
    const std::string selected = m_selectedItemID.toStdString();
    const bool stillListed = !selected.empty() && std::any_of(m_items.cbegin(), m_items.cend(), [&](const IndexedItem& item) {
        return item.path() == selected;
    });
    if (!stillListed)
        setSelectedItemID(m_items.isEmpty() ? QString() : qs(m_items.first().path()));
    emit listingFinished();
}

QList<IndexedItem> FolderBrowserModel::listFolder(const QString& path)
{
    QList<IndexedItem> items;
    std::error_code ec;
    // Listed by the folder's bytes; each entry is kept by its stored path.
    for (auto it = std::filesystem::directory_iterator(systempaths::bytes(path).toStdString(), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with('.'))
            continue;
        if (auto item = IndexedItem::from(filenames::fromFileSystem(it->path().string())))
            items.append(std::move(*item));
    }
    sortForDisplay(items);
    return items;
}

void FolderBrowserModel::sortForDisplay(QList<IndexedItem>& items)
{
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(items.begin(), items.end(), [&](const IndexedItem& a, const IndexedItem& b) {
        if (a.isDirectory() != b.isDirectory())
            return a.isDirectory();
        return collator.compare(qs(a.name()), qs(b.name())) < 0;
    });
}

} // namespace pallix
