#include "platform/ReplacementFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <random>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/windows/Win32.h"

namespace platform {
namespace {

HANDLE H(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The attributes a replacement takes over from the file it replaces; the others (read-only,
// compressed, sparse ...) are the system's or refused before.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// True when the file at `wide` is a regular file (not a folder, not a link) of this user, or of
// nobody on a file system that keeps no owners (FAT).
bool IsOwnRegularFile(const std::wstring& wide) {
  win::ScopedHandle h(win::OpenExisting(wide, READ_CONTROL | FILE_READ_ATTRIBUTES, win::kNoFollow));
  BY_HANDLE_FILE_INFORMATION info;
  return h.Valid() && ::GetFileInformationByHandle(h.get(), &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
         win::OwnedByThisUser(h.get());
}

// Removes from `folder` the temporary files that a process of this machine left when it was
// killed: regular files of this user, named as ours, whose process is gone (or whose process id
// now belongs to a process that started at another time). Nothing else is touched.
void RemoveOrphans(const std::string& folder) {
  std::wstring pattern;
  if (!win::WidePath(folder + "*", pattern)) return;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = win::Narrow(entry.cFileName);
    std::wstring wide;
    if (!internal::IsLeftover(name) || !win::WidePath(folder + name, wide)) continue;
    if (IsOwnRegularFile(wide)) ::DeleteFileW(wide.c_str());
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
}

// A suffix for a temporary file's name that another save of this process does not take.
std::string UniqueSuffix() {
  static std::atomic<unsigned> serial{0};
  static const unsigned seed = std::random_device{}();
  return "w" + std::to_string(seed % 100000) + "x" + std::to_string(serial++);
}

}  // namespace

void RemoveLeftoversIn(const std::string& folder) {
  if (internal::FirstSaveIn(folder)) RemoveOrphans(folder);
}

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Fail(int err) {
  error_ = err;
  Abandon();
  errno = err;
  return false;
}

bool ReplacementFile::Begin(const std::string& path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  std::wstring wide;
  if (!win::WidePath(path, wide)) return Fail(errno);
  // The file itself, links followed, and its full name.
  win::ScopedHandle h(win::OpenExisting(wide, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !::GetFileInformationByHandle(h.get(), &info)) return Fail(win::LastErrno());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(EISDIR);
  // The path of the file itself when `path` is a link (wine gives none for a long path: there the
  // path as given, made absolute).
  std::vector<wchar_t> buffer(32768);  // the longest path there is
  const DWORD n =
      ::GetFinalPathNameByHandleW(h.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  std::wstring real;
  if (n > 0 && n < buffer.size()) {
    real.assign(buffer.data(), n);
  } else if (!win::VerbatimPath(wide, real)) {
    return Fail(errno);
  }
  h.Reset();
  target_ = win::Narrow(real);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return Fail(EACCES);
  if (info.nNumberOfLinks > 1) return Fail(EMLINK);
  // The user must be allowed to write and to delete the file, and whoever has it open must
  // share both; else the rename at the end would be refused after all the copying.
  win::ScopedHandle probe(win::OpenExisting(real, GENERIC_WRITE | DELETE));
  if (!probe.Valid()) return Fail(win::LastErrno());
  probe.Reset();
  mode_ = info.dwFileAttributes;
  created_ = static_cast<int64_t>((uint64_t{info.ftCreationTime.dwHighDateTime} << 32) |
                                  info.ftCreationTime.dwLowDateTime);

  const std::string folder = win::FolderOf(target_);
  if (internal::FirstSaveIn(folder)) RemoveOrphans(folder);
  return CreateTemp(folder);
}

bool ReplacementFile::CreateTemp(const std::string& folder) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = folder + internal::TempName(internal::Self(), UniqueSuffix());
    std::wstring wide;
    if (!win::WidePath(name, wide)) return Fail(errno);
    // Nobody else opens it while it is being written.
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return Fail(win::LastErrno());
    }
    tempPath_ = name;
    if (!temp_.Adopt(reinterpret_cast<NativeHandle>(h))) return Fail(temp_.error());
    // Until it is complete, the file goes with this process even when the process is killed.
    unnamed_ = !fault::Refused(fault::Feature::kUnnamedTemp) && win::MarkForDeletion(h, true);
    return true;
  }
  return Fail(EEXIST);
}

bool ReplacementFile::Write(const void* data, size_t count) {
  if (!temp_.IsOpen()) return Fail(EBADF);
  if (!temp_.WriteAt(written_, data, count)) return Fail(temp_.error());
  written_ += static_cast<int64_t>(count);
  return true;
}

bool ReplacementFile::CopyFrom(const File& source, int64_t offset, int64_t count) {
  if (!temp_.IsOpen()) return Fail(EBADF);
  if (offset < 0 || count < 0) return Fail(EINVAL);
  std::vector<unsigned char> buffer;
  while (count > 0) {
    if (buffer.empty()) buffer.resize(size_t{1} << 20);
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, int64_t(buffer.size())));
    if (!source.ReadAt(offset, buffer.data(), chunk)) return Fail(source.error());
    if (!Write(buffer.data(), chunk)) return false;
    offset += static_cast<int64_t>(chunk);
    count -= static_cast<int64_t>(chunk);
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!temp_.IsOpen()) return Fail(EBADF);
  HANDLE h = H(temp_.fd());
  FILE_BASIC_INFO basic{};
  basic.CreationTime.QuadPart = created_;
  basic.FileAttributes = mode_ & kKeptAttributes;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  int err = fault::TakeChmod();
  if (err == 0 && !::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic)) {
    err = win::LastErrno();
  }
  if (err != 0 && err != ENOSYS && err != EOPNOTSUPP) return Fail(err);
  if (!temp_.Sync()) return Fail(temp_.error());
  if (unnamed_ && !win::MarkForDeletion(h, false)) return Fail(win::LastErrno());
  unnamed_ = false;

  std::wstring target;
  if (!win::Widen(target_, target)) return Fail(EINVAL);
  if (!fault::Refused(fault::Feature::kReplaceOpenFile)) {
    if (win::RenameOverOpenFile(h, target)) {
      temp_.Sync();  // the rename's own record, as a write-through move would
      temp_.Close();
      tempPath_.clear();
      return true;
    }
    const DWORD error = ::GetLastError();
    if (!win::Unsupported(error)) return Fail(win::ErrnoOf(error));
  }
  // This system or file system renames over closed files only.
  if (!temp_.Close()) return Fail(temp_.error());
  std::wstring temp;
  if (!win::Widen(tempPath_, temp)) return Fail(EINVAL);
  if (!::MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(win::LastErrno());
  }
  tempPath_.clear();
  return true;
}

// The rename is written through to the disk (MOVEFILE_WRITE_THROUGH) or fails: nothing is left
// unconfirmed.
int TakeUnconfirmedReplacement() { return 0; }

void ReplacementFile::Abandon() {
  temp_.Close();  // a file still marked for deletion goes with its handle
  unnamed_ = false;
  if (!tempPath_.empty()) {
    std::wstring wide;
    if (win::WidePath(tempPath_, wide)) ::DeleteFileW(wide.c_str());
    tempPath_.clear();
  }
}

}  // namespace platform
