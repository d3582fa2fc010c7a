#!/bin/sh
# Zelvora developer entry point.
#   ./run.sh demo [--x86]   build everything and run the demo host on the virtual camera: the
#                           64-bit host and DLL, or the 32-bit ones with --x86
#   ./run.sh test   build everything and run every test
#   ./run.sh case [<group>.]<Suite>.<Case>   build everything and run one test case alone (tests/README.md)
# Each installs what it needs first (Debian 12; root or sudo) and is quick when it is there.
set -eu
cd "$(dirname "$0")"
root=$(pwd)
BUILD_DIR=${ZELVORA_BUILD_DIR:-$root/build}

usage() { echo "usage: $0 demo [--x86]|test|case [<group>.]<Suite>.<Case>" >&2; exit 2; }
[ $# -ge 1 ] || usage
what=$1
shift
[ "$what" != case ] || [ $# -ge 1 ] || usage

"$root/testenv/install-packages.sh"
cmake -S "$root" -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR"
"$root/testenv/prefix.sh" "$BUILD_DIR"

# The 32-bit tree and the 64-bit one (x64/) each have a Wine prefix.
stop_wine() {
  for tree in "$BUILD_DIR" "$BUILD_DIR/x64"; do
    BUILD_DIR="$tree" sh -c '. "$0"; wineserver -k 2>/dev/null; true' "$root/testenv/wine-env.sh"
  done
}

case "$what" in
  demo)
    trap stop_wine EXIT
    # The 64-bit demo host and DLL of the 64-bit tree, or with --x86 the 32-bit ones; each runs in
    # its own tree's prefix.
    arch=x64
    tree="$BUILD_DIR/x64"
    if [ "${1:-}" = --x86 ]; then
      shift
      arch=x86
      tree="$BUILD_DIR"
    fi
    bin="$tree/bin"
    [ -f "$bin/zelvora_demo.exe" ] ||
      { echo "No $arch demo host in $bin (configured with -DZELVORA_BUILD_X64=OFF?)" >&2; exit 1; }
    echo "Architecture: $arch (the demo host and Zelvora.dll of $bin)"
    dll="Z:$(printf '%s' "$bin/Zelvora.dll" | tr / '\\')"
    "$root/testenv/winerun" "$tree" "$bin/zelvora_devices_setup.exe" default
    "$root/testenv/winerun" "$tree" --$arch regsvr32 /s "$dll"
    # Output folder and the Windows Media file to play, made here with ffmpeg.
    out="$BUILD_DIR/demo-output"
    mkdir -p "$out"
    media="$out/sample.wmv"
    [ -s "$media" ] || ffmpeg -hide_banner -loglevel error -nostdin -y \
      -f lavfi -i "testsrc=size=320x240:rate=15:duration=3" -c:v wmv2 "$media"
    dos() { printf 'Z:%s' "$1" | tr / '\\'; }
    "$root/testenv/winerun" "$tree" "$bin/zelvora_demo.exe" "$(dos "$out")" "$(dos "$media")" "$@"
    echo "(The $arch demo host ran. Z:\\ is the root of this machine's file system under Wine: the files are in $out)"
    ;;
  test)
    trap stop_wine EXIT
    ctest --test-dir "$BUILD_DIR" --output-on-failure "$@"
    ;;
  case)
    trap stop_wine EXIT
    sh "$root/tests/support/run_case.sh" "$BUILD_DIR" "$@"
    ;;
  *) usage ;;
esac
