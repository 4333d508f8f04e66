#include "Core/IndexDB/ScanBatchWriter.h"

#include "Core/IndexDB/Sqlite.h"

namespace pallix {

ScanBatchWriter::Outcome ScanBatchWriter::add(std::vector<IndexedItem> batch)
{
    m_pending.push_back(std::move(batch));
    return flush();
}

ScanBatchWriter::Outcome ScanBatchWriter::flush()
{
    Outcome out;
    while (!m_pending.empty()) {
        if (StoreResult<void> written = m_store->upsert(m_pending.front()); !written) {
            out.error = written.error();
            return out;
        }
        m_pending.pop_front();
        ++out.written;
    }
    return out;
}

bool ScanBatchWriter::isBusy(const IndexStoreError& error)
{
    return sqlite::isTransient(error.sqliteCode);
}

} // namespace pallix
