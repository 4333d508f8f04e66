#pragma once
// A SQLite file layer for tests that damages a database on demand, the way a
// disk that loses sectors under a running program does. While an instance
// lives it wraps the default file layer and is the default itself, so every
// connection the code under test opens goes through it. After damage(file),
// every page but the first that a connection already open on that file reads
// comes back as zeros (the file still opens and its schema reads, its tables
// do not); a connection opened later (on a fresh database made in the damaged
// one's place) reads normally. Memory-mapped reads are turned off for the
// files it wraps, so every page read passes here. While setDiskFull(true)
// every write fails as the system's file layer fails it on a full disk.
//
// One instance at a time; damage() may be called from any thread.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace pallix::testsupport {

class DamagingSqliteVfs {
public:
    DamagingSqliteVfs() : m_real(sqlite3_vfs_find(nullptr))
    {
        // A copy of the real layer with our open: its other calls never look
        // at the layer's own data, which now points here.
        m_vfs = *m_real;
        m_vfs.zName = "pallix-damaging";
        m_vfs.pNext = nullptr;
        m_vfs.pAppData = this;
        m_vfs.szOsFile = static_cast<int>(sizeof(File)) + m_real->szOsFile;
        m_vfs.xOpen = &DamagingSqliteVfs::open;
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~DamagingSqliteVfs()
    {
        sqlite3_vfs_unregister(&m_vfs);
        sqlite3_vfs_register(m_real, 1);
    }
    DamagingSqliteVfs(const DamagingSqliteVfs&) = delete;
    DamagingSqliteVfs& operator=(const DamagingSqliteVfs&) = delete;

    // A connection keeps the pages it read in its cache, so one write from a
    // connection of our own, checkpointed so that every page lives in the
    // file again rather than in its log, makes the open ones read them anew.
    void damage(const std::filesystem::path& database)
    {
        {
            std::lock_guard lock(m_mutex);
            m_damaged = database.string();
            m_damagedBelow = m_opens.load() + 1;
        }
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &other), SQLITE_OK);
        sqlite3_busy_timeout(other, 5000);
        EXPECT_EQ(sqlite3_exec(other, "PRAGMA user_version = 7;", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_wal_checkpoint_v2(other, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(other);
        sqlite3_close(other);
    }

    // From now on pages [firstPage, firstPage + count) of `database` (numbered
    // from 1) read as zeros on connections opened read-only: damage deep in a
    // large file that a bounded check on the read-write connection has not
    // reached, and that only the readers of the rows meet. A fresh small file
    // of the same name has no such pages.
    void damagePagesForReaders(const std::filesystem::path& database, std::int64_t firstPage, std::int64_t count)
    {
        std::lock_guard lock(m_mutex);
        m_readerDamaged = database.string();
        m_readerDamageFrom = (firstPage - 1) * kFirstPageBytes;
        m_readerDamageTo = (firstPage - 1 + count) * kFirstPageBytes;
    }

    // A page in the middle of `table`'s rows (numbered from 1), wherever the
    // file's layout put them: the stretch a full read of the table must cross.
    static std::int64_t middleRowPage(const std::filesystem::path& database, const char* table)
    {
        sqlite3* db = nullptr;
        std::int64_t page = 0;
        if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            const char* sql = "SELECT pageno FROM dbstat WHERE name = ?1 AND pagetype = 'leaf' ORDER BY pageno "
                              "LIMIT 1 OFFSET (SELECT count(*) / 2 FROM dbstat WHERE name = ?1 AND pagetype = 'leaf');";
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
                sqlite3_bind_text(st, 1, table, -1, SQLITE_STATIC);
                if (sqlite3_step(st) == SQLITE_ROW)
                    page = sqlite3_column_int64(st, 0);
            }
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        EXPECT_GT(page, 1) << "no rows of " << table << " in " << database;
        return page;
    }

    // Writes fail with SQLITE_FULL (the system's ENOSPC) until set back.
    void setDiskFull(bool full) { m_diskFull = full; }

private:
    struct File {
        sqlite3_file base;
        DamagingSqliteVfs* owner;
        bool database;
        bool readOnly;
        const char* name;
        std::uint64_t serial;  // order of opening: damage spares the later ones
        sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };

    static File* of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

    static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* f, int flags, int* outFlags)
    {
        auto* self = static_cast<DamagingSqliteVfs*>(vfs->pAppData);
        File* file = of(f);
        file->base.pMethods = nullptr;
        const int rc = self->m_real->xOpen(self->m_real, name, file->real(), flags, outFlags);
        if (file->real()->pMethods == nullptr)
            return rc;
        file->owner = self;
        file->database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
        file->readOnly = (flags & SQLITE_OPEN_READONLY) != 0;
        file->name = name;  // valid until the file is closed
        file->serial = ++self->m_opens;
        file->base.pMethods = &kMethods;
        return rc;
    }

    static int read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset)
    {
        File* file = of(f);
        const int rc = file->real()->pMethods->xRead(file->real(), buffer, amount, offset);
        if (rc == SQLITE_OK && file->database && offset >= kFirstPageBytes &&
            (file->owner->isDamaged(*file) || file->owner->isDamagedForReader(*file, offset)))
            std::memset(buffer, 0, static_cast<std::size_t>(amount));
        return rc;
    }

    static int write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset)
    {
        File* file = of(f);
        if (file->owner->m_diskFull)
            return SQLITE_FULL;
        return file->real()->pMethods->xWrite(file->real(), buffer, amount, offset);
    }

    bool isDamagedForReader(const File& file, sqlite3_int64 offset)
    {
        std::lock_guard lock(m_mutex);
        return file.readOnly && file.name != nullptr && m_readerDamaged == file.name && offset >= m_readerDamageFrom &&
               offset < m_readerDamageTo;
    }

    bool isDamaged(const File& file)
    {
        std::lock_guard lock(m_mutex);
        return file.serial < m_damagedBelow && file.name != nullptr && m_damaged == file.name;
    }

    static int close(sqlite3_file* f)
    {
        File* file = of(f);
        const int rc = file->real()->pMethods->xClose(file->real());
        file->base.pMethods = nullptr;
        return rc;
    }

    // Each of the remaining calls passes straight to the real file.
    template <auto Member, typename... Args>
    static int pass(sqlite3_file* f, Args... args)
    {
        sqlite3_file* real = of(f)->real();
        return (real->pMethods->*Member)(real, args...);
    }
    static void shmBarrier(sqlite3_file* f) { of(f)->real()->pMethods->xShmBarrier(of(f)->real()); }

    static constexpr sqlite3_int64 kFirstPageBytes = 4096;  // the stores' page size
    // Version 2: the log's shared memory, but no memory-mapped reads.
    static constexpr sqlite3_io_methods kMethods = {
        2,
        &close,
        &read,
        &write,
        &pass<&sqlite3_io_methods::xTruncate, sqlite3_int64>,
        &pass<&sqlite3_io_methods::xSync, int>,
        &pass<&sqlite3_io_methods::xFileSize, sqlite3_int64*>,
        &pass<&sqlite3_io_methods::xLock, int>,
        &pass<&sqlite3_io_methods::xUnlock, int>,
        &pass<&sqlite3_io_methods::xCheckReservedLock, int*>,
        &pass<&sqlite3_io_methods::xFileControl, int, void*>,
        &pass<&sqlite3_io_methods::xSectorSize>,
        &pass<&sqlite3_io_methods::xDeviceCharacteristics>,
        &pass<&sqlite3_io_methods::xShmMap, int, int, int, void volatile**>,
        &pass<&sqlite3_io_methods::xShmLock, int, int, int>,
        &shmBarrier,
        &pass<&sqlite3_io_methods::xShmUnmap, int>,
        nullptr,
        nullptr,
    };

    sqlite3_vfs* m_real;
    sqlite3_vfs m_vfs{};
    std::atomic<std::uint64_t> m_opens{0};
    std::atomic<bool> m_diskFull{false};
    std::mutex m_mutex;
    std::string m_damaged;             // the damaged file, under m_mutex
    std::uint64_t m_damagedBelow = 0;  // its files opened before this serial; under m_mutex
    std::string m_readerDamaged;       // see damagePagesForReaders(); under m_mutex
    sqlite3_int64 m_readerDamageFrom = 0;
    sqlite3_int64 m_readerDamageTo = 0;
};

} // namespace pallix::testsupport
