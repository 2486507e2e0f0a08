#include "platform/PrivateFiles.h"

#include <cerrno>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/windows/Win32.h"

namespace platform {
namespace {

HANDLE H(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Makes each missing folder of `wide` (the system's path, "\\?\" prefixed) up to the last one.
void MakeParents(const std::wstring& wide) {
  // Past the prefix and the volume ("\\?\C:\", "\\?\UNC\server\share\"): those are no folders.
  size_t from = wide.find(L'\\', 4);
  if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) from = wide.find(L'\\', wide.find(L'\\', 8) + 1);
  for (size_t at = wide.find(L'\\', from + 1); at != std::wstring::npos && at + 1 < wide.size();
       at = wide.find(L'\\', at + 1)) {
    ::CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
  }
}

// The system's path of `path`, always with the "\\?\" prefix, no separator at its end.
bool LongPath(const std::string& path, std::wstring& wide) {
  if (!win::WidePath(path, wide) || !win::VerbatimPath(wide, wide)) return false;
  while (wide.size() > 7 && IsSeparator(wide.back())) wide.pop_back();
  return true;
}

// Checks the private file `h` has just been opened on: 0, or the errno of its refusal.
int CheckPrivate(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK) return EINVAL;
  if (!::GetFileInformationByHandle(h, &info)) return win::LastErrno();
  if (win::IsLink(h, info.dwFileAttributes)) return ELOOP;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EINVAL;
  if (!win::OwnedByThisUser(h)) return EPERM;
  return 0;
}

// Opens the lock file `wide` for a lock, made when missing, never through a link.
HANDLE OpenLockFile(const std::wstring& wide, DWORD disposition, int& err) {
  HANDLE h =
      ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL | DELETE,
                    win::kShareAll, nullptr, disposition, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    err = win::LastErrno();
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  err = ::GetFileInformationByHandle(h, &info) ? 0 : win::LastErrno();
  if (err == 0 && win::IsLink(h, info.dwFileAttributes)) err = ELOOP;
  if (err != 0) {
    ::CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// The first byte of a lock file holds the lock. A lock beyond the end of a file is allowed, and
// the file stays empty.
bool LockByte(HANDLE h, DWORD flags) {
  OVERLAPPED at{};
  return ::LockFileEx(h, flags, 0, 1, 0, &at);
}

void UnlockByte(HANDLE h) {
  OVERLAPPED at{};
  ::UnlockFileEx(h, 0, 1, 0, &at);
}

// True when the open file `h` is still the one that `wide` names: not marked for deletion (a
// removed file that others still hold open keeps its name until they close it) and the file the
// name opens now.
bool StillNamed(HANDLE h, const std::wstring& wide) {
  FILE_STANDARD_INFO standard{};
  BY_HANDLE_FILE_INFORMATION held, named;
  if (!::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) ||
      standard.DeletePending || !::GetFileInformationByHandle(h, &held)) {
    return false;
  }
  win::ScopedHandle now(win::OpenExisting(wide, 0, FILE_FLAG_OPEN_REPARSE_POINT));
  return now.Valid() && ::GetFileInformationByHandle(now.get(), &named) &&
         named.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
         named.nFileIndexHigh == held.nFileIndexHigh && named.nFileIndexLow == held.nFileIndexLow;
}

}  // namespace

int EnsurePrivateFolder(const std::string& path) {
  std::wstring wide;
  if (!LongPath(path, wide)) return errno;
  MakeParents(wide);
  if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return win::LastErrno();
  }
  win::ScopedHandle h(win::OpenExisting(wide, FILE_READ_ATTRIBUTES | READ_CONTROL, win::kNoFollow));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !::GetFileInformationByHandle(h.get(), &info)) return win::LastErrno();
  if (win::IsLink(h.get(), info.dwFileAttributes)) return ELOOP;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
  if (!win::OwnedByThisUser(h.get())) return EPERM;
  return 0;
}

int OpenPrivateFile(const std::string& path, PrivateOpen how, File& file) {
  std::wstring wide;
  if (!win::WidePath(path, wide)) return errno;
  const bool read = how == PrivateOpen::kRead;
  // Truncating a record cut short needs writing; appends go to the end (File::Append).
  const DWORD access = READ_CONTROL | GENERIC_READ | (read ? 0 : GENERIC_WRITE);
  HANDLE h =
      ::CreateFileW(wide.c_str(), access, win::kShareAll, nullptr,
                    read ? OPEN_EXISTING : OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return EINVAL;
    }
    return win::ErrnoOf(error);
  }
  if (const int err = CheckPrivate(h)) {
    ::CloseHandle(h);
    return err;
  }
  return file.Adopt(reinterpret_cast<NativeHandle>(h), path) ? 0 : file.error();
}

int ReplacePrivateFile(const std::string& path, const std::string& bytes) {
  std::wstring wide, temp;
  if (!win::WidePath(path, wide) || !win::WidePath(path + ".new", temp)) return errno;
  ::DeleteFileW(temp.c_str());
  // Nobody else opens it while it is written, and until it is complete it goes with this process.
  HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win::LastErrno();
  File file;
  if (!file.Adopt(reinterpret_cast<NativeHandle>(h), path + ".new")) return file.error();
  const bool marked = win::MarkForDeletion(h, true);
  if (!file.WriteAt(0, bytes.data(), bytes.size()) || !file.Sync() ||
      (marked && !win::MarkForDeletion(h, false))) {
    const int err = file.error() != 0 ? file.error() : win::LastErrno();
    if (marked) win::MarkForDeletion(h, true);  // goes with the close
    file.Close();
    ::DeleteFileW(temp.c_str());
    return err;
  }
  // Over the old file in one step, on the disk when the call returns; readers that have the old
  // file open keep reading it (the rename by handle), or, where the system cannot rename over an
  // open file, the rename waits for the file to be closed.
  std::wstring target;
  if (!win::VerbatimPath(wide, target)) return errno;
  if (!fault::Refused(fault::Feature::kReplaceOpenFile) && win::RenameOverOpenFile(h, target)) {
    const bool synced = file.Sync();  // the rename's own record, as a written-through move
    file.Close();
    return synced ? 0 : file.error();
  }
  if (!file.Close()) {
    ::DeleteFileW(temp.c_str());
    return file.error();
  }
  if (!::MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int err = win::LastErrno();
    ::DeleteFileW(temp.c_str());
    return err;
  }
  return 0;
}

int RemoveFile(const std::string& path) {
  std::wstring wide;
  if (!win::WidePath(path, wide)) return errno;
  return ::DeleteFileW(wide.c_str()) ? 0 : win::LastErrno();
}

int FileLock::Lock(const std::string& path, bool wait) {
  Unlock();
  std::wstring wide;
  if (!win::WidePath(path, wide)) return errno;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int err = 0;
    HANDLE h = OpenLockFile(wide, OPEN_ALWAYS, err);
    if (h == INVALID_HANDLE_VALUE) return err;
    if (!LockByte(h, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY))) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(h);
      return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                        : win::ErrnoOf(error);
    }
    if (const int stepErr = fault::AtStep(fault::Step::kLocked)) {
      ::CloseHandle(h);
      return stepErr;
    }
    // The system releases the lock when the handle closes, and when the process ends, however it
    // ends.
    if (StillNamed(h, wide)) {
      fd_ = reinterpret_cast<NativeHandle>(h);
      return 0;
    }
    ::CloseHandle(h);  // removed while we waited: the lock must be on the file the name holds
  }
  return EAGAIN;
}

void FileLock::Unlock() {
  if (fd_ >= 0) ::CloseHandle(H(std::exchange(fd_, -1)));  // closing the handle releases the lock
}

bool FileLock::HeldByAnother(const std::string& path) {
  std::wstring wide;
  int err = 0;
  // Only a lock file that is gone tells that its holder is gone: a file that cannot be opened or
  // locked for another reason (no handle left, no permission) may be held by a live writer.
  if (!win::WidePath(path, wide)) return true;
  win::ScopedHandle h(OpenLockFile(wide, OPEN_EXISTING, err));
  if (!h.Valid()) return err != ENOENT;
  // A shared lock is refused while any other handle holds the exclusive one, this process's own
  // included.
  if (!LockByte(h.get(), LOCKFILE_FAIL_IMMEDIATELY)) return true;
  UnlockByte(h.get());
  return false;
}

bool FileLock::RemoveIfFree(const std::string& path) {
  std::wstring wide;
  int err = 0;
  if (!win::WidePath(path, wide)) return false;
  win::ScopedHandle h(OpenLockFile(wide, OPEN_EXISTING, err));
  if (!h.Valid() || !LockByte(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
    return false;
  }
  // Removed while locked: a process that opens it meanwhile finds it marked for deletion, and
  // makes a new one.
  return win::MarkForDeletion(h.get(), true);
}

}  // namespace platform
