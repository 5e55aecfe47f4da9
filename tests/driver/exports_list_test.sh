#!/usr/bin/env bash
# usage: exports_list_test.sh <Vornlink.so>: exactly the ten exports are visible.
set -u
expected=$(printf '%s\n' ExecuteService ForwardTransaction ForwardTransaction2 GetAPIVersion \
  GetServiceName IsJobnoValid Properties Server SetCallback StopService)
actual=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TWDBRV]$/ {print $3}' | sort)
[ "$actual" = "$expected" ] && echo "ok: exactly the ten exports" && exit 0
echo "FAILED: the module's exports differ:"
diff <(echo "$expected") <(echo "$actual")
exit 1
