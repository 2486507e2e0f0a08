#include "Shell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <unistd.h>

#include "core/Rules.h"

namespace shell {

namespace {

void ShowOwnProperties(const std::string& path, QWidget* owner) {
  auto* sheet = new TFileProperties(path, owner);
  sheet->setAttribute(Qt::WA_DeleteOnClose);
  sheet->show();
}

}  // namespace

bool OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QList<QVariant> PropertiesArguments(const std::string& path) {
  return {QStringList{rules::FileUrlOf(path).toString(QUrl::FullyEncoded)}, QString()};
}

bool ShowFileProperties(const std::string& path, QWidget* owner) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    ShowOwnProperties(path, owner);
    return true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  call.setArguments(PropertiesArguments(path));
  // Asked without blocking: a file manager that is started on demand may take a moment, and the
  // window stays responsive meanwhile.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), owner);
  QPointer<QWidget> guardedOwner(owner);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [watcher, path, guardedOwner] {
                     if (watcher->isError() && guardedOwner) ShowOwnProperties(path, guardedOwner);
                     watcher->deleteLater();
                   });
  return true;
}

}  // namespace shell

TFileProperties::TFileProperties(const QString& path, QWidget* parent)
    : TFileProperties(rules::NativePath(path), parent) {}

TFileProperties::TFileProperties(const std::string& path, QWidget* parent) : QDialog(parent) {
  // The file is looked at by its bytes; Qt's file names cannot name every file.
  setObjectName(QStringLiteral("FileProperties"));
  const QString name = rules::DisplayName(rules::NativeFileNameOf(path));
  QString folder = rules::DisplayName(rules::NativeFolderOf(path));
  if (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
  const QString suffix = QFileInfo(name).suffix();
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  setWindowTitle(name + QStringLiteral(" 属性"));
  auto* form = new QFormLayout;
  auto addRow = [&](const QString& label, const QString& value) {
    auto* box = new QLineEdit(value, this);
    box->setReadOnly(true);
    box->setFrame(false);
    box->setCursorPosition(0);
    form->addRow(label, box);
  };
  const QLocale locale(QLocale::Chinese, QLocale::China);
  addRow(QStringLiteral("名称:"), name);
  addRow(QStringLiteral("位置:"), folder);
  addRow(QStringLiteral("类型:"),
         suffix.isEmpty() ? QStringLiteral("文件") : suffix.toUpper() + QStringLiteral(" 文件"));
  addRow(QStringLiteral("大小:"),
         exists ? locale.toString(static_cast<qlonglong>(st.st_size)) + QStringLiteral(" 字节")
                : QStringLiteral("文件不存在"));
  const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
  auto time = [&](const timespec& at) {
    return QDateTime::fromMSecsSinceEpoch(qint64(at.tv_sec) * 1000 + at.tv_nsec / 1000000)
        .toString(format);
  };
  if (exists) {
    addRow(QStringLiteral("修改时间:"), time(st.st_mtim));
    addRow(QStringLiteral("访问时间:"), time(st.st_atim));
    addRow(QStringLiteral("属性:"),
           ::access(path.c_str(), W_OK) == 0 ? QStringLiteral("可读写") : QStringLiteral("只读"));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(360, sizeHint().height());
}
