// Several texts kept in one string, each behind its length and ':', so that
// a part may hold any byte: how values derived from a settings file are
// kept by the file memo.
#ifndef VORNLINK_BASE_COUNTED_PARTS_H_
#define VORNLINK_BASE_COUNTED_PARTS_H_

#include <string>
#include <string_view>

namespace vornlink {

// Appends `part` to `text`, behind its length and ':'.
void AppendCountedPart(std::string_view part, std::string* text);

// The part of `text` at `*at`; moves `*at` past it. Where `text` holds no
// whole part there, the rest of it, and `*at` moves to its end.
std::string_view TakeCountedPart(std::string_view text, size_t* at);

}  // namespace vornlink

#endif  // VORNLINK_BASE_COUNTED_PARTS_H_
