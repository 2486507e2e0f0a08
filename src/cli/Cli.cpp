#include "Cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <utility>

#include "core/Apply.h"
#include "core/Rules.h"
#include "platform/FileSystem.h"

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

QString Shown(const std::string& path) { return rules::DisplayName(path); }

// ---- Progress

Progress::Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}

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
extern "C" void OnInterrupt(int) { Interrupted().store(true); }
}  // namespace

namespace {

core::ActionStep g_holdAt;
std::string g_holdPath;

void HoldHere(core::ActionStep step) {
  if (step != g_holdAt || g_holdPath.empty()) return;
  const std::string path = std::exchange(g_holdPath, std::string());
  QFile(QFile::decodeName((path + ".held").c_str())).open(QIODevice::WriteOnly);
  for (int i = 0; i < 6000 && !QFile::exists(QFile::decodeName((path + ".go").c_str())); ++i) {
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
  std::signal(SIGINT, OnInterrupt);
}

// ---- Arguments

namespace {
// A stand-in: a private-use character and the argument's index.
constexpr char16_t kStandIn = u'\uF8FF';
}  // namespace

Arguments::Arguments(int argc, char** argv) {
  bool positionalOnly = false;
  for (int i = 0; i < argc; ++i) {
    std::string bytes(argv[i]);
    raw_.push_back(bytes);
    const bool option = !positionalOnly && bytes.size() > 1 && bytes[0] == '-';
    if (bytes == "--") positionalOnly = true;
    if (rules::IsUtf8(bytes) || option) {
      list_ << (rules::IsUtf8(bytes) ? QString::fromStdString(bytes)
                                     : rules::FromNativePath(bytes));
    } else {
      list_ << QString(QChar(kStandIn)) + QString::number(i);
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

QString Arguments::ToText(const QString& argument) const { return Shown(ToBytes(argument)); }

// ---- Paths

namespace {
void LeaveOut(Files& files, const std::string& path, const QString& reason) {
  Failure(path, reason);
  files.failures.emplace_back(path, reason);
  files.failed = true;
}
}  // namespace

Files Expand(const std::vector<std::string>& paths) {
  Files files;
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      LeaveOut(files, path, Cli::tr("no such file or folder"));
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      const std::string folder = path.back() == '/' ? path : path + '/';
      size_t found = 0;
      for (const char* suffix : {".mp3", ".wma"}) {
        for (const std::string& name : platform::ListFolder(folder, suffix)) {
          files.paths.push_back(folder + name);
          ++found;
        }
      }
      if (found == 0) {
        LeaveOut(files, path, Cli::tr("the folder holds no MP3 or WMA files"));
      }
      continue;
    }
    const QString key = rules::FormatKey(Shown(path));
    if (key != rules::kMp3Key && key != rules::kWmaKey) {
      LeaveOut(files, path, Cli::tr("not an MP3 or WMA file"));
      continue;
    }
    files.paths.push_back(path);
  }
  return files;
}

}  // namespace cli
