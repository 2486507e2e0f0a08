// Item 8: velomi-tag show over a folder of many MP3 files, a whole run of the program (start-up,
// listing, reads, its text written to a file and read back), against the reads alone.
// Item 13: velomi-tag show of one file with a large journal, against the same with none.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <cstring>

#include "Items.h"
#include "core/journal/Journal.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"

extern char** environ;

namespace bench {
namespace {

// Runs `argv` with its standard output written to `out`, and waits for it. Not a pipe: the
// program would stall each time the pipe is full until this process is scheduled to empty it,
// which on a busy machine measures the scheduler rather than the program.
// `env`: the environment, NAME=VALUE each; empty for this process's own.
void RunToFile(const std::vector<std::string>& argv, const std::string& out,
               const std::vector<std::string>& env = {}) {
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(),
                                env.empty() ? environ : envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) Die("cannot start " + argv[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(argv[0] + " failed");
}

// This process's environment with XDG_STATE_HOME set to `state`.
std::vector<std::string> WithState(const std::string& state) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "XDG_STATE_HOME=", 15) != 0) env.emplace_back(*e);
  }
  env.push_back("XDG_STATE_HOME=" + state);
  return env;
}

// Fills the journal in `folder` with finished batch edits of `files` MP3 files each, about
// `bytes` bytes in all, written through the journal itself: each record with its entries' names,
// sizes, kinds and states, and each file's old and new ID3v2 tag (3,000 bytes, in base64) with
// its digest and size, as a batch edit of files with ID3v2 tags records them.
void FillJournal(const std::string& folder, int64_t bytes, int files) {
  core::Journal journal(QString::fromStdString(folder));
  Random random(13);
  std::string raw(3000, '\0');
  for (int64_t written = 0; written < bytes;) {
    QJsonArray folderOf, sizes, tags, digests, tagSizes;
    QByteArray names;
    for (int i = 0; i < files; ++i) {
      folderOf.append(0);
      sizes.append(4298 + i);
      names += "track-" + QByteArray::number(i) + ".mp3" + '\0';
      random.Fill(raw.data(), raw.size());
      const QByteArray tag = QByteArray(raw.data(), static_cast<qsizetype>(raw.size()));
      tags.append(QString::fromLatin1(tag.toBase64()));
      digests.append(QString::fromLatin1(tag.left(32).toBase64()));
      tagSizes.append(static_cast<int>(raw.size()));
      written += 2 * 4000 + 60;
    }
    const QJsonObject begin{{"kind", "edit"},
                            {"n", files},
                            {"dl", QJsonArray{"/music"}},
                            {"di", folderOf},
                            {"p", QString::fromLatin1(names.toBase64())},
                            {"s", sizes},
                            {"k", QString(files, QLatin1Char('m'))},
                            {"st", QString(files, QLatin1Char('v'))},
                            {"vo", tags},
                            {"vn", tags},
                            {"vg", digests},
                            {"vz", tagSizes}};
    const std::optional<QString> id = journal.Begin(begin);
    if (!id || !journal.Finish(*id, QJsonObject{{"r", QString(files, QLatin1Char('1'))}})) {
      Die("item 13: cannot write the journal: " + journal.TakeMessage().toStdString());
    }
  }
}

}  // namespace

void BenchCliJournal(const Config& config, Table& table, const std::string& program) {
  TempDir dir(config.tmp, "velomi-bench-cli-journal");
  const std::vector<std::string> paths = MakeMp3Corpus(dir, 1);
  const TempDir full(config.tmp, "velomi-bench-state-full");
  const TempDir none(config.tmp, "velomi-bench-state-none");
  const int64_t bytes = config.mp3Files < 10000 ? int64_t{4} << 20 : int64_t{40} << 20;
  FillJournal(full.path() + "/velomi", bytes, 128);
  const int64_t size = static_cast<int64_t>(ReadFile(full.path() + "/velomi/journal.jsonl").size());
  const TempDir outDir(config.tmp, "velomi-bench-cli-out");
  const std::string shownFile = outDir.File("shown.txt");
  auto show = [&](const TempDir& state) {
    return [&, env = WithState(state.path())](size_t) -> uint64_t {
      RunToFile({program, "show", paths[0]}, shownFile, env);
      return ReadFile(shownFile).find("  Format: MP3\n") != std::string::npos;
    };
  };
  const std::string mib = std::to_string((size + (1 << 19)) >> 20) + " MiB";
  std::vector<Side> sides = {{"velomi-tag show FILE, " + mib + " journal", show(full), {}},
                             {"velomi-tag show FILE, no journal", show(none), {}}};
  Timings t = Alternate(sides, config.rounds);
  for (uint64_t c : t.checksums) {
    if (c != 1) Die("item 13: velomi-tag did not show the file");
  }
  table.Add({"13 show of one file, " + mib + " journal", Seconds(t.Median(0)), sides[1].name,
             Seconds(t.Median(1)), RatioRange(t, 0, 1), "<= 1.2x", Verdict(t.Ratio(0, 1), 1.2)});
}

void BenchCli(const Config& config, Table& table, const std::string& program) {
  TempDir dir(config.tmp, "velomi-bench-cli");
  const std::vector<std::string> paths = MakeMp3Corpus(dir, config.mp3Files);
  const size_t n = paths.size();
  const TempDir outDir(config.tmp, "velomi-bench-cli-out");
  const std::string shownFile = outDir.File("shown.txt");
  TIDmp3 tag;
  std::vector<Side> sides = {
      {"velomi-tag show FOLDER > FILE",
       [&](size_t) {
         RunToFile({program, "show", dir.path()}, shownFile);
         const std::string out = ReadFile(shownFile);
         uint64_t shown = 0;
         for (size_t at = out.find("  Format: MP3\n"); at != std::string::npos;
              at = out.find("  Format: MP3\n", at + 1)) {
           ++shown;
         }
         return shown;
       },
       {}},
      {"reads alone: TIDmp3::ReadFromFile each file",
       [&](size_t) {
         uint64_t found = 0;
         for (const auto& p : paths) found += tag.ReadFromFile(p);
         return found;
       },
       {}},
      {"listing + reads alone",
       [&](size_t) {
         uint64_t found = 0;
         for (const auto& name : platform::ListFolder(dir.path(), ".mp3")) {
           found += tag.ReadFromFile(dir.File(name));
         }
         return found;
       },
       {}},
  };
  // One part per run: the program is started once for the whole folder.
  Timings t = Alternate(sides, config.rounds);
  for (uint64_t c : t.checksums) {
    if (c != n) Die("item 8: velomi-tag did not show every file");
  }
  table.Add({"8 velomi-tag show, " + CountOf(n, "files"), PerFile(t.Median(0), n), sides[1].name,
             PerFile(t.Median(1), n), RatioRange(t, 0, 1), "<= 2x", Verdict(t.Ratio(0, 1), 2.0)});
  table.Add({"", "", sides[2].name, PerFile(t.Median(2), n), RatioRange(t, 0, 2), "", ""});
}

}  // namespace bench
