// How the Windows Env judges links (symbolic links and junctions, reparse
// points that name another file) and second names (hard links): followed
// only where nobody else could have planted them (Env::IsTrustedPath).
// Include only from src/platform/win32.
#ifndef VORNLINK_PLATFORM_WIN32_TRUSTED_PATH_H_
#define VORNLINK_PLATFORM_WIN32_TRUSTED_PATH_H_

#include <windows.h>

#include <string>

namespace vornlink {

// The failure code below for a link or a second name that another user
// could have planted: an application's code (bit 29), never the system's.
inline constexpr DWORD kPlantedLink = 0x20000001;

// The path of the file that `path` leads to through the links that may be
// followed: `path` itself when it is no link; the file need not exist. 0,
// else kPlantedLink or the system's code for the failure.
DWORD FollowTrustedLinks(const std::string& path, std::string* file);

// 0 when the file at `file` (no link; missing is fine) may be used as to its
// second names, else kPlantedLink.
DWORD JudgeSecondNames(const std::string& file);

// CreateFileA of the file that FollowTrustedLinks finds, with `access`
// (FILE_READ_ATTRIBUTES added), `share` and `disposition`, never through a
// link of its own (one that appears meanwhile is judged anew); refused when
// it has a second name that may not be used. INVALID_HANDLE_VALUE with the
// code in `*code` when it fails. `*file` (may be null) gets the path opened.
HANDLE OpenTrusted(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD* code, std::string* file = nullptr);

// The text for a failure code of the file calls: the system's, or the one
// for kPlantedLink.
std::string FileErrorText(DWORD code);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_WIN32_TRUSTED_PATH_H_
