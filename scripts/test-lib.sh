# What scripts/test-windows.sh, test-packages.sh and test-dialogs.sh share; sourced by them in the
# project's root. VORNLINK_JOBS: build jobs (default 2); VORNLINK_WINE_DIR: see scripts/wine-run.
root=$(pwd)
jobs=${VORNLINK_JOBS:-2}
version=$(sed -nE 's/^project\(Vornlink VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
export VORNLINK_WINE_DIR="${VORNLINK_WINE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vornlink}"
export LC_ALL=C.UTF-8  # Wine answers in the Western code page whatever the language
passed=0 failed=0 failures=()

check() {  # check DESCRIPTION COMMAND...: runs the command, counts the result and its time.
  local begun=$SECONDS
  if "${@:2}"; then
    echo "ok: $1 ($((SECONDS - begun)) s)"
    passed=$((passed + 1))
    return
  fi
  echo "FAILED: $1 ($((SECONDS - begun)) s)"
  failed=$((failed + 1)) failures+=("$1")
  return 1
}
not() { ! "$@"; }
# build PRESET [BUILD-ARGS...]
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" "${@:2}"; }
# windows_path PATH: PATH as Wine's programs see it (drive Z: is the root).
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }
# end_wine PREFIX...: ends what runs in these prefixes (Wine's helpers too) with their servers.
end_wine() {
  local prefix
  for prefix; do [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null; done
  return 0
}
total() {  # total NAME PASSED FAILED: the counts in CTest's words, for scripts/test-all.sh.
  local all=$(($2 + $3))
  echo "$1 total: $((all > 0 ? $2 * 100 / all : 0))% tests passed, $3 tests failed out of $all"
}
