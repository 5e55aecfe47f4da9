#!/usr/bin/env bash
# Installs what the project needs on Debian 12 and is missing; run as root.
#   scripts/setup.sh demo   what the Linux build and the demo need
#   scripts/setup.sh all    everything: Linux, Windows cross-build and Wine
#                           (32-bit too, with an emulator where the kernel
#                           runs no 32-bit code), fuzzing, benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
linux_packages=(cmake ninja-build g++ make pkg-config libgtest-dev googletest
                libbenchmark-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev python3 openssl libxml2-dev)
all_packages=("${linux_packages[@]}" clang libclang-rt-14-dev
              g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
              binutils-mingw-w64-x86-64 wine wine64
              xvfb imagemagick xfonts-base groff-base)

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

[ "$what" = all ] || exit 0

# 32-bit Wine runs the shipping i686 DLL. Debian's i386 index is not always in
# step with amd64; when it fails, undo the architecture so that later
# installs are not disturbed, and go on without it.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' &&
    [ "${VORNLINK_TRY_WINE32:-1}" = 1 ]; then
  echo "setup: installing 32-bit Wine (wine32:i386), for the i686 DLL's tests"
  export DEBIAN_FRONTEND=noninteractive
  added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386 && added=1
  fi
  log=$(mktemp /tmp/vornlink-setup.XXXXXX)
  if as_root timeout 900 apt-get update -qq >"$log" 2>&1 &&
      as_root timeout 900 apt-get install -y -qq wine32:i386 >>"$log" 2>&1; then
    echo "setup: 32-bit Wine installed"
  else
    tail -n 5 "$log" | sed 's/^/setup:   /'
    echo "setup: 32-bit Wine is not installable here; the i686 DLL will be built and checked, not run"
    if [ "$added" = 1 ]; then
      as_root dpkg --remove-architecture i386 2>/dev/null || true
      as_root apt-get update -qq >/dev/null 2>&1 || true
    fi
  fi
  rm -f "$log"
fi

# promtool checks the metrics of `vornlink status --prometheus` as a collector
# reads them. It is taken out of Debian's prometheus package into build/tools,
# so that no server is installed or started.
if ! command -v promtool >/dev/null && [ ! -x build/tools/promtool ]; then
  fetched=$(mktemp -d /tmp/vornlink-setup.XXXXXX)
  if (cd "$fetched" && apt-get download -qq prometheus >/dev/null 2>&1 &&
      dpkg-deb -x prometheus_*.deb files) && mkdir -p build/tools &&
      cp "$fetched/files/usr/bin/promtool" build/tools/promtool; then
    echo "setup: promtool taken from Debian's prometheus package into build/tools"
  else
    echo "setup: promtool could not be fetched; the metrics check will fail"
  fi
  rm -rf "$fetched"
fi

# Where the kernel runs no 32-bit code (or VORNLINK_I386_EMULATION=force asks
# for it), 32-bit Wine runs through qemu-i386 (scripts/i386-emulation),
# fetched into build/qemu-user; nothing is installed, and the test scripts
# register it only while they run.
how=$(bash scripts/i386-emulation status) && native=1 || native=0
if [ "$native" = 1 ]; then
  echo "setup: $how; no emulator needed"
elif dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "setup: $how"
  bash scripts/i386-emulation fetch ||
    echo "setup: without the emulator the i686 DLL will be built and checked, not run"
else
  echo "setup: $how"
fi
