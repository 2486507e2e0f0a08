#include "platform/Folder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/windows/Win32.h"

namespace platform {
namespace {

HANDLE H(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Milliseconds after 1970 of a time in 100-nanosecond ticks after 1601.
int64_t Msecs(const LARGE_INTEGER& ticks) {
  constexpr int64_t kTicksBefore1970 = 116444736000000000LL;
  return (ticks.QuadPart - kTicksBefore1970) / 10000;
}

// `path` without the separators at its end, but for a root's own ("C:/"): a name opened as itself
// must not end in one.
std::string WithoutTrailingSeparator(std::string path) {
  const size_t root = RootLength(path);
  while (path.size() > std::max<size_t>(root, 1) && IsSeparator(path.back())) path.pop_back();
  return path;
}

// What the open file or folder `h` is; `owner` tells whether `h` may read its owner.
EntryInfo InfoOf(HANDLE h, bool owner) {
  EntryInfo info;
  BY_HANDLE_FILE_INFORMATION by;
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(h, &by) ||
      !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    errno = win::LastErrno();
    return info;
  }
  const bool directory = by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  info.exists = true;
  info.link = win::IsLink(h, by.dwFileAttributes);
  info.folder = directory && !info.link;
  info.regular = !directory && !info.link;
  info.ours = owner && win::OwnedByThisUser(h);
  info.size = static_cast<int64_t>((uint64_t{by.nFileSizeHigh} << 32) | by.nFileSizeLow);
  info.mode = directory ? 0755 : (by.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
  info.device = by.dwVolumeSerialNumber;
  info.inode = (uint64_t{by.nFileIndexHigh} << 32) | by.nFileIndexLow;
  info.changedSeconds = Msecs(basic.ChangeTime) / 1000;
  info.modifiedMsecs = Msecs(basic.LastWriteTime);
  info.accessedMsecs = Msecs(basic.LastAccessTime);
  return info;
}

// What `wide` names, the link itself at its end unless `follow`.
EntryInfo Look(const std::wstring& wide, bool follow) {
  const DWORD flags = follow ? FILE_FLAG_BACKUP_SEMANTICS : win::kNoFollow;
  // Its owner too where this user may read it; its attributes alone elsewhere.
  win::ScopedHandle h(win::OpenExisting(wide, FILE_READ_ATTRIBUTES | READ_CONTROL, flags));
  const bool owner = h.Valid();
  if (!owner && ::GetLastError() == ERROR_ACCESS_DENIED) {
    h.Reset(win::OpenExisting(wide, FILE_READ_ATTRIBUTES, flags));
  }
  if (!h.Valid()) {
    errno = win::LastErrno();
    return {};
  }
  return InfoOf(h.get(), owner);
}

// The renames and their steps, as 0 or an errno. Written through: the rename is on the disk when
// the call returns, where the file system can tell.
int Move(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : win::LastErrno();
}

// The system's path of `name` in the open folder; false (EINVAL) for a name that is no plain name.
bool Child(const std::string& final, const std::string& name, std::wstring& wide) {
  std::wstring folder, leaf;
  if (!IsPlainName(name) || !win::Widen(final, folder) || !win::Widen(name, leaf)) {
    errno = EINVAL;
    return false;
  }
  wide = folder + leaf;
  return true;
}

}  // namespace

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

size_t RootLength(std::string_view path) {
  // A drive: "C:/".
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      IsSeparator(path[2])) {
    return 3;
  }
  // A share: "//server/share/", neither name empty; not the system's own "//?/" and "//./".
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return 0;
  size_t at = 2;
  for (int part = 0; part < 2; ++part) {
    const size_t start = at;
    while (at < path.size() && !IsSeparator(path[at])) ++at;
    const std::string_view name = path.substr(start, at - start);
    if (name.empty() || (part == 0 && (name == "?" || name == "."))) return 0;
    if (at < path.size()) ++at;  // the separator after it
  }
  return at;
}

EntryInfo StatPath(const std::string& path, bool follow) {
  std::wstring wide;
  if (!win::WidePath(WithoutTrailingSeparator(path), wide)) return {};
  return Look(wide, follow);
}

std::string RealPath(const std::string& path) {
  std::wstring wide;
  if (!win::WidePath(path.empty() ? std::string(".") : path, wide)) return std::string();
  // No access asked for: the path is resolved whoever else has the file open.
  win::ScopedHandle h(win::OpenExisting(wide, 0, FILE_FLAG_BACKUP_SEMANTICS));
  if (!h.Valid()) {
    errno = win::LastErrno();
    return std::string();
  }
  std::wstring real;
  // wine cannot tell the final path of some files (long paths): the path made absolute instead.
  if (!win::FinalPath(h.get(), real) && !win::VerbatimPath(wide, real)) return std::string();
  return win::GenericPath(real);
}

void Folder::Close() {
  if (fd_ >= 0) ::CloseHandle(H(std::exchange(fd_, -1)));
}

bool Folder::Open(const std::string& path) {
  Close();
  const std::string at = path.empty() ? std::string(".") : path;
  std::wstring wide;
  if (!win::WidePath(WithoutTrailingSeparator(at), wide)) return Fail(errno);
  // Others may read and write in the folder, but neither rename, move nor delete it while it is
  // open: its final path keeps naming it. The folder itself, never what a link there points to.
  win::ScopedHandle h(::CreateFileW(
      wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, win::kNoFollow, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !::GetFileInformationByHandle(h.get(), &info)) return Fail(win::LastErrno());
  if (win::IsLink(h.get(), info.dwFileAttributes)) return Fail(ELOOP);
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ENOTDIR);
  std::wstring real;
  if (!win::FinalPath(h.get(), real) && !win::VerbatimPath(wide, real)) return Fail(errno);
  if (real.empty() || real.back() != L'\\') real += L'\\';
  fd_ = reinterpret_cast<NativeHandle>(h.Release());  // kept open by the folder from now on
  path_ = WithoutTrailingSeparator(at);               // a root ("C:/") keeps its own
  if (IsSeparator(path_.back())) path_.pop_back();
  path_ += '/';
  final_ = win::Narrow(real);
  return true;
}

EntryInfo Folder::Stat(const std::string& name) const {
  std::wstring wide;
  if (fd_ < 0 || !Child(final_, name, wide)) {
    error_ = fd_ < 0 ? EBADF : EINVAL;
    return {};
  }
  EntryInfo info = Look(wide, false);
  if (!info.exists) error_ = errno;
  return info;
}

bool Folder::Lists(const std::string& name) const {
  std::wstring pattern;
  if (fd_ < 0 || !win::Widen(final_ + "*", pattern)) return false;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    found = win::Narrow(entry.cFileName) == name;
  } while (!found && ::FindNextFileW(find, &entry));
  ::FindClose(find);
  return found;
}

bool Folder::OpenFile(const std::string& name, bool write, File& file) const {
  std::wstring wide;
  if (fd_ < 0) return Fail(EBADF);
  if (!Child(final_, name, wide)) return Fail(EINVAL);
  if (const int err = fault::AtStep(fault::Step::kOpening)) return Fail(err);
  const DWORD access = GENERIC_READ | (write ? GENERIC_WRITE : 0);
  win::ScopedHandle h(win::OpenExisting(wide, access, FILE_FLAG_OPEN_REPARSE_POINT));
  if (!h.Valid()) {
    const int err = win::LastErrno();
    return Fail(err == EACCES && Stat(name).folder ? EISDIR : err);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.get(), &info)) return Fail(win::LastErrno());
  if (win::IsLink(h.get(), info.dwFileAttributes)) return Fail(ELOOP);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A file that a filter of the system serves (a cloud file): opened again through it, and
    // taken only when that open reached the same file.
    win::ScopedHandle served(win::OpenExisting(wide, access));
    BY_HANDLE_FILE_INFORMATION again;
    if (!served.Valid() || !::GetFileInformationByHandle(served.get(), &again)) {
      return Fail(win::LastErrno());
    }
    if (again.dwVolumeSerialNumber != info.dwVolumeSerialNumber ||
        again.nFileIndexHigh != info.nFileIndexHigh || again.nFileIndexLow != info.nFileIndexLow) {
      return Fail(ESTALE);
    }
    h.Reset(served.Release());
  }
  // The file takes charge of the handle.
  if (!file.Adopt(reinterpret_cast<NativeHandle>(h.Release()), path_ + name)) {
    return Fail(file.error());
  }
  return true;
}

bool Folder::Rename(const std::string& from, const std::string& to,
                    const std::string& caseTemp) const {
  std::wstring wideFrom, wideTo;
  if (fd_ < 0) return Fail(EBADF);
  if (!Child(final_, from, wideFrom) || !Child(final_, to, wideTo)) return Fail(EINVAL);
  // Without MOVEFILE_REPLACE_EXISTING the system refuses a taken name in the same step as the
  // rename; a link at `from` is renamed itself.
  if (!internal::EqualFoldAscii(from, to)) {
    const int err = Move(wideFrom, wideTo);
    return err == 0 ? true : Fail(err);
  }
  // The names differ in letter case only, and name one file: through a free temporary name, back
  // to the old name when the second step is refused.
  if (!Stat(from).exists) return Fail(error_);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = !caseTemp.empty()
                                ? caseTemp
                                : ".velomi-rename-" + std::to_string(internal::ProcessId()) + "-" +
                                      std::to_string(attempt) + ".tmp";
    std::wstring wideTmp;
    if (!Child(final_, tmp, wideTmp)) return Fail(EINVAL);
    int err = Move(wideFrom, wideTmp);
    if (err == EEXIST && caseTemp.empty()) continue;
    if (err != 0) return Fail(err);
    err = fault::AtStep(fault::Step::kCaseTempNamed);
    if (err == 0) err = Move(wideTmp, wideTo);
    if (err == 0) return true;
    Move(wideTmp, wideFrom);
    return Fail(err);
  }
  return Fail(EEXIST);
}

bool Folder::Remove(const std::string& name) const {
  std::wstring wide;
  if (fd_ < 0) return Fail(EBADF);
  if (!Child(final_, name, wide)) return Fail(EINVAL);
  return ::DeleteFileW(wide.c_str()) ? true : Fail(win::LastErrno());
}

bool Folder::SetMode(File& file, unsigned mode) {
  if (!file.IsOpen()) return false;
  const HANDLE h = H(file.fd());
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return false;
  if (mode & 0200) {
    basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  } else {
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
  }
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // Times of zero stay as they are.
  basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
  basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
  return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
}

bool Folder::Sync() const {
  if (fd_ < 0) return Fail(EBADF);
  // Each rename was written through when it was made. Where the file system flushes a folder
  // (NTFS, to a user who may write in it) the folder's entries are flushed once more; where it
  // refuses to, there is nothing more to wait for. A failure to write is a failure.
  std::wstring wide;
  if (!win::Widen(final_, wide)) return Fail(EINVAL);
  win::ScopedHandle h(win::OpenExisting(wide, GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS));
  int result = 0;
  if (h.Valid() && !::FlushFileBuffers(h.get())) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && !win::Unsupported(error)) {
      errno = win::ErrnoOf(error);
      result = -1;
    }
  }
  if (const int err = fault::Flushed(result, path_)) return Fail(err);
  return true;
}

}  // namespace platform
