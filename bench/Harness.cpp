#include "Harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

extern char** environ;

namespace bench {

bool verbose = false;

double Now() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Die(const std::string& message) { throw Failure(message); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Timings::Median(size_t side) const { return bench::Median(seconds[side]); }

double Timings::Ratio(size_t side, size_t base) const { return Median(side) / Median(base); }

double Timings::MinRatio(size_t side, size_t base) const {
  double r = 1e300;
  for (size_t i = 0; i < seconds[side].size(); ++i) {
    r = std::min(r, seconds[side][i] / seconds[base][i]);
  }
  return r;
}

double Timings::MaxRatio(size_t side, size_t base) const {
  double r = 0;
  for (size_t i = 0; i < seconds[side].size(); ++i) {
    r = std::max(r, seconds[side][i] / seconds[base][i]);
  }
  return r;
}

Slice PartOf(size_t count, size_t part, size_t parts) {
  return {count * part / parts, count * (part + 1) / parts};
}

Strings PartOf(const std::vector<std::string>& all, size_t part, size_t parts) {
  Slice s = PartOf(all.size(), part, parts);
  return {all.data() + s.begin, all.data() + s.end};
}

Timings Alternate(const std::vector<Side>& sides, int rounds, size_t parts) {
  Timings t;
  t.seconds.assign(sides.size(), std::vector<double>(static_cast<size_t>(rounds), 0.0));
  t.checksums.assign(sides.size(), 0);
  for (const Side& side : sides) {
    for (size_t p = 0; p < parts; ++p) {
      if (side.before) side.before();
      side.run(p);
      if (side.after) side.after();
    }
  }
  size_t turn = 0;
  for (size_t r = 0; r < static_cast<size_t>(rounds); ++r) {
    std::vector<uint64_t> sums(sides.size(), 0);
    for (size_t p = 0; p < parts; ++p, ++turn) {
      for (size_t k = 0; k < sides.size(); ++k) {
        size_t s = (turn + k) % sides.size();
        if (sides[s].before) sides[s].before();
        double start = Now();
        sums[s] += sides[s].run(p);
        t.seconds[s][r] += Now() - start;
        if (sides[s].after) sides[s].after();
      }
    }
    t.checksums = sums;
    if (verbose) {
      for (size_t s = 0; s < sides.size(); ++s) {
        std::fprintf(stderr, "round %zu  %10.6f s  %s\n", r, t.seconds[s][r],
                     sides[s].name.c_str());
      }
    }
  }
  return t;
}

TempDir::TempDir(const std::string& parent, const std::string& prefix) {
  std::string templ = parent + "/" + prefix + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) Die("cannot make a folder in " + parent);
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const void* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot create " + path + ": " + std::strerror(errno));
  auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      Die("cannot write " + path);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) Die("cannot close " + path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) Die("cannot copy " + from + " to " + to + ": " + ec.message());
}

void SyncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // a folder too
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

uint64_t Random::Next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 7;
  state_ ^= state_ << 17;
  return state_;
}

void Random::Fill(void* data, size_t size) {
  auto* p = static_cast<unsigned char*>(data);
  while (size >= 8) {
    uint64_t v = Next();
    std::memcpy(p, &v, 8);
    p += 8;
    size -= 8;
  }
  if (size > 0) {
    uint64_t v = Next();
    std::memcpy(p, &v, size);
  }
}

namespace {

int64_t StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, n, key) == 0) return std::atoll(line.c_str() + n);
  }
  return -1;
}

}  // namespace

int64_t ResidentKiB() { return StatusKiB("VmRSS:"); }
int64_t PeakResidentKiB() { return StatusKiB("VmHWM:"); }

std::string RunChild(const std::vector<std::string>& argv) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) Die("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int err = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipefd[1]);
  if (err != 0) {
    ::close(pipefd[0]);
    Die("cannot start " + argv[0] + ": " + std::strerror(err));
  }
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(pipefd[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(argv[0] + " failed");
  return out;
}

std::string CountOf(size_t n, const char* what) {
  std::string digits = std::to_string(n);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits + " " + what;
}

std::string PerFile(double seconds, size_t files) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f us/file", seconds * 1e6 / static_cast<double>(files));
  return buf;
}

std::string Seconds(double seconds) {
  char buf[64];
  if (seconds >= 1) {
    std::snprintf(buf, sizeof buf, "%.2f s", seconds);
  } else {
    std::snprintf(buf, sizeof buf, "%.3g ms", seconds * 1e3);
  }
  return buf;
}

std::string Ratio(double ratio) {
  char buf[64];
  std::snprintf(buf, sizeof buf, ratio < 0.1 ? "%.3fx" : ratio < 100 ? "%.2fx" : "%.0fx", ratio);
  return buf;
}

std::string RatioRange(const Timings& t, size_t side, size_t base) {
  return Ratio(t.Ratio(side, base)) + " (" + Ratio(t.MinRatio(side, base)) + "-" +
         Ratio(t.MaxRatio(side, base)) + ")";
}

std::string KiB(int64_t kib) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(kib) / 1024.0);
  return buf;
}

std::string Verdict(double value, double limit) { return value <= limit ? "met" : "MISSED"; }

void Table::Print() const {
  const Row header{"item", "ours",   "compared with", "baseline", "ours/baseline (range)",
                   "goal", "verdict"};
  std::vector<Row> all{header};
  all.insert(all.end(), rows_.begin(), rows_.end());
  auto cells = [](const Row& r) {
    return std::vector<const std::string*>{&r.item,  &r.ours, &r.baseline, &r.base,
                                           &r.ratio, &r.goal, &r.verdict};
  };
  std::vector<size_t> width(7, 0);
  for (const auto& r : all) {
    auto c = cells(r);
    for (size_t i = 0; i < c.size(); ++i) width[i] = std::max(width[i], c[i]->size());
  }
  auto line = [&](const Row& r) {
    auto c = cells(r);
    std::string out = "|";
    for (size_t i = 0; i < c.size(); ++i) {
      out += " " + *c[i] + std::string(width[i] - c[i]->size(), ' ') + " |";
    }
    std::cout << out << "\n";
  };
  line(header);
  std::string rule = "|";
  for (size_t w : width) rule += std::string(w + 2, '-') + "|";
  std::cout << rule << "\n";
  for (const auto& r : rows_) line(r);
  for (const auto& n : notes_) std::cout << "\n" << n;
  if (!notes_.empty()) std::cout << "\n";
  std::cout.flush();
}

}  // namespace bench
