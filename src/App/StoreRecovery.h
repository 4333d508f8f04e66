#pragma once
// StoreRecovery: keeps the model's two index stores usable through what
// another program or the disk does to their files while the application runs.
// An open refused because another program holds the file does not end the
// start-up: the status line says the index is busy and the open is tried
// again on the model's clock until it succeeds or fails for another reason.
// A store that met damage after the start-up has started over on a fresh file
// (see IndexStore::takeRecoveredFromDamage()); this notices it once the writes
// that met it are done, says so once and has the store filled again by the
// runs that fill it the first time.
//
// Owned by AppModel; GUI thread only. Every store call runs on the model's
// pool; the waits are on the model's clock, so a fake clock drives them.

#include <chrono>
#include <memory>

#include <QCoroTask>
#include <QString>

#include "Core/IndexDB/IndexStoreError.h"

namespace pallix {

class AppModel;
class IndexStore;

class StoreRecovery {
public:
    // Between two tries of an open refused by another program's lock; each
    // try first waits out the connection's busy timeout.
    static constexpr std::chrono::seconds kOpenRetryInterval{2};
    // Refills a session starts for each store: a disk that damages every
    // fresh file would otherwise have the roots walked without end.
    static constexpr int kMaxRefills = 3;

    explicit StoreRecovery(AppModel& model);

    // IndexStore::bootstrap() of `store`; while another program holds the
    // file, says `busyText` and tries again. The first other outcome ends it,
    // and so does the model's end (with the last refusal).
    QCoro::Task<StoreResult<void>> open(std::shared_ptr<IndexStore> store, QString busyText);

    // Called when writes to the local or the shared-drive store are done.
    void afterLocalWrites();
    void afterServerWrites();

private:
    enum class Kind { Local, Server };
    QCoro::Task<> refillIfStartedOver(Kind kind);
    void refillLocal();
    void refillServer();

    AppModel& m_model;
    int m_localRefills = 0;
    int m_serverRefills = 0;
};

} // namespace pallix
