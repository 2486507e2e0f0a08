// Reasons a person can read for what a batch did not do, from the errno the system gave.
#pragma once

#include <QString>

namespace core {

// The reason for an errno value: "目标文件已存在", "权限不足", "磁盘已满", "文件不存在" ... An
// errno of 0 (the system gave none: the file's content was the reason) gives `fallback`, or
// "操作失败" without one.
QString ReasonOf(int err);
QString ReasonOf(int err, const QString& fallback);

}  // namespace core
