#pragma once
// FileActionError: why a file action failed, with the text the user reads.
// `Cancelled` is the user's own "取消" and is never shown.

#include <QString>

namespace pallix {

struct FileActionError {
    enum class Code { TargetExists, Underlying, FileMissing, EmptyName, InvalidNameCharacter, SameName, Cancelled, Count };

    Code code = Code::Underlying;
    QString message;

    static FileActionError targetExists(const QString& name);
    static FileActionError underlying(const QString& systemMessage);
    static FileActionError fromErrno(int error);  // in Chinese, the system's text in parentheses
    static FileActionError fileMissing();
    static FileActionError emptyName();
    static FileActionError invalidNameCharacter();
    static FileActionError sameName();
    static FileActionError cancelled();
};

} // namespace pallix
