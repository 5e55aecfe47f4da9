// INI ("private profile") lookups in the way the Windows private-profile read
// answers them, for the platforms that have no such read of their own.
//
// Rules: lines end at "\n" (or at "\r" where a file has no "\n"); blanks at
// both ends of a line are dropped; "[name]" opens a section (up to the last
// "]" of the line); "key=value" lines belong to the section above them.
// Section and key names are compared without regard to ASCII case; the first
// section of a name is the only one searched and the first key of a name in
// it wins. A value in matching quotes loses them. The answer is cut to
// `kProfileValueMax` characters; a missing section or key, or a key line
// without "=", gives the default without its trailing blanks.
#ifndef VORNLINK_PLATFORM_PRIVATE_PROFILE_H_
#define VORNLINK_PLATFORM_PRIVATE_PROFILE_H_

#include <cstddef>
#include <string>

namespace vornlink {

inline constexpr size_t kProfileValueMax = 255;

// Looks `section`/`key` up in the INI text `contents`.
std::string LookUpProfileString(const std::string& contents, const std::string& section,
                                const std::string& key, const std::string& default_value);

// The answer for a file that cannot be read: the default, trimmed and cut.
std::string ProfileDefault(const std::string& default_value);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_PRIVATE_PROFILE_H_
