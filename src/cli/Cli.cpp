#include "Cli.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

#include "core/plans/Apply.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"

namespace cli {

void Out(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void Err(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void Failure(const std::string& path, const QString& reason) {
  Err(QStringLiteral("velomi-tag: %1: %2\n").arg(Shown(path), reason));
}

int Usage(const QString& message) {
  Err(QStringLiteral("velomi-tag: %1\n").arg(message));
  Err(Cli::tr("Try 'velomi-tag --help' for more information.") + QLatin1Char('\n'));
  return kUsage;
}

QString Shown(const std::string& path) { return rules::ShownPath(path); }

// ---- Progress

Progress::Progress() : terminal_(platform::StandardErrorIsTerminal()) {}

Progress::~Progress() {
  if (drawn_) Err(QStringLiteral("\r\x1b[K"));
}

void Progress::Step(int done, int total, const std::string& name) {
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  drawn_ = true;
  const QString file = Shown(name);
  const QString shown = file.size() > 60 ? QStringLiteral("…") + file.right(59) : file;
  Err(QStringLiteral("\r\x1b[K[%1/%2] %3").arg(done).arg(total).arg(shown));
}

// ---- Ctrl+C

std::atomic<bool>& Interrupted() {
  static std::atomic<bool> flag{false};
  return flag;
}

namespace {
void OnInterrupt() { Interrupted().store(true); }
}  // namespace

namespace {

core::ActionStep g_holdAt;
std::string g_holdPath;

void HoldHere(core::ActionStep step) {
  if (step != g_holdAt || g_holdPath.empty()) return;
  const std::string path = std::exchange(g_holdPath, std::string());
  QFile(rules::FromNativePath(path + ".held")).open(QIODevice::WriteOnly);
  for (int i = 0; i < 6000 && !QFile::exists(rules::FromNativePath(path + ".go")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

void HoldForTests() {
  const QByteArray hold = qgetenv("VELOMI_TEST_HOLD");
  const qsizetype colon = hold.indexOf(':');
  if (colon <= 0) return;
  const QByteArray step = hold.left(colon);
  g_holdAt = step == "recorded" ? core::ActionStep::kRecorded
             : step == "file"   ? core::ActionStep::kFileWritten
                                : core::ActionStep::kWritten;
  g_holdPath = hold.mid(colon + 1).toStdString();
  core::onActionStep = HoldHere;
}

void CatchInterrupt() {
  Interrupted();  // made before the handler may touch it
  platform::OnInterrupt(OnInterrupt);
}

// ---- Arguments

namespace {
// A stand-in: a private-use character and the argument's index.
constexpr char16_t kStandIn = u'\uF8FF';
}  // namespace

Arguments::Arguments(int argc, char** argv) {
  bool positionalOnly = false;
  const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& bytes = arguments[i];
    raw_.push_back(bytes);
    const bool option = !positionalOnly && bytes.size() > 1 && bytes[0] == '-';
    if (bytes == "--") positionalOnly = true;
    if (rules::IsUtf8(bytes) || option) {
      list_ << (rules::IsUtf8(bytes) ? QString::fromStdString(bytes)
                                     : rules::FromNativePath(bytes));
    } else {
      list_ << QString(QChar(kStandIn)) + QString::number(static_cast<qulonglong>(i));
    }
  }
}

std::string Arguments::ToBytes(const QString& argument) const {
  if (argument.startsWith(QChar(kStandIn))) {
    bool ok = false;
    const int i = argument.mid(1).toInt(&ok);
    if (ok && i >= 0 && i < static_cast<int>(raw_.size())) return raw_[static_cast<size_t>(i)];
  }
  return argument.toStdString();
}

QString Arguments::ToText(const QString& argument) const {
  return rules::DisplayName(ToBytes(argument));
}

// ---- Paths

namespace {

// `suffix` in lower case.
bool EndsWithFoldAscii(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    const char c = name[name.size() - suffix.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) return false;
  }
  return true;
}

// A folder's identity, so that a folder reached again through a link is not listed twice.
using FolderId = std::pair<uint64_t, uint64_t>;

class Expander {
 public:
  explicit Expander(Files& files) : files_(files) {}

  // Each path given is walked on its own: the same folder given twice is listed twice.
  void NewWalk() { seen_.clear(); }

  void LeaveOut(const std::string& path, const QString& reason) {
    Failure(path, reason);
    files_.failures.push_back({path, reason, files_.paths.size()});
    files_.failed = true;
  }

  // Adds the folder's MP3 and WMA files and, when `deep`, its subfolders' files; gives the number
  // of files added. Without `deep`, `subfolders` receives the folder's subfolders.
  size_t AddFolder(const std::string& folder, bool deep, std::vector<std::string>* subfolders) {
    const platform::EntryInfo info = platform::StatPath(folder, true);
    if (!info.exists || !seen_.insert({info.device, info.inode}).second) return 0;
    platform::FolderEntries entries = platform::ListEntries(folder);
    size_t added = 0;
    for (const char* suffix : {".mp3", ".wma"}) {
      for (const std::string& name : entries.files) {
        if (!EndsWithFoldAscii(name, suffix)) continue;
        files_.paths.push_back(folder + name);
        ++added;
      }
    }
    if (!deep) {
      if (subfolders != nullptr) *subfolders = std::move(entries.folders);
      return added;
    }
    for (const std::string& name : entries.folders) {
      added += AddFolder(folder + name + '/', true, nullptr);
    }
    return added;
  }

  // True when one of the subfolders of `folder`, or one of theirs, holds an MP3 or WMA file.
  bool HoldAudio(const std::string& folder, const std::vector<std::string>& subfolders) {
    for (const std::string& name : subfolders) {
      const std::string sub = folder + name + '/';
      const platform::EntryInfo info = platform::StatPath(sub, true);
      if (!info.exists || !seen_.insert({info.device, info.inode}).second) continue;
      const platform::FolderEntries entries = platform::ListEntries(sub);
      for (const std::string& file : entries.files) {
        if (EndsWithFoldAscii(file, ".mp3") || EndsWithFoldAscii(file, ".wma")) return true;
      }
      if (HoldAudio(sub, entries.folders)) return true;
    }
    return false;
  }

 private:
  Files& files_;
  std::set<FolderId> seen_;
};

}  // namespace

Files Expand(const std::vector<std::string>& paths, bool recursive) {
  Files files;
  Expander expander(files);
  for (const std::string& given : paths) {
    const std::string path = platform::GenericPath(given);
    const platform::EntryInfo info = platform::StatPath(path, true);
    if (!info.exists) {
      expander.LeaveOut(path, Cli::tr("no such file or folder"));
      continue;
    }
    if (info.folder) {
      const std::string folder = path.back() == '/' ? path : path + '/';
      expander.NewWalk();
      std::vector<std::string> subfolders;
      if (expander.AddFolder(folder, recursive, &subfolders) == 0) {
        expander.LeaveOut(path, Cli::tr("the folder holds no MP3 or WMA files"));
      }
      if (!subfolders.empty() && expander.HoldAudio(folder, subfolders)) {
        Err(Cli::tr("velomi-tag: note: %1: its subfolders hold MP3 or WMA files; -r takes them in")
                .arg(Shown(path)) +
            QLatin1Char('\n'));
      }
      continue;
    }
    const QString key = rules::FormatKey(rules::DisplayName(path));
    if (key != rules::kMp3Key && key != rules::kWmaKey) {
      expander.LeaveOut(path, Cli::tr("not an MP3 or WMA file"));
      continue;
    }
    files.paths.push_back(path);
  }
  return files;
}

bool IsMp3Path(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  return path.size() - dot >= 4 && EndsWithFoldAscii(std::string_view(path).substr(dot, 4), ".mp3");
}

bool ReadPathList(const std::string& file, bool nul, std::vector<std::string>& paths,
                  QString& error) {
  const bool standardInput = file == "-";
  std::FILE* in = standardInput ? stdin : platform::OpenForReading(file);
  if (in == nullptr) {
    error = core::ReasonOf(errno);
    return false;
  }
  // Read as it comes, cut into names on the way, and bounded: an endless source (/dev/zero, a
  // pipe that never ends) is refused once it passes the bound, not held in memory.
  const char end = nul ? '\0' : '\n';
  const size_t before = paths.size();
  std::string name;
  int64_t total = 0;
  bool tooLong = false, tooMany = false;
  char buffer[65536];
  size_t n;
  const auto take = [&] {
    if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) paths.push_back(std::move(name));
    name.clear();
    tooMany = paths.size() - before > kMaxListPaths;
  };
  while (!tooLong && !tooMany && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    total += static_cast<int64_t>(n);
    tooLong = total > kMaxListBytes;
    for (size_t at = 0; at < n && !tooLong && !tooMany;) {
      const char* stop = static_cast<const char*>(std::memchr(buffer + at, end, n - at));
      const size_t to = stop != nullptr ? static_cast<size_t>(stop - buffer) : n;
      name.append(buffer + at, to - at);
      at = to + 1;
      if (stop != nullptr) take();
    }
  }
  const bool failed = !tooLong && !tooMany && std::ferror(in) != 0;
  const int err = errno;
  if (!standardInput) std::fclose(in);
  if (!tooLong && !tooMany) take();  // the last name, without an end of its own
  if (tooLong || tooMany) {
    paths.resize(before);
    error = tooLong ? Cli::tr("it is longer than %1 MiB").arg(kMaxListBytes >> 20)
                    : Cli::tr("it names more than %1 paths").arg(kMaxListPaths);
    return false;
  }
  if (failed) {
    error = core::ReasonOf(err);
    return false;
  }
  return true;
}

}  // namespace cli
