// The helpers of TestFiles.h that each system does its own way.
#include "TestFiles.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace testfiles {

bool MakeLink(const std::string& target, const std::string& link, bool folder) {
#ifdef _WIN32
  const DWORD flags =
      (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  // wine reports success and makes nothing: the link must be there.
  return ::CreateSymbolicLinkW(Fs(link).c_str(), Fs(target).c_str(), flags) &&
         ::GetFileAttributesW(Fs(link).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  std::error_code ec;
  if (folder) {
    std::filesystem::create_directory_symlink(Fs(target), Fs(link), ec);
  } else {
    std::filesystem::create_symlink(Fs(target), Fs(link), ec);
  }
  return !ec;
#endif
}

void UseStateFolder(const std::string& path) {
#ifdef _WIN32
  ::_wputenv_s(L"LOCALAPPDATA", Fs(path).c_str());
#else
  ::setenv("XDG_STATE_HOME", path.c_str(), 1);
#endif
}

}  // namespace testfiles
