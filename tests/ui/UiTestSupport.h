// Helpers for the window's tests: a Qt Test main on the offscreen platform, an answerer for modal
// message boxes and file dialogs, real MP3 and WMA files in temporary folders, and clicks, drops
// and selections on the real track list.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <string>

#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

class TForm1;

namespace uitest {

// Puts the test on the offscreen platform unless the environment chose one already.
void PrepareEnvironment();
// Loads Qt's Chinese translations and the font substitutes, as the program does.
void SetupApplication(QApplication& app);

// What one message box showed.
struct SeenBox {
  QString title;
  QString text;
  QString details;  // the detailed text (a batch's plan)
  QString info;     // the informative text (the plan's counts)
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
};

// While it lives, answers every modal message box that appears: with the queued answers in turn,
// then with the last one again. Records what every box showed.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes);
  void Queue(QList<QMessageBox::StandardButton> answers) { answers_ = std::move(answers); }
  const QList<SeenBox>& boxes() const { return boxes_; }
  int count() const { return static_cast<int>(boxes_.size()); }
  // Leaves each box up this long before answering it, as a user reading it would.
  void HoldEachBox(int ms) { holdMs_ = ms; }

 private:
  void Poll();
  QTimer timer_;
  int holdMs_ = 0;
  QPointer<QMessageBox> held_;
  QElapsedTimer heldFor_;
  QList<QMessageBox::StandardButton> answers_;
  QMessageBox::StandardButton last_;
  QList<SeenBox> boxes_;
};

// Once the next modal QFileDialog shows, runs `act` on it (which accepts or rejects it).
void WhenFileDialog(std::function<void(QFileDialog*)> act);
// Answers the folder browser with `folder`, or cancels it when `folder` is empty.
void AnswerFolder(const QString& folder);
// Answers the file dialog with the names, typed into its name box, from `folder`.
void AnswerFiles(const QString& folder, const QStringList& names);

// ---- Files

// Whether file names are the file system's bytes, so that a test can make a name in GBK bytes (as
// Windows archives and FAT drives leave them on Linux); on Windows names are UTF-16 text.
bool FileNamesAreBytes();
// Whether names that differ in letter case only name one file in `folder` (Windows, FAT).
bool NamesFoldCase(const QString& folder);

QString DataFile(const QString& name);
QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);
// Copies a fixture of tests/data to `path`.
QString CopyData(const QString& fixture, const QString& path);
// An MPEG file with an ID3v1 tag of these GBK texts (title empty and genre 255: tagged all the
// same), or without a tag when `tagged` is false.
struct Mp3Fields {
  Mp3Fields(QString title = {}, QString artist = {}, QString album = {}, QString year = {},
            QString comment = {}, int track = 0, int genre = 255)
      : title(std::move(title)),
        artist(std::move(artist)),
        album(std::move(album)),
        year(std::move(year)),
        comment(std::move(comment)),
        track(track),
        genre(genre) {}
  QString title, artist, album, year, comment;
  int track;
  int genre;
};
QString MakeMp3(const QString& path, const Mp3Fields& fields);
QString MakeUntaggedMp3(const QString& path);
// A WMA file whose header the file ends inside of: reading it raises the read error.
QString MakeBrokenWma(const QString& path);
TIDmp3 ReadMp3(const QString& path);
TIDwma ReadWma(const QString& path);
QString Gbk(const std::string& bytes);

// ---- The window

// Selects exactly these rows, as a program would (no click, so no display).
void SelectRows(TForm1& form, const QList<int>& rows);
// A left click in the list on `row` (in its title column), with the modifiers.
void ClickRow(TForm1& form, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Drops the files on the window and waits until they are handled.
void Drop(TForm1& form, const QStringList& paths);
void DropUrls(TForm1& form, const QList<QUrl>& urls);
// The rows' texts in one column, top to bottom.
QStringList Column(TForm1& form, int column);
QList<int> Marks(TForm1& form);
// Sets a row's check box.
void SetChecked(TForm1& form, int row, bool checked);

}  // namespace uitest

#define VELOMI_QTEST_MAIN(TestClass)        \
  int main(int argc, char** argv) {         \
    uitest::PrepareEnvironment();           \
    QApplication app(argc, argv);           \
    uitest::SetupApplication(app);          \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }
