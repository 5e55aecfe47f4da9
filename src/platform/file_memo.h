// Values derived from small files that the driver reads afresh at every use
// (its INI and XML settings), kept while the file provably has not changed:
// a changed file takes effect with the next use, as if it were read and
// parsed every time, but an unchanged one is neither read nor parsed again.
//
// "Provably" means: the file, opened as every read opens it (links and
// second names judged, regular files only; Env::ReadChangedTextFile), has
// the stamp it had when its text was read, and that stamp had settled then
// (FileStamp::settled), so that a later write, even one that keeps the size
// within one tick of the file system's clock, would have changed it. A file
// whose stamp has not settled is read whole at every use; what was derived
// from it is kept while its text stays the same. Each use opens the file at
// most once; where the platform can, a settled unchanged file is known by
// its status alone (Env::ReadChangedTextFile).
#ifndef VORNLINK_PLATFORM_FILE_MEMO_H_
#define VORNLINK_PLATFORM_FILE_MEMO_H_

#include <string>

#include "platform/env.h"

namespace vornlink {

// Derives the value asked for (`question`) from the text of the file;
// `contents` is null when the file could not be read whole (missing, no
// regular file, larger than allowed, refused). Must depend on nothing but
// its arguments.
using DeriveFromFile = std::string (*)(const std::string* contents, const std::string& question);

// The value `derive` gives for `question` from the file at `path` read
// with `env` (ReadTextFile with `max_size`), taken from memory where the
// file has not changed since the value was derived. Thread-safe; the
// derivation runs under the memo's lock, the reads outside it. `derive` and `question` together
// name the value: one file may be asked in several ways.
std::string DerivedFromFile(Env* env, const std::string& path, size_t max_size,
                            DeriveFromFile derive, const std::string& question);

// Frees what the memo holds; when the module is unloaded.
void ReleaseFileMemo();

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_FILE_MEMO_H_
