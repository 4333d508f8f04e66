#include "App/Actions/FileActionError.h"

#include "Platform/SystemText.h"

namespace pallix {

FileActionError FileActionError::targetExists(const QString& name)
{
    return {Code::TargetExists, QStringLiteral("已存在名为「") + name + QStringLiteral("」的项目。")};
}

FileActionError FileActionError::underlying(const QString& systemMessage)
{
    return {Code::Underlying, systemMessage};
}

FileActionError FileActionError::fromErrno(int error)
{
    return underlying(QString::fromStdString(systemtext::describeErrno(error)));
}

FileActionError FileActionError::fileMissing()
{
    return {Code::FileMissing, QStringLiteral("找不到该项目，可能已被移动或删除。")};
}

FileActionError FileActionError::emptyName()
{
    return {Code::EmptyName, QStringLiteral("名称不能为空。")};
}

FileActionError FileActionError::invalidNameCharacter()
{
    return {Code::InvalidNameCharacter, QStringLiteral("名称不能包含 \u201C/\u201D 等非法字符。")};
}

FileActionError FileActionError::sameName()
{
    return {Code::SameName, QStringLiteral("名称未改变。")};
}

FileActionError FileActionError::cancelled()
{
    return {Code::Cancelled, QStringLiteral("已取消。")};
}

} // namespace pallix
