// Item 6: the window adds a folder of 100,000 MP3 files, on the offscreen platform, against the
// listing and the reads of the same files alone; and the list's memory with that many rows.
#include <sys/stat.h>
#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "AppSetup.h"
#include "Items.h"
#include "Rules.h"
#include "TrackList.h"
#include "Unit1.h"
#include "core/Batch.h"
#include "core/plans/Plans.h"
#include "platform/FileSystem.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"

namespace bench {
namespace {

// What Button2Click does once its folder dialog has given `folder`: TForm1::AddFolder lists the
// folder's MP3 files and then its WMA files and adds each; then the window catches up with the
// events that the adding posted (layout and painting of the list), as it would before the user
// sees the result. Gives the number of rows.
uint64_t AddFolder(TForm1& form, const QString& folder) {
  form.AddFolder(folder);
  QApplication::sendPostedEvents();
  QApplication::processEvents();
  return static_cast<uint64_t>(form.LV->rowCount());
}

std::unique_ptr<TForm1> ShownForm() {
  auto form = std::make_unique<TForm1>();
  form->show();
  QApplication::processEvents();
  return form;
}

// The application object of a window run: offscreen, with the program's own set-up.
class Application {
 public:
  Application() : app_(argc_, argv_) { appsetup::SetupApplication(app_); }

 private:
  static bool UseOffscreenPlatform();
  [[maybe_unused]] bool offscreen_ = UseOffscreenPlatform();  // before the QApplication exists
  int argc_ = 1;
  char name_[13] = "velomi_bench";
  char* argv_[2] = {name_, nullptr};
  QApplication app_;
};

bool Application::UseOffscreenPlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return true;
}

}  // namespace

void BenchWindow(const Config& config, Table& table, const std::string& self) {
  Application app;

  TempDir dir(config.tmp, "velomi-bench-window");
  const std::vector<std::string> paths = MakeMp3Corpus(dir, config.windowFiles);
  const size_t n = paths.size();
  const QString folder = rules::FromNativePath(dir.path() + "/");

  std::unique_ptr<TForm1> form = ShownForm();
  TIDmp3 tag;
  id3v2::TagInfo start;
  // The window reads both tags of an MP3 file (it shows the ID3v2 tag where there is no ID3v1
  // block): its floor is the listing and those reads; the reads of the ID3v1 block alone are shown
  // beside them.
  std::vector<Side> sides = {
      {"TForm1::AddFolder (what the add folder button does)",
       [&](size_t) { return AddFolder(*form, folder); },
       [&] {
         form.reset();
         form = ShownForm();
       }},
      {"reads alone: id3v2::ReadBothTags each file",
       [&](size_t) {
         uint64_t read = 0;
         for (const auto& p : paths) read += id3v2::ReadBothTags(p, tag, start);
         return read;
       },
       {}},
      {"listing + reads of both tags alone",
       [&](size_t) {
         uint64_t read = 0;
         const std::string native = dir.path() + "/";
         for (const char* suffix : {".mp3", ".wma"}) {
           for (const std::string& file : platform::ListFolder(native, suffix)) {
             read += id3v2::ReadBothTags(native + file, tag, start);
           }
         }
         return read;
       },
       {}},
      {"reads of the ID3v1 block alone: TIDmp3::ReadFromFile each file",
       [&](size_t) {
         uint64_t read = 0;
         for (const auto& p : paths) read += tag.ReadFromFile(p);
         return read;
       },
       {}},
  };
  Timings t = Alternate(sides, config.rounds);
  for (uint64_t c : t.checksums) {
    if (c != n) Die("item 6: the window or a reader missed files");
  }
  form.reset();
  table.Add({"6 window adds a folder, " + CountOf(n, "files"), PerFile(t.Median(0), n),
             sides[2].name, PerFile(t.Median(2), n), RatioRange(t, 0, 2), "<= 1.5x",
             Verdict(t.Ratio(0, 2), 1.5)});
  table.Add({"", "", sides[1].name, PerFile(t.Median(1), n), RatioRange(t, 0, 1), "", ""});
  table.Add({"", "", sides[3].name, PerFile(t.Median(3), n), RatioRange(t, 0, 3), "", ""});

  // The memory, in a fresh process: resident memory with the window shown and empty, and after
  // the folder was added.
  std::string out = RunChild({self, "--window-memory", dir.path()});
  long long before = 0, after = 0, peak = 0, model = 0;
  if (std::sscanf(out.c_str(), "%lld %lld %lld %lld", &before, &after, &peak, &model) != 4) {
    Die("item 6: the memory probe gave no numbers");
  }
  char perRow[64];
  std::snprintf(perRow, sizeof perRow, "%.2f KiB/row",
                static_cast<double>(after - before) / static_cast<double>(n));
  table.Add({"6 window memory", KiB(after) + " resident", "the empty window shown", KiB(before),
             "+" + KiB(after - before) + ", " + perRow, "", ""});
  table.Add({"", "", "peak of the process", KiB(peak), "", "", ""});
  char modelRow[64];
  std::snprintf(modelRow, sizeof modelRow, "%.0f bytes/row",
                static_cast<double>(model) / static_cast<double>(n));
  table.Add({"6 the list's rows", modelRow, "", "", "", "<= 200 bytes/row",
             Verdict(static_cast<double>(model) / static_cast<double>(n) / 200.0, 1.0)});
}

namespace {

// Answers every question box of the window with Yes (and a summary box with OK) while it lives.
class Answerer : public QObject {
 public:
  Answerer() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        box->done(box->buttons().contains(box->button(QMessageBox::Yes)) ? QMessageBox::Yes
                                                                         : QMessageBox::Ok);
      }
    });
    timer_.start();
  }

 private:
  QTimer timer_;
};

}  // namespace

void BenchWindowUndo(const Config& config, Table& table, const std::string& program) {
  Application app;
  const size_t n = config.mp3Files;
  // Each side its own folder of files and its own journal; a rename made untimed before each
  // undo. The window's rows are the renamed files, as the user sees them after the rename.
  struct Corpus {
    Corpus(const Config& config, const char* name, size_t n)
        : dir(config.tmp, name), state(dir.File("state")), folder(dir.File("music") + "/") {
      ::mkdir(folder.c_str(), 0755);
      for (size_t i = 0; i < n; ++i) {
        WriteFile(folder + std::to_string(i) + ".mp3", "x");
        tracks.push_back({folder, std::to_string(i) + ".mp3", QStringLiteral("T%1").arg(i),
                          QStringLiteral("A"), static_cast<int>(i)});
      }
    }
    void Rename() {
      ::setenv("XDG_STATE_HOME", state.c_str(), 1);
      core::Journal journal;
      core::ApplyOptions options;
      options.journal = &journal;
      const core::ApplyReport r = core::ApplyRename(core::PlanRename(tracks, 1), options);
      for (const auto& e : r.results) {
        if (e.outcome != core::Outcome::kDone) Die("item 11: a rename failed");
      }
    }
    TempDir dir;
    std::string state, folder;
    std::vector<core::Track> tracks;
  };
  Corpus window(config, "velomi-bench-undo-window", n), cli(config, "velomi-bench-undo-cli", n);
  std::unique_ptr<TForm1> form;
  Answerer answerer;
  std::vector<Side> sides = {
      {"TForm1::N12Click (undo of the rename, window)",
       [&](size_t) {
         form->N12Click();
         QApplication::processEvents();
         return static_cast<uint64_t>(form->LV->Model()->CheckedRows().size());
       },
       {},
       [&] {
         window.Rename();
         form = std::make_unique<TForm1>();  // its journal in the side's state folder
         std::vector<core::TrackListModel::NewRow> rows;
         for (size_t i = 0; i < n; ++i) {
           rows.push_back({window.folder + "A - T" + std::to_string(i) + ".mp3", {}});
         }
         form->LV->AppendRows(rows);
         form->show();
         QApplication::processEvents();
       }},
      {"velomi-tag undo (same rename)",
       [&](size_t) {
         ::setenv("XDG_STATE_HOME", cli.state.c_str(), 1);
         RunChild({program, "undo"});
         return static_cast<uint64_t>(n);
       },
       {},
       [&] { cli.Rename(); }},
  };
  Timings t = Alternate(sides, config.rounds);
  table.Add({"11 undo of a rename, " + CountOf(n, "files"), Seconds(t.Median(0)), sides[1].name,
             Seconds(t.Median(1)), RatioRange(t, 0, 1), "<= 2x", Verdict(t.Ratio(0, 1), 2.0)});
}

int WindowMemoryChild(const std::string& folder) {
  Application app;
  std::unique_ptr<TForm1> form = ShownForm();
  const long long before = ResidentKiB();
  AddFolder(*form, rules::FromNativePath(folder + "/"));
  const long long after = ResidentKiB();
  std::printf("%lld %lld %lld %lld\n", before, after, static_cast<long long>(PeakResidentKiB()),
              static_cast<long long>(form->LV->Model()->MemoryBytes()));
  return 0;
}

}  // namespace bench
