#include "core/utils/Reasons.h"

#include "platform/Errno.h"
#include "platform/File.h"

#include "core/utils/Tr.h"

namespace core {

QString ReasonOf(int err) { return ReasonOf(err, Core::tr("操作失败")); }

QString ReasonOf(int err, const QString& fallback) {
  switch (err) {
    case 0:
      return fallback;
    case EEXIST:
    case ENOTEMPTY:
      return Core::tr("目标文件已存在");
    case EACCES:
    case EPERM:
      return Core::tr("权限不足");
    case EROFS:
      return Core::tr("磁盘只读");
    case ENOSPC:
    case EDQUOT:
      return Core::tr("磁盘已满");
    case ENOENT:
      return Core::tr("文件不存在");
    case ENAMETOOLONG:
      return Core::tr("文件名过长");
    case EINVAL:
      return Core::tr("文件名不合法");
    case EBUSY:
    case ETXTBSY:
      return Core::tr("文件正被占用");
    case EIO:
      return Core::tr("读写错误");
    case EISDIR:
      return Core::tr("这是一个文件夹");
    case platform::kErrFifo:
      return Core::tr("这是一个命名管道（FIFO），不是歌曲文件");
    case platform::kErrDevice:
      return Core::tr("这是一个设备，不是歌曲文件");
    case ESTALE:
      return Core::tr("文件已被其他程序修改");
    default:
      return QString::fromLocal8Bit(platform::ErrorText(err).c_str());
  }
}

}  // namespace core
