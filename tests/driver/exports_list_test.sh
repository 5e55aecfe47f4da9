#!/usr/bin/env bash
# usage: exports_list_test.sh <Vornlink.so>: exactly the ten exports are visible.
set -u
expected=$(printf '%s\n' ExecuteService ForwardTransaction ForwardTransaction2 GetAPIVersion \
  GetServiceName IsJobnoValid Properties Server SetCallback StopService)
actual=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TWDBRV]$/ {print $3}' | sort)
diff <(echo "$expected") <(echo "$actual") || { echo "FAILED: the module's exports differ"; exit 1; }
echo "ok: exactly the ten exports"
