#pragma once
// Another process holding an index file's write lock, for the tests of what
// the application does while its index is locked.

#include <filesystem>
#include <future>
#include <thread>

#include <sqlite3.h>

namespace pallix::testing_support {

// Another process holds the database's write lock from another thread until
// the test signals it.
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& db)
    {
        std::promise<void> locked;
        auto isLocked = locked.get_future();
        m_thread = std::thread([this, db, locked = std::move(locked), released = m_release.get_future()]() mutable {
            sqlite3* other = nullptr;
            sqlite3_open(db.c_str(), &other);
            sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr);
            locked.set_value();
            released.wait();
            sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        });
        isLocked.wait();
    }
    void release()
    {
        if (!m_released)
            m_release.set_value();
        m_released = true;
    }
    ~LockHolder()
    {
        release();
        m_thread.join();
    }

private:
    std::promise<void> m_release;
    bool m_released = false;
    std::thread m_thread;
};

} // namespace pallix::testing_support
