// A small benchmark harness: sides of one comparison run in turns in the same process, each side
// several times, and the results are medians and ratios of medians, printed as one table.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Seconds on the monotonic clock.
double Now();

// Stops the run with a message; a benchmark that cannot set itself up measures nothing. Raises
// Failure, so that the temporary folders are removed on the way out.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void Die(const std::string& message);

// One side of a comparison. The work of one run is cut into parts (a slice of the corpus each);
// `run(part)` does one part and gives a checksum of what it found (so that nothing can be
// optimised away, and so that sides can be checked against each other). `after`, when set, runs
// untimed after each part: tidying that must not be charged to the next side, such as flushing
// the dirty pages that a side left behind. `before`, when set, runs untimed before each part.
struct Side {
  Side(std::string name_, std::function<uint64_t(size_t)> run_, std::function<void()> after_ = {},
       std::function<void()> before_ = {})
      : name(std::move(name_)),
        run(std::move(run_)),
        after(std::move(after_)),
        before(std::move(before_)) {}

  std::string name;
  std::function<uint64_t(size_t part)> run;
  std::function<void()> after;
  std::function<void()> before;
};

// The slice [begin, end) of `count` items that part `part` of `parts` covers.
struct Slice {
  size_t begin, end;
};
Slice PartOf(size_t count, size_t part, size_t parts);

// The part of a list of strings (paths, names) that one part covers, without copying them.
struct Strings {
  const std::string* first;
  const std::string* last;
  const std::string* begin() const { return first; }
  const std::string* end() const { return last; }
};
Strings PartOf(const std::vector<std::string>& all, size_t part, size_t parts);

// The times of every run of every side, in seconds, and the checksum of each side's last run (the
// sum of its parts' checksums).
struct Timings {
  std::vector<std::vector<double>> seconds;  // [side][round]
  std::vector<uint64_t> checksums;           // [side]

  double Median(size_t side) const;
  // The ratio of the medians of two sides, and the smallest and largest ratio of two runs of the
  // same round.
  double Ratio(size_t side, size_t base) const;
  double MinRatio(size_t side, size_t base) const;
  double MaxRatio(size_t side, size_t base) const;
};

// Runs every side once untimed (it warms the page cache, the folder caches and the code), then
// `rounds` rounds in which every side runs once. Inside a round the sides take turns part by
// part, so that a slow spell of the machine falls on every side alike; the side that starts a
// turn moves on by one each time, so that no side always follows the same other side. A run's time
// is the sum of its parts' times.
Timings Alternate(const std::vector<Side>& sides, int rounds, size_t parts = 1);

// When set, Alternate prints every run's time to the standard error.
extern bool verbose;

double Median(std::vector<double> values);

// A fresh folder under `parent`, removed with everything in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& parent, const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes a whole file, creating or emptying it; stops the run on failure.
void WriteFile(const std::string& path, const void* data, size_t size);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);
// Flushes one file's data (or one folder's entries) to the disk.
void SyncFile(const std::string& path);

// A fixed pseudo-random byte stream (xorshift), so that every run builds the same corpus.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next();
  void Fill(void* data, size_t size);

 private:
  uint64_t state_;
};

// The current and the peak resident memory of this process, in KiB (VmRSS and VmHWM).
int64_t ResidentKiB();
int64_t PeakResidentKiB();

// Runs a program as a child process and waits for it; gives its standard output. Stops the run
// when it cannot be started or does not exit with 0.
std::string RunChild(const std::vector<std::string>& argv);

// Formatting of the table's cells.
std::string CountOf(size_t n, const char* what);    // "10,000 files"
std::string PerFile(double seconds, size_t files);  // "3.12 us/file"
std::string Seconds(double seconds);                // "1.52 s", "512 ms", "0.35 ms"
std::string Ratio(double ratio);                    // "1.08x"
std::string RatioRange(const Timings& t, size_t side, size_t base);  // "1.08x (1.02-1.15)"
std::string KiB(int64_t kib);                                        // "5.3 MiB"

// The one table the suite prints: one row per comparison.
class Table {
 public:
  struct Row {
    std::string item;      // "1 MP3 read, 10,000 files"
    std::string ours;      // our side's median
    std::string baseline;  // what it is compared with
    std::string base;      // the baseline's median
    std::string ratio;     // ours / baseline
    std::string goal;      // "<= 1.3x", or empty
    std::string verdict;   // "met", "MISSED", or empty
  };
  void Add(Row row) { rows_.push_back(std::move(row)); }
  void Note(std::string note) { notes_.push_back(std::move(note)); }
  void Print() const;

 private:
  std::vector<Row> rows_;
  std::vector<std::string> notes_;
};

// "met" or "MISSED", for a value that must not exceed its limit.
std::string Verdict(double value, double limit);

}  // namespace bench
