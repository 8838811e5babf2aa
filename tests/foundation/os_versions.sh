#!/usr/bin/env bash
# Runs the OS-facts test of the foundation tests under several Windows versions of Wine
# (winecfg /v, and CurrentBuildNumber set with reg add), then puts the prefix's version
# and build number back as they were.
set -u
exe=$1
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'

query_build() {
  wine reg query "$key" /v CurrentBuildNumber 2>/dev/null | tr -d '\r' | awk '$1 == "CurrentBuildNumber" {print $3}'
}

orig_version=$(wine winecfg /v | tr -d '\r')
orig_build=$(query_build)
restore() {
  wine winecfg /v "$orig_version" >/dev/null 2>&1
  [ -n "$orig_build" ] && wine reg add "$key" /v CurrentBuildNumber /d "$orig_build" /f >/dev/null 2>&1
  echo "restored Windows version $orig_version, build $orig_build"
}
trap restore EXIT

failures=0
# run VERSION BUILD EXPECTED_TEXT EXPECTED_PRE_VISTA
run() {
  if ! wine winecfg /v "$1" >/dev/null 2>&1; then
    echo "FAILED: winecfg cannot switch to $1"
    failures=$((failures + 1))
    return
  fi
  [ -n "$2" ] && wine reg add "$key" /v CurrentBuildNumber /d "$2" /f >/dev/null
  out=$(VA_EXPECT_OS_TEXT="$3" VA_EXPECT_PRE_VISTA="$4" wine "$exe" --gtest_filter='OsFactsUnderWine.*' 2>&1)
  rc=$?
  if [ $rc -ne 0 ] || ! grep -q '^\[  PASSED  \] 1 test' <<<"$out" || grep -q 'SKIPPED' <<<"$out"; then
    echo "FAILED: $1 ${2:+build $2}: expected \"$3\""
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok: $1 ${2:+build $2} -> \"$3\""
  fi
}

run win2003 "" "5.2 (Windows 2003)" 1
run vista "" "6.0 (Vista)" 0
run win7 "" "6.1 (Seven)" 0
run win8 "" "6.2 (Windows8)" 0
run win81 "" "6.3 (Windows8.1)" 0
run win10 19045 "10.0.19045 (Windows10)" 0
run win10 22631 "11.0.22631 (Windows11)" 0

echo "$((7 - failures)) of 7 Windows versions gave the expected text"
[ $failures -eq 0 ]
