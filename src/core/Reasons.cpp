#include "core/Reasons.h"

#include "platform/Errno.h"
#include "platform/File.h"

namespace core {

QString ReasonOf(int err, const QString& fallback) {
  switch (err) {
    case 0:
      return fallback;
    case EEXIST:
    case ENOTEMPTY:
      return QStringLiteral("目标文件已存在");
    case EACCES:
    case EPERM:
      return QStringLiteral("权限不足");
    case EROFS:
      return QStringLiteral("磁盘只读");
    case ENOSPC:
    case EDQUOT:
      return QStringLiteral("磁盘已满");
    case ENOENT:
      return QStringLiteral("文件不存在");
    case ENAMETOOLONG:
      return QStringLiteral("文件名过长");
    case EINVAL:
      return QStringLiteral("文件名不合法");
    case EBUSY:
    case ETXTBSY:
      return QStringLiteral("文件正被占用");
    case EIO:
      return QStringLiteral("读写错误");
    case EISDIR:
      return QStringLiteral("这是一个文件夹");
    default:
      return QString::fromLocal8Bit(platform::ErrorText(err).c_str());
  }
}

}  // namespace core
