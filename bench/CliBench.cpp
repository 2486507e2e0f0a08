// Item 8: velomi-tag show over a folder of many MP3 files, a whole run of the program (start-up,
// listing, reads, its text written to a file and read back), against the reads alone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "Items.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"

extern char** environ;

namespace bench {
namespace {

// Runs `argv` with its standard output written to `out`, and waits for it. Not a pipe: the
// program would stall each time the pipe is full until this process is scheduled to empty it,
// which on a busy machine measures the scheduler rather than the program.
void RunToFile(const std::vector<std::string>& argv, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) Die("cannot start " + argv[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(argv[0] + " failed");
}

}  // namespace

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
