#pragma once
// The index store's failure: which SQLite step failed and SQLite's message.
// The description is what the application shows in its status line.

#include <string>

#include "Platform/Expected.h"

namespace pallix {

struct IndexStoreError {
    enum class Code {
        OpenDatabase,  // the database file cannot be opened
        Prepare,       // a statement cannot be prepared
        Step,          // a write statement did not run to completion
        Exec,          // a statement run as a whole (schema, migration, transaction control) failed
        FileSystem,    // the database's folder cannot be created; the message is the system's
        Count
    };

    Code code = Code::Exec;
    // SQLite's message, or "未知 SQLite 错误" when there is none (no connection).
    std::string message;
    // SQLite's result code of the failure (0 when not SQLite's): the caller
    // tells a busy database and a damaged one from other failures by it.
    int sqliteCode = 0;
    // The database file the failure concerns; empty when none is known.
    std::string file;

    // The fixed Chinese prefix, then the file with the message after it in
    // parentheses (the message alone without a file).
    std::string description() const
    {
        const std::string detail = file.empty() ? message : file + "（" + message + "）";
        switch (code) {
        case Code::OpenDatabase: return "打开索引数据库失败：" + detail;
        case Code::Prepare: return "准备 SQLite 语句失败：" + detail;
        case Code::Step: return "执行 SQLite 语句失败：" + detail;
        case Code::Exec: return "执行 SQLite 命令失败：" + detail;
        case Code::FileSystem:
        case Code::Count: break;
        }
        return message;
    }

    friend bool operator==(const IndexStoreError&, const IndexStoreError&) = default;
};

template <class T>
using StoreResult = Expected<T, IndexStoreError>;

inline Unexpected<IndexStoreError> storeFailure(IndexStoreError::Code code, std::string message, int sqliteCode = 0)
{
    return Unexpected<IndexStoreError>(IndexStoreError{code, std::move(message), sqliteCode, {}});
}

} // namespace pallix
