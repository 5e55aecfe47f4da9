#!/bin/sh
# trust_in_fresh_prefix.sh PREFIX WINE_RUN TRUST_PROGRAM CA.der: makes PREFIX anew (nothing an
# earlier run trusted is trusted in it) and lets TRUST_PROGRAM add the test authority to it.
set -u
prefix=$1
shift
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
rm -rf "$prefix" "$prefix.lock"
VORNLINK_WINEPREFIX="$prefix" exec "$@"
