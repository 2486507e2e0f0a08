// The desktop's side on Windows: the shell's properties sheet, else Explorer with the file
// selected.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <QDir>
#include <QProcess>

#include "Shell.h"

namespace shell {
namespace {

QString PathText(const std::string& path) { return QString::fromUtf8(path); }

}  // namespace

bool ShowFileProperties(const std::string& path, QWidget* owner) {
  const std::wstring file = QDir::toNativeSeparators(PathText(path)).toStdWString();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"properties";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOW;
  if (::ShellExecuteExW(&info)) return true;
  // No properties sheet to be had: Explorer with the file selected, else our own sheet.
  if (QProcess::startDetached(QStringLiteral("explorer.exe"),
                              {QStringLiteral("/select,") + QString::fromStdWString(file)})) {
    return true;
  }
  ShowOwnProperties(path, owner);
  return true;
}

}  // namespace shell
