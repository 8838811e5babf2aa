#!/usr/bin/env bash
# tools/deb-src-entries against the apt source layouts Debian 12 machines come with: each case
# is a small /etc/apt tree; apt itself (indextargets) then reads a tree holding only the written
# files and must list exactly the expected source indexes, nothing else.
set -uo pipefail

tool=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/deb-src-entries
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# case NAME EXPECTED_SOURCE_INDEXES FILE=CONTENT...: EXPECTED is the sorted "site suite
# component" lines apt must list for the deb-src entries, or "none" when the tool must fail.
case_() {
  local name=$1 expected=$2 d=$work/$1
  shift 2
  mkdir -p "$d/etc/apt/sources.list.d" "$d/only/sources.list.d" "$d/lists/partial"
  local entry
  for entry in "$@"; do printf '%s' "${entry#*=}" >"$d/etc/apt/${entry%%=*}"; done
  local out=$d/etc/apt/sources.list.d/voltatlas-src rc=0
  "$tool" "$d/etc/apt" "$out" >"$d/count" 2>"$d/err" || rc=$?
  local got
  if [[ $expected == none ]]; then
    if ((rc == 0)) || compgen -G "$out.*" >/dev/null; then
      echo "FAIL $name: expected no entries and no file, got exit $rc and: $(cat "$out".* 2>/dev/null)"
      failures=$((failures + 1))
    fi
    return
  fi
  cp "$out".* "$d/only/sources.list.d/" 2>/dev/null
  got=$(apt-get -o Dir::Etc="$d/only" -o Dir::State::Lists="$d/lists" indextargets --no-release-info \
    --format '$(CREATED_BY) $(SITE) $(RELEASE) $(COMPONENT)' 2>&1 | awk '$1 == "Sources" {$1 = ""; print substr($0, 2)}' | sort -u)
  if ((rc != 0)) || [[ $got != "$expected" ]]; then
    echo "FAIL $name (exit $rc): apt lists the source indexes"
    echo "$got" | sed 's/^/    /'
    echo "  expected"
    echo "$expected" | sed 's/^/    /'
    sed 's/^/  written: /' "$out".* 2>/dev/null
    failures=$((failures + 1))
  fi
}

main='http://deb.debian.org/debian bookworm main'
sec='http://deb.debian.org/debian-security bookworm-security main'
key='Signed-By: -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR8lsD3K87ZM18gzyQZJD+w
 -----END PGP PUBLIC KEY BLOCK-----
'

# A root made by mmdebstrap: one deb822 file named after its position, no sources.list.
case_ mmdebstrap "$main" \
  "sources.list.d/0000main.sources=Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
"
# An installed machine: one-line entries with options, comments and an entry already commented out.
case_ installer "http://deb.debian.org/debian bookworm contrib
$main
$sec" \
  "sources.list=# deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb http://deb.debian.org/debian/ bookworm main contrib
# deb-src http://deb.debian.org/debian/ bookworm main
  deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
"
# A container: debian.sources with two stanzas, the second one signed by an inline key block.
case_ container "$main
$sec" \
  "sources.list.d/debian.sources=Types: deb
# the main archive
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
$key"
# Both forms at once, field names in any case, a stanza switched off and one of sources only.
case_ both "$main
$sec" \
  "sources.list.d/mirror.sources=types: deb deb-src
uris: http://deb.debian.org/debian
suites: bookworm
components: main

Types: deb
Enabled: no
URIs: http://deb.debian.org/debian-backports
Suites: bookworm-backports
Components: main

Types: deb-src
URIs: http://deb.debian.org/debian-ports
Suites: unstable
Components: main
" \
  "sources.list.d/security.list=deb http://deb.debian.org/debian-security bookworm-security main
"
# Files of an earlier run are neither read back nor kept when their kind has nothing any more.
case_ rerun "$main" \
  "sources.list.d/0000main.sources=Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
" \
  "sources.list.d/voltatlas-src.list=deb-src http://deb.debian.org/debian-old bookworm main
" \
  "sources.list.d/voltatlas-src.sources=Types: deb-src
URIs: http://deb.debian.org/debian-old2
Suites: bookworm
Components: main
"
# Nothing to copy: only source entries, or no files at all.
case_ sources-only none "sources.list=deb-src http://deb.debian.org/debian bookworm main
"
case_ empty none

((failures == 0)) && echo "deb-src entries: every layout passed"
exit $((failures > 0))
