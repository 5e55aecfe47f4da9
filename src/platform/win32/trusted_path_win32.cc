// Which links and second names the Windows Env follows (Env::IsTrustedPath).
//
// Trusted are SYSTEM, the Administrators and this process's user. A link
// (a reparse point that names another file: a symbolic link or a junction)
// is followed when one of them owns it and its folder: owned by one of
// them, with no right to add or remove names granted to anybody else.
// Windows has no sticky folders; a folder where others may only add files
// counts as one they may write. As on POSIX, judging first and opening
// after is no race an attacker can win: the links followed lie where only
// the trusted can change them, the file at the end is opened without
// following a link of its own (FILE_FLAG_OPEN_REPARSE_POINT), and its
// second names are counted on the open handle.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/env_parts.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_path.h"

namespace vornlink {
namespace {

// Links of one chain that are followed at most.
constexpr int kMaxLinkHops = 16;
// Rounds of judging and opening while links keep appearing at the end.
constexpr int kMaxOpenRounds = 4;
// Rights on a folder that let their holder add, remove or rename its names,
// or give himself those rights.
constexpr DWORD kFolderWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The security descriptor that GetSecurityInfo and its kin allocate.
class ScopedDescriptor {
 public:
  ScopedDescriptor() = default;
  ~ScopedDescriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  ScopedDescriptor(const ScopedDescriptor&) = delete;
  ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
  PSECURITY_DESCRIPTOR* receive() { return &descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The SID of this process's user; empty when the system does not tell.
const std::vector<BYTE>& ProcessUser() {
  static const std::vector<BYTE> user = [] {
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
    ScopedHandle owner(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return sid;
    PSID user_sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* start = static_cast<const BYTE*>(user_sid);
    sid.assign(start, start + GetLengthSid(user_sid));
    return sid;
  }();
  return user;
}

bool IsTrustedSid(PSID sid) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  const std::vector<BYTE>& user = ProcessUser();
  return IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         (!user.empty() && EqualSid(sid, const_cast<BYTE*>(user.data())));
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  // "C:\" keeps its separator: "C:" alone is the drive's current folder.
  return path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash);
}

// Whether nobody but the trusted can change the names in `folder`.
bool FolderKeepsOthersOut(const std::string& folder) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  ScopedDescriptor descriptor;
  if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, descriptor.receive()) != ERROR_SUCCESS ||
      !IsTrustedSid(owner) || dacl == nullptr) {
    return false;  // a missing list grants everybody everything
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    // Denials only narrow; what is only handed down to new files does not
    // apply to the folder.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 ||
        (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
         header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)) {
      continue;
    }
    ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allowed->SidStart;
    if ((allowed->Mask & kFolderWriteRights) != 0 && !IsTrustedSid(sid) &&
        !IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) {
      return false;
    }
  }
  return true;
}

enum class Reparse { kNone, kLink, kOther };

// What kind of reparse point the object open as `file` carries, if any.
Reparse ReparseKind(HANDLE file) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return Reparse::kNone;
  }
  return IsReparseTagNameSurrogate(tag.ReparseTag) ? Reparse::kLink : Reparse::kOther;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool HasTrustedOwner(HANDLE file) {
  PSID owner = nullptr;
  ScopedDescriptor descriptor;
  return GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                         nullptr, descriptor.receive()) == ERROR_SUCCESS &&
         IsTrustedSid(owner);
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  BOOL lossy = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length),
                                       nullptr, 0, nullptr, &lossy);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size <= 0 || lossy ||
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length), &narrow[0],
                          size, nullptr, &lossy) != size ||
      lossy) {
    return std::string();  // a name this code page cannot spell
  }
  return narrow;
}

// The file a symbolic link or a junction names, as a path the file calls
// take (relative links against the folder of `link_path`); empty when it
// cannot be read or spelt.
std::string LinkTarget(HANDLE link, const std::string& link_path) {
  // The layout of the system's reparse data for these two kinds.
  struct Names {
    USHORT substitute_offset;
    USHORT substitute_length;
    USHORT print_offset;
    USHORT print_length;
  };
  std::vector<BYTE> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  if (!DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got < 8 + sizeof(Names)) {
    return std::string();
  }
  DWORD tag = 0;
  memcpy(&tag, buffer.data(), sizeof tag);
  Names names;
  memcpy(&names, buffer.data() + 8, sizeof names);
  size_t path_start = 8 + sizeof names;
  ULONG flags = 0;
  if (tag == IO_REPARSE_TAG_SYMLINK) {
    if (got < path_start + sizeof flags) return std::string();
    memcpy(&flags, buffer.data() + path_start, sizeof flags);
    path_start += sizeof flags;
  } else if (tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return std::string();
  }
  // The print name is the path as a person wrote it; the substitute name
  // is the system's form ("\??\C:\...").
  const bool print = names.print_length > 0;
  const size_t offset = path_start + (print ? names.print_offset : names.substitute_offset);
  const size_t bytes = print ? names.print_length : names.substitute_length;
  if (offset + bytes > got || bytes % sizeof(wchar_t) != 0) return std::string();
  std::wstring wide(bytes / sizeof(wchar_t), L'\0');
  memcpy(&wide[0], buffer.data() + offset, bytes);
  if (!print && wide.compare(0, 8, L"\\??\\UNC\\") == 0) {
    wide = L"\\\\" + wide.substr(8);
  } else if (!print && wide.compare(0, 4, L"\\??\\") == 0) {
    wide = wide.substr(4);
  }
  std::string target = Narrow(wide.data(), wide.size());
  if (target.empty()) return target;
  if ((flags & SYMLINK_FLAG_RELATIVE) != 0) target = FolderOf(link_path) + "\\" + target;
  return target;
}

// Hands out `handle` of the file at `path` (of which `info` tells) unless
// its second names may not be used there.
HANDLE Judged(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, const std::string& path,
              DWORD* code, std::string* file) {
  ScopedHandle owner(handle);
  if (info.nNumberOfLinks > 1 && !FolderKeepsOthersOut(FolderOf(path))) {
    *code = kPlantedLink;
    return INVALID_HANDLE_VALUE;
  }
  if (file != nullptr) *file = path;
  *code = 0;
  return owner.release();
}

}  // namespace

DWORD FollowTrustedLinks(const std::string& path, std::string* file) {
  std::string at = path;
  for (int hop = 0;; ++hop) {
    // Links show as reparse points without being followed; a missing file,
    // or one that cannot be looked at, is the open's to report.
    const DWORD attributes = GetFileAttributesA(at.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      break;
    }
    ScopedHandle link(CreateFileA(
        at.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link.valid() || ReparseKind(link.get()) != Reparse::kLink) break;
    if (hop == kMaxLinkHops) return ERROR_CANT_RESOLVE_FILENAME;
    if (!HasTrustedOwner(link.get()) || !FolderKeepsOthersOut(FolderOf(at))) return kPlantedLink;
    const std::string target = LinkTarget(link.get(), at);
    if (target.empty()) return ERROR_CANT_RESOLVE_FILENAME;
    at = target;
  }
  *file = at;
  return 0;
}

DWORD JudgeSecondNames(const std::string& file) {
  ScopedHandle handle(
      CreateFileA(file.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle.valid() && GetFileInformationByHandle(handle.get(), &info) &&
      info.nNumberOfLinks > 1 && !FolderKeepsOthersOut(FolderOf(file))) {
    return kPlantedLink;
  }
  return 0;
}

HANDLE OpenTrusted(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD* code, std::string* file) {
  for (int round = 0; round < kMaxOpenRounds; ++round) {
    std::string target;
    *code = FollowTrustedLinks(path, &target);
    if (*code != 0) return INVALID_HANDLE_VALUE;
    access |= FILE_READ_ATTRIBUTES;
    ScopedHandle opened(CreateFileA(target.c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened.valid()) {
      *code = GetLastError();
      return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(opened.get(), &info) != 0;
    const Reparse reparse = ReparseKind(opened.get());
    if (reparse == Reparse::kLink) continue;  // a link that came meanwhile
    if (reparse == Reparse::kOther) {
      // The data behind a reparse point of another kind (a compressed, a
      // deduplicated or a cloud file) is the system's to give: the file is
      // opened again as usual, and used only when it is still the same.
      opened.Close();
      ScopedHandle plain(CreateFileA(target.c_str(), access, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
      BY_HANDLE_FILE_INFORMATION again{};
      if (!known || !plain.valid() || !GetFileInformationByHandle(plain.get(), &again) ||
          !SameFile(info, again)) {
        continue;
      }
      // The same file, so the same count of names.
      return Judged(plain.release(), info, target, code, file);
    }
    return Judged(opened.release(), info, target, code, file);
  }
  *code = ERROR_CANT_RESOLVE_FILENAME;
  return INVALID_HANDLE_VALUE;
}

std::string FileErrorText(DWORD code) {
  return code == kPlantedLink ? kPlantedLinkRefused : env_parts::ErrorText(static_cast<int>(code));
}

namespace env_parts {

bool IsTrustedPath(const std::string& path, std::string* error) {
  std::string file;
  DWORD code = FollowTrustedLinks(path, &file);
  if (code == 0) code = JudgeSecondNames(file);
  if (code == kPlantedLink) SetError(error, kPlantedLinkRefused);
  return code != kPlantedLink;
}

}  // namespace env_parts
}  // namespace vornlink
