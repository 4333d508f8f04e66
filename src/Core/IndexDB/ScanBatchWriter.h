#pragma once
// ScanBatchWriter: writes a scan's batches to a store in the order they came.
// A batch the store refuses (another process holds the database's write lock
// past the busy timeout, or any other failure) is kept and tried again before
// the next one and by flush(): never dropped, so a scan that met a locked
// database still writes everything once the lock is gone.
//
// Used by one thread at a time (the scan's worker).

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "Core/IndexDB/IndexStore.h"

namespace pallix {

class ScanBatchWriter {
public:
    // What one add() or flush() did.
    struct Outcome {
        int written = 0;                      // batches written by this call, oldest first
        std::optional<IndexStoreError> error; // why the oldest kept batch is still unwritten
    };

    explicit ScanBatchWriter(std::shared_ptr<IndexStore> store) : m_store(std::move(store)) {}

    // Keeps `batch` after the batches still unwritten and writes them in order.
    Outcome add(std::vector<IndexedItem> batch);
    // Writes the kept batches in order, stopping at the first refusal.
    Outcome flush();
    // Batches kept unwritten.
    std::size_t pending() const { return m_pending.size(); }

    // True for the failure of a database that another connection holds.
    static bool isBusy(const IndexStoreError& error);

private:
    std::shared_ptr<IndexStore> m_store;
    std::deque<std::vector<IndexedItem>> m_pending;
};

} // namespace pallix
