#!/bin/sh
# The 32-bit and the 64-bit Zelvora.dll registered side by side in a 64-bit Wine prefix: each
# architecture's host creates the class from its own DLL and loads its own type library, and
# unregistering one DLL leaves the other one working (HKCR\CLSID is per view, the ProgIDs, AppID
# and TypeLib keys are shared). At the end both are unregistered and no shared key is left.
#   both-views-test.sh BUILD_X86 BUILD_X64
# Needs BUILD_X86/bin and BUILD_X64/bin with Zelvora.dll and zelvora_kit_check.exe. The prefix is
# ZELVORA_WIN64_PREFIX when set (a WINEARCH=win64 prefix), else BUILD_X64/both-views-prefix,
# made on the first run.
set -u
X86=$(cd "$1" && pwd)
X64=$(cd "$2" && pwd)
export WINEPREFIX="${ZELVORA_WIN64_PREFIX:-$X64/both-views-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export HOME="$X64/winehome"
mkdir -p "$HOME"
[ -f "$HOME/.asoundrc" ] || echo 'pcm.!default { type null }' >"$HOME/.asoundrc"

CLSID='{69668B61-56C6-4223-A0A9-2B2446FBF0BB}'
LIBID='{7E653E98-C55B-4626-B6B4-0BB332B3B538}'
PROGID=Zelvora.IZelvora
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
DLL32=$(dos "$X86/bin/Zelvora.dll")
DLL64=$(dos "$X64/bin/Zelvora.dll")
REGSVR32='C:\windows\syswow64\regsvr32.exe'
REGSVR64='C:\windows\system32\regsvr32.exe'

log=$(mktemp "${TMPDIR:-/tmp}/both-views.XXXXXX")
# Wine's background processes keep inherited descriptors open: output goes through a file.
run() {
  timeout -k 5 120 wine "$@" </dev/null >"$log" 2>&1
  rc=$?
  tr -d '\r' <"$log"
  return $rc
}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the 64-bit prefix $WINEPREFIX"
  timeout -k 5 300 wineboot -i </dev/null >"$log" 2>&1 || { cat "$log"; exit 1; }
fi
wineserver -p 60 </dev/null >/dev/null 2>&1 || true

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# host BITS WANT: BITS 32 or 64; WANT "works" (its own DLL, its own library) or "fails".
host() {
  if [ "$1" = 32 ]; then exe="$X86/bin/zelvora_kit_check.exe"; dll=$DLL32; else exe="$X64/bin/zelvora_kit_check.exe"; dll=$DLL64; fi
  out=$(run "$exe" create "$CLSID" "$PROGID" "$LIBID")
  rc=$?
  printf '%s\n' "$out" | sed 's/^/  /'
  if [ "$2" = works ]; then
    [ "$rc" -eq 0 ] || fail "the $1-bit host (rc $rc)"
    printf '%s\n' "$out" | grep -qiF "$dll" || fail "the $1-bit host did not load $dll"
  else
    printf '%s\n' "$out" | grep -q '^class: 0x00000000' && fail "the $1-bit host still creates the class"
  fi
}

shared_keys() {
  n=0
  for key in "HKCR\\$PROGID" "HKCR\\$PROGID.1" "HKCR\\AppID\\Zelvora.DLL" "HKCR\\TypeLib\\$LIBID"; do
    run reg query "$key" >/dev/null && n=$((n + 1))
  done
  echo $n
}

echo "== both registered"
run "$REGSVR32" /s "$DLL32" || fail "registering $DLL32"
run "$REGSVR64" /s "$DLL64" || fail "registering $DLL64"
host 32 works
host 64 works

echo "== the 32-bit DLL unregistered"
run "$REGSVR32" /s /u "$DLL32" || fail "unregistering $DLL32"
host 32 fails
host 64 works

echo "== the 32-bit DLL registered again, the 64-bit one unregistered"
run "$REGSVR32" /s "$DLL32" || fail "registering $DLL32"
run "$REGSVR64" /s /u "$DLL64" || fail "unregistering $DLL64"
host 64 fails
host 32 works

echo "== both unregistered"
run "$REGSVR32" /s /u "$DLL32" || fail "unregistering $DLL32"
[ "$(shared_keys)" = 0 ] || fail "shared keys left after both were unregistered"

rm -f "$log"
wineserver -k </dev/null >/dev/null 2>&1
[ "$failures" -eq 0 ] || exit 1
echo "both registry views passed"
