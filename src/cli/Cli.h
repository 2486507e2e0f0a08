// The command line's shared pieces: translated messages, the exit statuses, output to the
// terminal, the progress line, and the paths of the command line as the file system's bytes.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// The context of every message of velomi-tag in the translation files.
class Cli {
  Q_DECLARE_TR_FUNCTIONS(Cli)
};

enum Status { kDone = 0, kSomeFailed = 1, kUsage = 2 };

// UTF-8 text to standard output or standard error.
void Out(const QString& text);
void Err(const QString& text);
// One failure: "velomi-tag: PATH: REASON" on standard error.
void Failure(const std::string& path, const QString& reason);
// A usage error: the message and a hint to --help on standard error; gives kUsage.
int Usage(const QString& message);

// A path for a person: its bytes as UTF-8 when they are UTF-8, else decoded as the file system's
// names are.
QString Shown(const std::string& path);

// The line "[done/total] name" on standard error, redrawn at most ten times a second, when
// standard error is a terminal; nothing at all when it is not.
class Progress {
 public:
  Progress();
  ~Progress();
  void Step(int done, int total, const std::string& name);

 private:
  bool terminal_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

// Set when the user presses Ctrl+C: a batch stops before its next file.
std::atomic<bool>& Interrupted();
void CatchInterrupt();

// A fault hook for tests of two processes at once: with VELOMI_TEST_HOLD=STEP:PATH in the
// environment (STEP "recorded", "file" or "written", see core::ActionStep), the first action to
// reach that step creates PATH.held and waits there until PATH.go exists.
void HoldForTests();

// The arguments, with the raw bytes of each one kept: an argument whose bytes are not UTF-8 is
// handed to the parser as a stand-in that ToBytes turns back into those very bytes.
class Arguments {
 public:
  Arguments(int argc, char** argv);
  const QStringList& List() const { return list_; }
  std::string ToBytes(const QString& argument) const;
  // The text of an option's value (a stand-in gives its bytes decoded, lossily).
  QString ToText(const QString& argument) const;

 private:
  QStringList list_;
  std::vector<std::string> raw_;
};

// The files that the paths stand for, in order: a file for itself, a folder for its MP3 and then
// its WMA files by name (as the add-folder button lists them) and, when `recursive`, then for each
// of its subfolders' files by name, depth first (a folder reached twice, through a link, counts
// once). A missing path, a folder without MP3 or WMA files and a file that is neither are printed
// as failures and left out. A folder given without `recursive` whose subfolders hold MP3 or WMA
// files gets a note on standard error.
struct Files {
  std::vector<std::string> paths;
  struct LeftOut {
    std::string path;
    QString reason;
    size_t at;  // its place among `paths`: the number of files before it
  };
  std::vector<LeftOut> failures;  // in the order of the arguments
  bool failed = false;
};
Files Expand(const std::vector<std::string>& paths, bool recursive);

// The bounds of a list of paths: far above any music library, far below what fills the memory.
constexpr int64_t kMaxListBytes = int64_t{128} << 20;
constexpr size_t kMaxListPaths = 1000000;

// The names of a list of paths (--files-from): its bytes cut at each NUL (`nul`) or at each line
// end, an empty name left out; a line's CR before its LF goes too. The file "-" is standard input.
// False, and `error` set, when the list cannot be read, or is longer than kMaxListBytes or names
// more than kMaxListPaths paths (an endless source such as /dev/zero is refused so, and never
// held in memory whole).
bool ReadPathList(const std::string& file, bool nul, std::vector<std::string>& paths,
                  QString& error);

}  // namespace cli
