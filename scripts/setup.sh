#!/usr/bin/env bash
# Installs what the project needs on Debian 12 and is missing; run as root.
#   scripts/setup.sh demo   what the Linux build and the demo need
#   scripts/setup.sh all    everything: Linux, Windows cross-build and Wine,
#                           fuzzing, benchmarks
set -euo pipefail

what=${1:-all}
linux_packages=(cmake ninja-build g++ make pkg-config libgtest-dev googletest
                libbenchmark-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev python3 openssl libxml2-dev)
all_packages=("${linux_packages[@]}" clang libclang-rt-14-dev
              g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
              binutils-mingw-w64-x86-64 wine wine64
              xvfb imagemagick twm xfonts-base)

case "$what" in
  demo) wanted=("${linux_packages[@]}") ;;
  all) wanted=("${all_packages[@]}") ;;
  *) echo "usage: $0 demo|all" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq || echo "setup: apt-get update reported a problem; trying to install anyway"
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi

# 32-bit Wine runs the i686 DLL itself. Debian's i386 index is not always in
# step with amd64; when it fails, undo the architecture so that later
# installs are not disturbed, and go on without it.
if [ "$what" = all ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  if [ "${VORNLINK_TRY_WINE32:-1}" = 1 ]; then
    echo "setup: trying 32-bit Wine (optional)"
    export DEBIAN_FRONTEND=noninteractive
    added=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386 && added=1
    fi
    if timeout 300 bash -c 'apt-get update -qq && apt-get install -y -qq wine32:i386 >/dev/null' \
        2>/dev/null; then
      echo "setup: 32-bit Wine installed"
    else
      echo "setup: 32-bit Wine is not installable here; the i686 DLL will be built and checked, not run"
      if [ "$added" = 1 ]; then
        as_root dpkg --remove-architecture i386 2>/dev/null || true
        as_root apt-get update -qq >/dev/null 2>&1 || true
      fi
    fi
  fi
fi
