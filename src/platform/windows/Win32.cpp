#include "platform/windows/Win32.h"

#include <aclapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/Errno.h"

namespace platform::win {
namespace {

// A cursor over UTF-8 bytes that reads one code point at a time.
class Utf8Reader {
 public:
  explicit Utf8Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return at_ == text_.size(); }

  // The next code point, or false when the bytes there are not UTF-8 (overlong forms and values
  // past U+10FFFF included; a surrogate's three-byte sequence is taken).
  bool Next(char32_t& code) {
    const unsigned char lead = Byte(0);
    size_t length;
    char32_t min;
    if (lead < 0x80) {
      code = lead;
      ++at_;
      return true;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (text_.size() - at_ < length) return false;
    for (size_t i = 1; i < length; ++i) {
      const unsigned char trail = Byte(i);
      if ((trail & 0xC0) != 0x80) return false;
      code = (code << 6) | (trail & 0x3F);
    }
    if (code < min || code > 0x10FFFF) return false;
    at_ += length;
    return true;
  }

 private:
  unsigned char Byte(size_t offset) const {
    return static_cast<unsigned char>(text_[at_ + offset]);
  }

  std::string_view text_;
  size_t at_ = 0;
};

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

constexpr size_t kLongPath = 248;

constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, which mingw's headers lack

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool Widen(std::string_view text, std::wstring& wide) {
  std::wstring out;
  out.reserve(text.size());
  Utf8Reader reader(text);
  while (!reader.AtEnd()) {
    char32_t code;
    if (!reader.Next(code)) return false;
    if (code < 0x10000) {
      out += static_cast<wchar_t>(code);
    } else {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    }
  }
  wide = std::move(out);
  return true;
}

std::string Narrow(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(code, out);
  }
  return out;
}

bool VerbatimPath(const std::wstring& path, std::wstring& verbatim) {
  if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) {
    verbatim = path;
    return true;
  }
  // Made absolute the way the system itself would ("/" to "\", "." and ".." resolved), then
  // prefixed, which the system takes as it is.
  std::vector<wchar_t> full(path.size() + MAX_PATH);
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) {
      errno = LastErrno();
      return false;
    }
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n + 1);
  }
  std::wstring absolute(full.begin(), full.end());
  if (StartsWith(absolute, L"\\\\")) {
    verbatim = L"\\\\?\\UNC\\" + absolute.substr(2);  // \\server\share\... on the network
  } else {
    verbatim = L"\\\\?\\" + absolute;
  }
  return true;
}

bool WidePath(const std::string& path, std::wstring& wide) {
  if (path.empty() || !Widen(path, wide)) {
    errno = path.empty() ? ENOENT : EINVAL;
    return false;
  }
  return wide.size() < kLongPath || VerbatimPath(wide, wide);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return ENOENT;
    case ERROR_INVALID_NAME:
      return EINVAL;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case ERROR_USER_MAPPED_FILE:
      return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case kDiskQuotaExceeded:
      return EDQUOT;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      return EINVAL;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return EOPNOTSUPP;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_TOO_MANY_LINKS:
      return EMLINK;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

int LastErrno() { return ErrnoOf(::GetLastError()); }

bool Unsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION;
}

HANDLE OpenExisting(const std::wstring& wide, DWORD access, DWORD flags) {
  return ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

namespace {

// A security identifier of this process's token (its user, or the owner it gives new files), in
// `buffer`; null when unknown.
PSID TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS which, std::vector<unsigned char>& buffer) {
  DWORD size = 0;
  ::GetTokenInformation(token, which, nullptr, 0, &size);
  buffer.resize(size);
  if (size == 0 || !::GetTokenInformation(token, which, buffer.data(), size, &size)) return nullptr;
  return which == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                            : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
}

// The owners that count as this user, asked once.
struct ThisUser {
  std::vector<unsigned char> user, owner;
  PSID userSid = nullptr, ownerSid = nullptr;

  ThisUser() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    ScopedHandle closer(token);
    userSid = TokenSid(token, TokenUser, user);
    ownerSid = TokenSid(token, TokenOwner, owner);
  }
  bool Is(PSID sid) const {
    return sid != nullptr && ((userSid != nullptr && ::EqualSid(sid, userSid)) ||
                              (ownerSid != nullptr && ::EqualSid(sid, ownerSid)));
  }
};

}  // namespace

bool IsLink(HANDLE h, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  return IsReparseTagNameSurrogate(tag.ReparseTag);
}

bool OwnedByThisUser(HANDLE h) {
  DWORD volumeFlags = 0;
  if (::GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
      !(volumeFlags & FILE_PERSISTENT_ACLS)) {
    return true;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  static const ThisUser* const self = new ThisUser;  // kept for the process's life
  const bool mine = self->Is(owner);
  ::LocalFree(descriptor);
  return mine;
}

bool FinalPath(HANDLE h, std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return false;
    if (n < buffer.size()) {
      path.assign(buffer.data(), n);
      return true;
    }
    if (buffer.size() >= 32768) return false;  // no path is longer
    buffer.resize(n + 1);
  }
}

std::string GenericPath(std::wstring_view path) {
  std::wstring text;
  if (StartsWith(path, L"\\\\?\\UNC\\")) {
    text = L"\\\\" + std::wstring(path.substr(8));
  } else if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) {
    text = std::wstring(path.substr(4));
  } else {
    text = std::wstring(path);
  }
  std::replace(text.begin(), text.end(), L'\\', L'/');
  return Narrow(text);
}

bool MarkForDeletion(HANDLE h, bool mark) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = mark ? TRUE : FALSE;
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

bool RenameOverOpenFile(HANDLE h, const std::wstring& target) {
  // FileRenameInfoEx and its flags, which mingw's headers lack.
  constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  constexpr DWORD kReplaceIfExists = 0x1;
  constexpr DWORD kPosixSemantics = 0x2;
  const size_t bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->Flags = kReplaceIfExists | kPosixSemantics;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::copy(target.begin(), target.end(), rename->FileName);
  return ::SetFileInformationByHandle(h, kFileRenameInfoEx, rename,
                                      static_cast<DWORD>(buffer.size()));
}

}  // namespace platform::win
