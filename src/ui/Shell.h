// What the window hands to the desktop: folders, files, web and mail addresses to open, and a
// file's properties sheet. The file manager shows the sheet (org.freedesktop.FileManager1 over
// D-Bus; on Windows the shell's "properties" verb, else Explorer with the file selected); where
// none answers, a small read-only dialog of our own shows it.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QUrl>
#include <string>

namespace shell {

// Opens a folder, a file, a web address or a mail link with the desktop's default program.
bool OpenUrl(const QUrl& url);

// Asks the file manager to show the properties sheet of the file at `path` (the file system's
// bytes); when no file manager answers, shows TFileProperties instead. True when the request was
// handed on.
bool ShowFileProperties(const std::string& path, QWidget* owner);

// The arguments of FileManager1.ShowItemProperties for a file: its URL and an empty startup id.
QList<QVariant> PropertiesArguments(const std::string& path);

// Shows TFileProperties for the file at `path`, closed with its owner.
void ShowOwnProperties(const std::string& path, QWidget* owner);

// What the properties sheet of our own shows of a file, as the system gives it.
struct FileFacts {
  bool exists = false;
  qint64 size = 0;
  QDateTime modified;
  QDateTime accessed;
  bool writable = false;
};
FileFacts FactsOf(const std::string& path);

}  // namespace shell

// A small read-only properties sheet: name, folder, type, size, dates and permissions.
class TFileProperties : public QDialog {
  Q_OBJECT

 public:
  // The file at `path`: the file system's bytes, or a text taken as a UTF-8 path.
  TFileProperties(const std::string& path, QWidget* parent = nullptr);
  TFileProperties(const QString& path, QWidget* parent = nullptr);
};
