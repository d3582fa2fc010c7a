#!/bin/sh
# The demo host as the README's main command runs it: every step must succeed on the virtual
# devices, and the snapshot must be the virtual camera's test picture, upright, at 640x480.
#   demo-test.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
out="$BUILD_DIR/demo-test"
rm -rf "$out"
mkdir -p "$out"
media="$out/sample.wmv"
ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc=size=320x240:rate=15:duration=3" -c:v wmv2 \
  "$media" || { echo "ffmpeg failed"; exit 1; }
dos() { printf 'Z:%s' "$1" | tr / '\\'; }

"$SRC/testenv/winerun" "$BUILD_DIR" "$BUILD_DIR/bin/zelvora_demo.exe" "$(dos "$out")" "$(dos "$media")"
rc=$?
[ "$rc" -eq 0 ] || { echo "FAILED: the demo reported a failed step (rc $rc)"; exit 1; }
for f in snapshot.jpg recording.wmv frame.bmp; do
  [ -s "$out/$f" ] || { echo "FAILED: no $f"; exit 1; }
done
"$SRC/testenv/winerun" "$BUILD_DIR" "$BUILD_DIR/bin/zelvora_kit_check.exe" jpeg "$(dos "$out/snapshot.jpg")" 640 480 ||
  { echo "FAILED: the snapshot is not the camera's picture"; exit 1; }
echo "demo passed"
