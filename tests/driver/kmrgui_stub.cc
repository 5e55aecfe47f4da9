// Stands in for the host's GUI program "kmrgui" in the tests: appends the
// argument it got, and a line end, to the file that VORNLINK_KMRGUI_RECORD
// names.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* record = std::getenv("VORNLINK_KMRGUI_RECORD");
  if (record == nullptr) return 2;
  std::FILE* file = std::fopen(record, "ab");
  if (file == nullptr) return 1;
  std::fprintf(file, "%s\n", argc > 1 ? argv[1] : "");
  return std::fclose(file) == 0 ? 0 : 1;
}
