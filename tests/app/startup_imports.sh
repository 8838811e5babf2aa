#!/usr/bin/env bash
# What the program's file makes Wine do before its first line runs: the DLLs it needs only
# after its window shows are delay-loaded (absent from the import table), the ones of the
# first steps are imported as usual, and no debug information is left inside the
# executable to be read at every start. (That the delay-loaded calls still reach their
# DLLs, the tests calling them show: they are linked the same way.)
set -u
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
fail=0
dump=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$dump" | awk '{print toupper($3)}')
# name:expected ("later": delay-loaded; "start": imported)
for row in SHELL32.DLL:later NETAPI32.DLL:later VERSION.DLL:later MSIMG32.DLL:later UXTHEME.DLL:later \
           USER32.DLL:start GDI32.DLL:start COMCTL32.DLL:start OLE32.DLL:start; do
  dll=${row%%:*} want=${row##*:}
  if grep -qx "$dll" <<<"$imports"; then got=start; else got=later; fi
  if [[ $got != "$want" ]]; then
    echo "$dll: expected $want, found $got"
    fail=1
  fi
done
sections=$("$objdump" -h "$exe" | awk '$2 ~ /^\.debug/ {print $2}')
if [[ -n $sections ]]; then
  echo "debug sections inside the executable:" $sections
  fail=1
fi
exit $fail
