#include "platform/FileSystem.h"

#include <shlobj.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/windows/Win32.h"

namespace platform {

namespace internal {

long long ProcessId() { return ::GetCurrentProcessId(); }

// The moment the process was created, in 100-nanosecond ticks since 1601.
long long ProcessStart(long long pid) {
  win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.Valid()) {
    // No process has this id; any other refusal (another user's process) tells nothing.
    return ::GetLastError() == ERROR_INVALID_PARAMETER ? kProcessGone : kProcessUnknown;
  }
  DWORD exitCode = 0;
  if (::GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE) {
    return kProcessGone;  // ended, and only kept for a handle someone still holds
  }
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return kProcessUnknown;
  return static_cast<long long>((uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime);
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return std::string();
  return win::Narrow(std::wstring_view(name, size));
}

}  // namespace internal

namespace {

// Fails with `err` left in errno.
bool FailWith(int err) {
  errno = err;
  return false;
}

// What the file or folder at `wide` is, links followed; false when there is nothing there.
bool Inspect(const std::wstring& wide, BY_HANDLE_FILE_INFORMATION& info) {
  // No access asked for: only the attributes are read, whoever else has the file open.
  win::ScopedHandle h(win::OpenExisting(wide, 0, FILE_FLAG_BACKUP_SEMANTICS));
  return h.Valid() && ::GetFileInformationByHandle(h.get(), &info);
}

}  // namespace

bool FileExists(const std::string& path) {
  std::wstring wide;
  BY_HANDLE_FILE_INFORMATION info;
  return win::WidePath(path, wide) && Inspect(wide, info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string GenericPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::FILE* OpenForReading(const std::string& path) {
  std::wstring wide;
  return win::WidePath(path, wide) ? ::_wfopen(wide.c_str(), L"rb") : nullptr;
}

bool MayWrite(const std::string& path) {
  std::wstring wide;
  if (!win::WidePath(path, wide)) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

void ClearReadOnly(const std::string& path) {
  std::wstring wide;
  if (!win::WidePath(path, wide)) return;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return;
  }
  const DWORD cleared = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
  ::SetFileAttributesW(wide.c_str(), cleared == 0 ? FILE_ATTRIBUTE_NORMAL : cleared);
}

std::vector<std::string> ListFolder(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> names;
  std::string pattern = folder.empty() ? std::string(".") : folder;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  std::wstring wide;
  if (!win::WidePath(pattern, wide)) return names;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // folders and their links
    std::string name = win::Narrow(entry.cFileName);
    if (internal::EndsWithFoldAscii(name, suffix)) names.push_back(std::move(name));
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  std::sort(names.begin(), names.end(), internal::LessFoldAscii);
  return names;
}

FolderEntries ListEntries(const std::string& folder) {
  FolderEntries entries;
  std::string pattern = folder.empty() ? std::string(".") : folder;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  std::wstring wide;
  if (!win::WidePath(pattern, wide)) return entries;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    std::string name = win::Narrow(entry.cFileName);
    if (name == "." || name == "..") continue;
    // A link to a folder (a junction too) has the folder's attribute: it counts as a folder.
    const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    (isFolder ? entries.folders : entries.files).push_back(std::move(name));
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  internal::SortFoldAscii(entries.files);
  internal::SortFoldAscii(entries.folders);
  return entries;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  std::wstring wideFrom, wideTo;
  if (!win::WidePath(from, wideFrom) || !win::WidePath(to, wideTo)) return false;
  // Without MOVEFILE_REPLACE_EXISTING the system refuses a taken name in the same step as the
  // rename, and without MOVEFILE_COPY_ALLOWED it never copies to another volume.
  if (!::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), 0)) return FailWith(win::LastErrno());
  return true;
}

bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
  // Flushing a whole volume needs an administrator; each file is flushed on its own instead. A
  // file that can no longer be opened cannot be known to be on the disk: that is a failure.
  int err = 0;
  for (const std::string& path : paths) {
    std::wstring wide;
    if (!win::WidePath(path, wide)) {
      err = errno;
      continue;
    }
    win::ScopedHandle h(win::OpenExisting(wide, GENERIC_WRITE));
    if (!h.Valid()) {
      err = win::LastErrno();
    } else {
      const bool flushed = ::FlushFileBuffers(h.get());
      if (!flushed) errno = win::LastErrno();
      if (int failed = fault::Flushed(flushed ? 0 : -1, path)) err = failed;
    }
  }
  if (err != 0) return FailWith(err);
  return true;
}

std::string StateFolder() {
  std::string base;
  if (const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA"); local != nullptr && local[0] != 0) {
    base = win::Narrow(local);
  } else {
    wchar_t* known = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK) {
      base = win::Narrow(known);
    }
    ::CoTaskMemFree(known);
  }
  return base.empty() ? base : base + "\\velomi";
}

}  // namespace platform
