#include "App/Indexing/StoreRecovery.h"

#include <QPointer>

#include "App/Context/FaultNotices.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/Sqlite.h"

namespace pallix {

StoreRecovery::StoreRecovery(const AppContext& context, Hooks hooks, QObject* parent)
    : QObject(parent), m_context(context), m_hooks(std::move(hooks))
{
}

QCoro::Task<StoreResult<void>> StoreRecovery::open(std::shared_ptr<IndexStore> store, QString busyText)
{
    QPointer<StoreRecovery> guard(this);
    // Only the model's end stops the tries: a lock may be held for long.
    auto token = std::make_shared<CancelToken>();
    m_context.trackDetachedJob(token);
    for (;;) {
        auto opening = m_context.onPool([store] { return store->bootstrap(); });
        StoreResult<void> opened = co_await opening;
        // Busy is never damage: the store leaves a locked file where it is.
        if (!guard || opened || !sqlite::isTransient(opened.error().sqliteCode))
            co_return opened;
        m_context.setStatusMessage(busyText);
        auto waiting = m_context.clock().sleepFor(kOpenRetryInterval, token);
        const bool waited = co_await waiting;
        if (!guard || !waited)
            co_return opened;
    }
}

void StoreRecovery::afterLocalWrites()
{
    refillIfStartedOver(Kind::Local);
}

void StoreRecovery::afterServerWrites()
{
    // A run still going asks at its own end; asking now would take the
    // notice from it while refreshServerIndexManually() refuses to start.
    if (!m_hooks.serverRunActive())
        refillIfStartedOver(Kind::Server);
}

QString StoreRecovery::localStartedOverText(const std::filesystem::path& copy)
{
    return QStringLiteral("索引数据库已损坏，已另存为 %1，正在重新建立索引").arg(QString::fromStdString(copy.filename()));
}

QString StoreRecovery::serverStartedOverText(const std::filesystem::path& copy, bool rebuilding)
{
    return (rebuilding ? QStringLiteral("共享盘索引数据库已损坏，已另存为 %1，正在重新建立共享盘索引")
                       : QStringLiteral("共享盘索引数据库已损坏，已另存为 %1，将由共享盘扫描重新建立"))
        .arg(QString::fromStdString(copy.filename()));
}

QCoro::Task<> StoreRecovery::refillIfStartedOver(Kind kind)
{
    QPointer<StoreRecovery> guard(this);
    std::shared_ptr<IndexStore> store = kind == Kind::Local ? m_context.stores().local : m_context.stores().server;
    auto asking = m_context.onPool([store] { return store->takeRecoveredFromDamage(); });
    const std::optional<std::filesystem::path> copy = co_await asking;
    if (!guard || !copy)
        co_return;
    if (kind == Kind::Local)
        refillLocal(*copy);
    else
        refillServer(*copy);
}

void StoreRecovery::refillLocal(const std::filesystem::path& copy)
{
    if (++m_localRefills > kMaxRefills) {
        m_context.faultNotices().raise(FaultNotices::Cause::IndexDamage,
                                       QStringLiteral("索引数据库反复损坏，已另存为 %1，请检查磁盘后重建索引")
                                           .arg(QString::fromStdString(copy.filename())));
        return;
    }
    // The walk that fills an index from nothing; the notice after its own
    // first text, which would otherwise cover it at once.
    m_hooks.rebuildLocal();
    m_context.faultNotices().raise(FaultNotices::Cause::IndexDamage, localStartedOverText(copy));
}

void StoreRecovery::refillServer(const std::filesystem::path& copy)
{
    if (!m_context.settings().enableServerIndexing || ++m_serverRefills > kMaxRefills) {
        m_context.faultNotices().raise(FaultNotices::Cause::ServerIndexDamage, serverStartedOverText(copy, false));
        return;
    }
    // No run removes a row, so an update run fills the fresh file as a first scan would.
    m_hooks.refreshServer();
    m_context.faultNotices().raise(FaultNotices::Cause::ServerIndexDamage, serverStartedOverText(copy, true));
}

} // namespace pallix
