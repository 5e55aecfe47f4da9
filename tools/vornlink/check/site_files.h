// What `vornlink check` asks of the files it names: whether a path is a full
// one, and whether this user may write a file or make one beside it.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_SITE_FILES_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_SITE_FILES_H_

#include <string>

#include "vornlink/check/check_report.h"

namespace vornlink {

// Whether `path` names a file from a drive or share (Windows) or the root
// (Linux), not from the current folder.
bool IsAbsolute(const std::string& path);

// Whether a new file may be made in the folder of `path`: one is made
// (exclusively, under a name nobody else uses) and removed again; false
// with `error` set otherwise.
bool MayMakeFilesBeside(const std::string& path, std::string* error);

// Reports whether this user may write `path` (an existing file is opened
// for appending, nothing written; for a missing one a file is made and
// removed beside it): a problem when `needed`, else a warning.
void CheckWritable(CheckReport* report, const std::string& what, const std::string& path,
                   bool needed);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_SITE_FILES_H_
