#!/bin/sh
# Creates the Wine prefix of a build tree once (win64, which runs 32-bit programs too; null audio).
# Usage: prefix.sh BUILD_DIR
set -eu
BUILD_DIR=$(cd "$1" && pwd)
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$HOME"
# One creator at a time (tests may start in parallel).
exec 9>"$BUILD_DIR/.wineprefix.lock"
flock 9
[ -f "$HOME/.asoundrc" ] || echo 'pcm.!default { type null }' > "$HOME/.asoundrc"
# A prefix of an earlier 32-bit-only tree is made again: Wine cannot turn it into a 64-bit one.
if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.zelvora-ready" ] ||
   ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
  echo "Creating the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  timeout -k 5 300 wineboot -i </dev/null >"$BUILD_DIR/wineboot.log" 2>&1
  wineserver -w
  touch "$WINEPREFIX/.zelvora-ready"
fi
