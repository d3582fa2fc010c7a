#!/bin/sh
# Tests that need an X display: the devices' property frame through the component
# (zelvora_display_tests.exe) and the preview window host, whose picture is read back from a
# screenshot. Starts its own Xvfb (xvfb-run.sh) and uses a Wine prefix of its own, whose
# wineserver and desktop process are started with that display and stopped at the end: a
# prefix's desktop process keeps the display driver it was started with, so the test processes
# that run without a display must not share it.
#   display-tests.sh BUILD_DIR SOURCE_DIR
# Leaves display-output/ in the build tree: preview.png (the window), logs and the raw screenshot.
set -u
BUILD_DIR=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)

if [ -z "${ZELVORA_IN_XVFB:-}" ]; then
  ZELVORA_IN_XVFB=1 exec sh "$SRC/testenv/xvfb-run.sh" -s 1024x768x24 sh "$0" "$@"
fi

. "$SRC/testenv/wine-env.sh"
export WINEPREFIX="$BUILD_DIR/wineprefix-display"
bin="$BUILD_DIR/bin"
out="$BUILD_DIR/display-output"
mkdir -p "$HOME" "$out"
rm -f "$out"/*
[ -f "$HOME/.asoundrc" ] || echo 'pcm.!default { type null }' > "$HOME/.asoundrc"
dos() { printf 'Z:%s' "$1" | tr / '\\'; }

exec 9>"$BUILD_DIR/.wineprefix-display.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zelvora-ready" ] || ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg" 2>/dev/null; then
  echo "Creating the display tests' Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  timeout -k 5 300 wineboot -i </dev/null >"$out/wineboot.log" 2>&1
  wineserver -w
  touch "$WINEPREFIX/.zelvora-ready"
fi
wineserver -p 30 </dev/null >/dev/null 2>&1
stop_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
trap stop_wine EXIT

# Runs a program under Wine with its output through a file (Wine's background processes keep
# pipes open).
run() {
  log=$(mktemp "${TMPDIR:-/tmp}/zelvora-display.XXXXXX")
  timeout -k 10 300 wine "$@" </dev/null >"$log" 2>&1
  rc=$?
  cat "$log"
  rm -f "$log"
  return $rc
}

failed=0
run "$bin/zelvora_devices_setup.exe" default >/dev/null || { echo "device registration failed"; exit 1; }
run regsvr32 /s "$(dos "$bin/Zelvora.dll")" || { echo "regsvr32 Zelvora.dll failed"; exit 1; }

echo "== property frame"
run "$bin/zelvora_display_tests.exe" || failed=1

echo "== preview window host"
report="$out/preview-report.txt"
log="$out/preview.log"
(cd "$out" && timeout -k 10 120 wine "$bin/zelvora_preview.exe" --at 0,0 --report "$(dos "$report")" \
   --quit-after 60000 </dev/null >"$log" 2>&1) &
host=$!
tries=0
while [ ! -s "$report" ] && [ "$tries" -lt 600 ] && kill -0 "$host" 2>/dev/null; do
  tries=$((tries + 1))
  sleep 0.1
done
if [ -s "$report" ]; then
  sleep 0.5
  xwd -root -silent -out "$out/screen.xwd"
  cat "$report"
else
  echo "the preview host reported no picture"
  failed=1
fi

# The host's commands, as its menu and keys give them (WM_COMMAND from another process).
check() { run "$bin/zelvora_kit_check.exe" "$@"; }
wait_file() {  # FILE: waits up to 10 s for it to have content
  n=0
  while [ ! -s "$1" ] && [ "$n" -lt 100 ]; do n=$((n + 1)); sleep 0.1; done
  [ -s "$1" ]
}
if [ -s "$report" ]; then
  echo "-- snapshot (S)"
  check command 101
  if wait_file "$out/snapshot-001.jpg"; then
    check jpeg "$(dos "$out/snapshot-001.jpg")" 640 480 || failed=1
  else
    echo "no snapshot-001.jpg"; failed=1
  fi
  echo "-- pause and run (P)"
  check command 103; sleep 1
  title=$(check title); echo "$title"
  case "$title" in *" - paused "*) ;; *) echo "not paused"; failed=1 ;; esac
  check command 103; sleep 1
  title=$(check title); echo "$title"
  case "$title" in *" - running "*) ;; *) echo "not running again"; failed=1 ;; esac
  echo "-- the camera's property pages (V)"
  check command 104
  pages=$(check close-frame); echo "$pages"
  case "$pages" in *"Zelvora Virtual Camera"*) ;; *) echo "the camera's page was not shown"; failed=1 ;; esac
  echo "-- the microphone's property pages (A)"
  check command 105
  pages=$(check close-frame); echo "$pages"
  case "$pages" in *"Zelvora Virtual Microphone"*) ;; *) echo "the microphone's page was not shown"; failed=1 ;; esac
  echo "-- record (R, R)"
  check command 102; sleep 2; check command 102
  if wait_file "$out/recording-001.wmv"; then
    head -c 19 "$out/recording-001.wmv"; echo
  else
    echo "no recording-001.wmv"; failed=1
  fi
  sleep 2
  title=$(check title); echo "$title"
  case "$title" in *"recording stopped (0x00000000)"*) ;; *) echo "the recording did not stop cleanly"; failed=1 ;; esac
  # The preview runs on after the recording: frames are counted in the title once a second.
  case "$title" in *" - 0.0 frames/s"*) echo "no frames after the recording"; failed=1 ;; esac
  echo "-- camera controls (B: brightness one step up; Shift+Z: zoom stays at its minimum)"
  wait_title() {  # PATTERN: polls the title (commands are posted) for up to 10 s
    n=0; title=$(check title)
    while ! case "$title" in $1) true ;; *) false ;; esac && [ "$n" -lt 20 ]; do sleep 0.5; n=$((n + 1)); title=$(check title); done
    echo "$title"; case "$title" in $1) true ;; *) false ;; esac
  }
  check command 107; wait_title '* - brightness 1 (-64..64)*' || { echo "brightness not stepped"; failed=1; }
  check command 112; wait_title '* - zoom 100 (100..400)*' || { echo "zoom not kept at its minimum"; failed=1; }
  echo "-- quit (Esc)"
  check command 106
fi
wait "$host" || { echo "the preview host failed: $?"; cat "$log"; failed=1; }
if [ -s "$out/screen.xwd" ]; then
  run "$bin/zelvora_kit_check.exe" xwd "$(dos "$out/screen.xwd")" "$(dos "$report")" "$(dos "$out/preview.png")" ||
    failed=1
fi
[ "$failed" -eq 0 ] && echo "display tests passed" || echo "display tests FAILED"
exit "$failed"
