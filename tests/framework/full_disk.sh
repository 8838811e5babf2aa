#!/usr/bin/env bash
# Runs the full-disk case of the framework tests under a file-size limit that stands for a
# full disk: with SIGXFSZ ignored, a write past the limit stops part way and fails (EFBIG),
# as a write to a full disk does.
set -u
exe=$1
limit_kib=256
# The Wine server writes the registry files: it must not run under the limit. Let a running
# one end, and start one of its own that waits a few seconds for the test (detached from
# this script's output, which CTest reads to its end).
wineserver -w
wineserver -p5 </dev/null >/dev/null 2>&1
out=$(
  ulimit -f "$limit_kib"
  trap '' XFSZ
  VA_FILE_SIZE_LIMIT=$((limit_kib * 1024)) wine "$exe" --gtest_filter='MemIniFileOnAFullDisk.*' 2>&1
)
rc=$?
echo "$out"
if [ $rc -ne 0 ] || ! grep -q '^\[  PASSED  \] 1 test' <<<"$out" || grep -q 'SKIPPED' <<<"$out"; then
  echo "FAILED: the full-disk case did not pass"
  exit 1
fi
