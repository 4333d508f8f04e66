#pragma once
// StoreRecovery: keeps the application's two index stores usable through what
// another program or the disk does to their files while the application runs.
// An open refused because another program holds the file does not end the
// start-up: the status line says the index is busy and the open is tried
// again on the context's clock until it succeeds or fails for another reason.
// A store that met damage after the start-up has started over on a fresh file
// (see IndexStore::takeRecoveredFromDamage()); this notices it once the writes
// that met it are done, says so once (a fault notice) and has the store
// filled again by the runs that fill it the first time, which the model
// hands in as hooks.
//
// Owned by AppModel; GUI thread only. Every store call runs on the context's
// pool; the waits are on the context's clock, so a fake clock drives them.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include <QCoroTask>
#include <QObject>
#include <QString>

#include "App/Context/AppContext.h"
#include "Core/IndexDB/IndexStoreError.h"

namespace pallix {

class IndexStore;

class StoreRecovery : public QObject {
    Q_OBJECT

public:
    // The runs that fill a store that started over; set once by the model.
    struct Hooks {
        std::function<void()> rebuildLocal;      // the full walk of the local roots
        std::function<bool()> serverRunActive;   // a shared-drive index run is going on
        std::function<void()> refreshServer;     // an update run of the shared drives
    };

    // Between two tries of an open refused by another program's lock; each
    // try first waits out the connection's busy timeout.
    static constexpr std::chrono::seconds kOpenRetryInterval{2};
    // Refills a session starts for each store: a disk that damages every
    // fresh file would otherwise have the roots walked without end.
    static constexpr int kMaxRefills = 3;

    StoreRecovery(const AppContext& context, Hooks hooks, QObject* parent = nullptr);

    // IndexStore::bootstrap() of `store`; while another program holds the
    // file, says `busyText` and tries again. The first other outcome ends it,
    // and so does this object's or the model's end (with the last refusal).
    QCoro::Task<StoreResult<void>> open(std::shared_ptr<IndexStore> store, QString busyText);

    // The notice of a store that started over, naming the copy its file became.
    static QString localStartedOverText(const std::filesystem::path& copy);
    // `rebuilding`: a run fills it now, rather than the next shared-drive scan.
    static QString serverStartedOverText(const std::filesystem::path& copy, bool rebuilding);

    // Called when writes to the local or the shared-drive store are done.
    void afterLocalWrites();
    void afterServerWrites();

private:
    enum class Kind { Local, Server };
    QCoro::Task<> refillIfStartedOver(Kind kind);
    void refillLocal(const std::filesystem::path& copy);
    void refillServer(const std::filesystem::path& copy);

    const AppContext& m_context;
    Hooks m_hooks;
    int m_localRefills = 0;
    int m_serverRefills = 0;
};

} // namespace pallix
