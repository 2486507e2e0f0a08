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

#include "core/Rules.h"

namespace shell {

namespace {

void ShowOwnProperties(const QString& path, QWidget* owner) {
  auto* sheet = new TFileProperties(path, owner);
  sheet->setAttribute(Qt::WA_DeleteOnClose);
  sheet->show();
}

}  // namespace

bool OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QList<QVariant> PropertiesArguments(const std::string& path) {
  return {QStringList{rules::FileUrlOf(path).toString(QUrl::FullyEncoded)}, QString()};
}

bool ShowFileProperties(const std::string& nativePath, QWidget* owner) {
  // Our own sheet goes through Qt's file names, which cannot name every file that the file
  // manager can.
  const QString path = rules::FromNativePath(nativePath);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    ShowOwnProperties(path, owner);
    return true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  call.setArguments(PropertiesArguments(nativePath));
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

TFileProperties::TFileProperties(const QString& path, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FileProperties"));
  const QFileInfo info(path);
  setWindowTitle(info.fileName() + QStringLiteral(" 属性"));
  auto* form = new QFormLayout;
  auto addRow = [&](const QString& label, const QString& value) {
    auto* box = new QLineEdit(value, this);
    box->setReadOnly(true);
    box->setFrame(false);
    box->setCursorPosition(0);
    form->addRow(label, box);
  };
  const QLocale locale(QLocale::Chinese, QLocale::China);
  addRow(QStringLiteral("名称:"), info.fileName());
  addRow(QStringLiteral("位置:"), info.absolutePath());
  addRow(QStringLiteral("类型:"), info.suffix().isEmpty()
                                      ? QStringLiteral("文件")
                                      : info.suffix().toUpper() + QStringLiteral(" 文件"));
  addRow(QStringLiteral("大小:"), info.exists()
                                      ? locale.toString(info.size()) + QStringLiteral(" 字节")
                                      : QStringLiteral("文件不存在"));
  const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
  if (info.exists()) {
    addRow(QStringLiteral("修改时间:"), info.lastModified().toString(format));
    addRow(QStringLiteral("访问时间:"), info.lastRead().toString(format));
    addRow(QStringLiteral("属性:"),
           info.isWritable() ? QStringLiteral("可读写") : QStringLiteral("只读"));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(360, sizeHint().height());
}
