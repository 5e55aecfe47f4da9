// INI ("private profile") lookups answered the way the Windows
// private-profile read answers them, for the platforms that have no such read
// of their own. The rules below were taken from that read, case by case (the
// INI parity cases in tests/platform/ini_cases):
//
// - Text is 8-bit as it stands. A file that begins with a byte order mark
//   (UTF-8, UTF-16 little or big endian) is decoded and answered in the
//   Western 8-bit code page (Windows-1252); characters that it lacks come
//   back as "?" (Windows maps some of them to a similar letter instead).
// - A line ends at every "\r" or "\n". Blanks (space, tab, "\v", "\f" and
//   Ctrl-Z) at both ends of a line are dropped; empty lines are skipped.
// - "[name]" opens a section: the name is the text between the "[" and the
//   last "]" of the line, blanks at both ends dropped; text after that "]"
//   is ignored. A line that starts with "[" but has no "]" is a key line.
// - Any other line is a key of the section above it: the name is the text
//   before the first "=", the value the text after it, blanks around both
//   dropped. A line without "=" is a key without a value. Lines before the
//   first section form a section with the empty name, the only one that a
//   lookup of the empty name finds. ";" and "#" lines are just keys with
//   odd names; a ";" after a value is part of the value.
// - Lookup: section and key (blanks at their ends dropped) are compared
//   without regard to case for the ASCII letters; other bytes must match
//   exactly. Only the first section of a name is searched, and the first key
//   of a name in it wins. Names and values end at a NUL byte.
// - A missing file, section or key, or a key without a value, gives the
//   default with its trailing spaces dropped (but for its first character).
// - The answer (value or default) loses a pair of matching quotes (' or ")
//   around it, and is cut to `kProfileValueMax` characters. A quoted text
//   whose part after the opening quote is 256 characters long comes back as
//   its first 254: the Windows read cuts it so, and the two must agree.
//
// Pure functions of their arguments; any thread may call them.
#ifndef VORNLINK_PLATFORM_PRIVATE_PROFILE_H_
#define VORNLINK_PLATFORM_PRIVATE_PROFILE_H_

#include <cstddef>
#include <string>

namespace vornlink {

// The private-profile read's buffer holds 256 characters with the terminator.
inline constexpr size_t kProfileValueMax = 255;

// Looks `section`/`key` up in `contents`, the bytes of an INI file.
std::string LookUpProfileString(const std::string& contents, const std::string& section,
                                const std::string& key, const std::string& default_value);

// The answer for a file that cannot be read: the default, as above.
std::string ProfileDefault(const std::string& default_value);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_PRIVATE_PROFILE_H_
