#include "Shell.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>

#include "core/text/Rules.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"

namespace shell {

void ShowOwnProperties(const std::string& path, QWidget* owner) {
  auto* sheet = new TFileProperties(path, owner);
  sheet->setAttribute(Qt::WA_DeleteOnClose);
  sheet->show();
}

bool OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

FileFacts FactsOf(const std::string& path) {
  FileFacts facts;
  const platform::EntryInfo info = platform::StatPath(path, true);
  if (!info.exists) return facts;
  facts.exists = true;
  facts.size = static_cast<qint64>(info.size);
  facts.modified = QDateTime::fromMSecsSinceEpoch(info.modifiedMsecs);
  facts.accessed = QDateTime::fromMSecsSinceEpoch(info.accessedMsecs);
  facts.writable = platform::MayWrite(path);
  return facts;
}

QList<QVariant> PropertiesArguments(const std::string& path) {
  return {QStringList{rules::FileUrlOf(path).toString(QUrl::FullyEncoded)}, QString()};
}

}  // namespace shell

TFileProperties::TFileProperties(const QString& path, QWidget* parent)
    : TFileProperties(rules::NativePath(path), parent) {}

TFileProperties::TFileProperties(const std::string& path, QWidget* parent) : QDialog(parent) {
  // The file is looked at by its bytes; Qt's file names cannot name every file.
  setObjectName(QStringLiteral("FileProperties"));
  const QString name = rules::DisplayName(rules::NativeFileNameOf(path));
  QString folder = rules::ShownPath(rules::NativeFolderOf(path));
  if (folder.size() > 1 && folder.endsWith(QDir::separator())) folder.chop(1);
  const QString suffix = QFileInfo(name).suffix();
  const shell::FileFacts facts = shell::FactsOf(path);
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
         facts.exists
             ? locale.toString(static_cast<qlonglong>(facts.size)) + QStringLiteral(" 字节")
             : QStringLiteral("文件不存在"));
  const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
  if (facts.exists) {
    addRow(QStringLiteral("修改时间:"), facts.modified.toString(format));
    addRow(QStringLiteral("访问时间:"), facts.accessed.toString(format));
    addRow(QStringLiteral("属性:"),
           facts.writable ? QStringLiteral("可读写") : QStringLiteral("只读"));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(360, sizeHint().height());
}
