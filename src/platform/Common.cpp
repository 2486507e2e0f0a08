// The parts of the platform that are the same on every system: portable names, the rename within
// a folder built on RenameNoReplace, the names of our temporary files, and the moves of open files
// and folders.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/Internal.h"
#include "platform/ReplacementFile.h"

namespace platform {
namespace internal {
namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string HostTag() {
  const std::string host = HostName();
  std::string tag;
  for (size_t i = 0; i < host.size() && tag.size() < 64; ++i) {
    const auto c = static_cast<unsigned char>(host[i]);
    tag += c < 0x80 && std::isalnum(c) ? static_cast<char>(c) : '_';
  }
  return tag.empty() ? "host" : tag;
}

namespace {

constexpr std::string_view kTempPrefix = ".velomi-";

}  // namespace

bool ParseNumber(std::string_view text, long long& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool LessFoldAscii(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names that differ in case only: a fixed order all the same
}

void SortFoldAscii(std::vector<std::string>& names) {
  // Folded names compare as LessFoldAscii's loop and length do, and names equal once folded by
  // their bytes.
  std::vector<std::string> folded(names);
  for (std::string& name : folded) {
    for (char& c : name) c = FoldAscii(c);
  }
  std::vector<uint32_t> order(names.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const int c = folded[a].compare(folded[b]);
    return c != 0 ? c < 0 : names[a] < names[b];
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (uint32_t i : order) sorted.push_back(std::move(names[i]));
  names = std::move(sorted);
}

TempOwner Self() {
  static std::mutex mutex;
  static TempOwner self{"", -1, -1};
  std::lock_guard<std::mutex> lock(mutex);
  const long long pid = ProcessId();
  if (self.pid != pid) {
    const long long start = ProcessStart(pid);
    self = TempOwner{HostTag(), pid, start >= 0 ? start : -1};
  }
  return self;
}

std::string TempName(const TempOwner& owner, const std::string& suffix) {
  return std::string(kTempPrefix) + owner.host + "-" + std::to_string(owner.pid) + "-" +
         std::to_string(owner.start < 0 ? 0 : owner.start) + "-" + suffix;
}

bool ParseTempName(std::string_view name, TempOwner& owner) {
  if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
  name.remove_prefix(kTempPrefix.size());
  std::string_view parts[4];
  for (int i = 0; i < 3; ++i) {
    size_t dash = name.find('-');
    if (dash == std::string_view::npos) return false;
    parts[i] = name.substr(0, dash);
    name.remove_prefix(dash + 1);
  }
  parts[3] = name;
  if (parts[0].empty() || parts[3].empty() || parts[3].find('-') != std::string_view::npos) {
    return false;
  }
  owner.host = std::string(parts[0]);
  return ParseNumber(parts[1], owner.pid) && ParseNumber(parts[2], owner.start);
}

bool IsLeftover(std::string_view name) {
  const TempOwner self = Self();
  if (self.start < 0) return false;
  TempOwner owner;
  if (!ParseTempName(name, owner) || owner.host != self.host) return false;
  if (owner.start == 0) return false;  // its process could not tell its start: never take it
  const long long now = ProcessStart(owner.pid);
  return now != owner.start && now != kProcessUnknown;  // else still at work, or not to be known
}

bool FirstSaveIn(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  static long long sweptBy = -1;
  std::lock_guard<std::mutex> lock(mutex);
  if (sweptBy != ProcessId()) {  // a child made by fork looks again for itself
    swept.clear();
    sweptBy = ProcessId();
  }
  return swept.insert(folder).second;
}

}  // namespace internal

bool EqualFoldAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (internal::FoldAscii(a[i]) != internal::FoldAscii(b[i])) return false;
  }
  return true;
}

bool EndsWithFoldAscii(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         EqualFoldAscii(name.substr(name.size() - suffix.size()), suffix);
}

int64_t ShareableBlock(int64_t preferred) {
  const bool power = preferred > 0 && (preferred & (preferred - 1)) == 0;
  return power && preferred >= 4096 && preferred <= 65536 ? preferred : 4096;
}

bool IsPortableFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32) return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      error_(other.error_),
      sizeAtOpen_(other.sizeAtOpen_),
      blockSizeAtOpen_(other.blockSizeAtOpen_),
      modeAtOpen_(other.modeAtOpen_),
      linksAtOpen_(other.linksAtOpen_),
      deviceAtOpen_(other.deviceAtOpen_),
      inodeAtOpen_(other.inodeAtOpen_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    error_ = other.error_;
    sizeAtOpen_ = other.sizeAtOpen_;
    blockSizeAtOpen_ = other.blockSizeAtOpen_;
    modeAtOpen_ = other.modeAtOpen_;
    linksAtOpen_ = other.linksAtOpen_;
    deviceAtOpen_ = other.deviceAtOpen_;
    inodeAtOpen_ = other.inodeAtOpen_;
  }
  return *this;
}

bool File::Fail(int err) const {
  error_ = err;
  errno = err;  // callers above the tag objects learn the reason from errno
  return false;
}

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      final_(std::move(other.final_)),
      error_(other.error_) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    final_ = std::move(other.final_);
    error_ = other.error_;
  }
  return *this;
}

bool Folder::Fail(int err) const {
  error_ = err;
  errno = err;
  return false;
}

}  // namespace platform
