#include "Platform/SystemText.h"

#include <cerrno>
#include <cstring>

namespace pallix::systemtext {

namespace {

// The failures a file action or a store meets; the rest are rare enough to go by number.
const char* chineseFor(int error)
{
    switch (error) {
    case EACCES: return "没有权限";
    case EPERM: return "不允许此操作";
    case ENOENT: return "文件或文件夹不存在";
    case EEXIST: return "已存在同名项目";
    case ENAMETOOLONG: return "文件名过长";
    case ENOSPC: return "磁盘空间不足";
    case EDQUOT: return "超出磁盘配额";
    case EROFS: return "文件系统只能读取";
    case EXDEV: return "不能跨文件系统移动";
    case EBUSY: return "正被占用";
    case ENOTEMPTY: return "文件夹不为空";
    case EISDIR: return "是文件夹";
    case ENOTDIR: return "不是文件夹";
    case EIO: return "磁盘读写出错";
    case EINVAL: return "参数无效";
    case ELOOP: return "符号链接层级过多";
    case EMLINK: return "链接过多";
    case ETXTBSY: return "文件正在运行";
    case ENOMEM: return "内存不足";
    case EMFILE:
    case ENFILE: return "打开的文件过多";
    case EFBIG: return "文件过大";
    case ETIMEDOUT: return "操作超时";
    case ESTALE: return "网络文件已失效";
    case ENODEV:
    case ENXIO: return "设备不存在";
    case EAGAIN: return "资源暂时不可用";
    case EINTR: return "操作被中断";
    default: return nullptr;
    }
}

} // namespace

std::string describeErrno(int error)
{
    const char* chinese = chineseFor(error);
    const std::string head = chinese ? chinese : "系统错误 " + std::to_string(error);
    return head + "（" + std::strerror(error) + "）";
}

} // namespace pallix::systemtext
