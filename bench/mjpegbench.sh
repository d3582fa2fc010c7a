#!/bin/sh
# Motion-JPEG decoding beside ffmpeg's own, in one run. Makes webcam-like 4:2:2 frames (testsrc2,
# 60 frames, quality 3) at 1280x720 and 1920x1080, and at 1280x720 with sensor-like noise added
# (every 8x8 block then carries detail), then, round after round, times ffmpeg decoding the same
# file to bgr24 on one thread (five passes over the file per run), zelvora_mjpeg_bench natively,
# and the 32-bit build (and the 64-bit one, where the tree has it) under Wine. Prints the medians
# over the rounds of the time per frame and the ratios to ffmpeg.
#   bench/mjpegbench.sh [BUILD_DIR [ROUNDS]]     (default: build, 3 rounds)
# Builds what it runs: zelvora_mjpeg_bench in BUILD_DIR (and BUILD_DIR/x64) and a native build in
# BUILD_DIR/mjpeg-bench/native. The frames stay in BUILD_DIR/mjpeg-bench.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-3}
work=$build/mjpeg-bench
mkdir -p "$work"

cmake -S "$root/bench" -B "$work/native" -G Ninja >/dev/null
ninja -C "$work/native" zelvora_mjpeg_bench >/dev/null
ninja -C "$build" zelvora_mjpeg_bench >/dev/null
x64=""
if [ -f "$build/x64/build.ninja" ]; then
  ninja -C "$build/x64" zelvora_mjpeg_bench >/dev/null && x64=yes
fi

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

frames=60
for case in 1280x720 1920x1080 1280x720-noise; do
  size=${case%-noise}
  w=${size%x*}
  h=${size#*x}
  filter=null
  [ "$case" = "$size" ] || filter=noise=alls=12:allf=t
  f=$work/$case.mjpeg
  if [ ! -f "$f" ]; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=$size:rate=30" -vf "$filter" -frames:v $frames \
      -pix_fmt yuvj422p -c:v mjpeg -q:v 3 -f mjpeg "$f"
    ffmpeg -hide_banner -loglevel error -y -i "$f" -frames:v 1 -pix_fmt bgr24 -f rawvideo "$work/$case.bgr24"
  fi
  : >"$work/ffmpeg.txt"
  : >"$work/results.txt"  # lines: kind ours stbapi
  r=0
  while [ $r -lt "$rounds" ]; do
    r=$((r + 1))
    ffmpeg -hide_banner -threads 1 -benchmark -stream_loop 4 -i "$f" -filter_threads 1 -pix_fmt bgr24 -f null - 2>&1 |
      sed -n "s/.*rtime=\([0-9.]*\)s.*/\1/p" | awk -v n=$((frames * 5)) '{ printf "%.4f\n", $1 * 1000 / n }' >>"$work/ffmpeg.txt"
    "$work/native/zelvora_mjpeg_bench" "$f" "$w" "$h" "$work/$case.bgr24" >"$work/native.log"
    sed -n 's/^RESULT ours=\([0-9.]*\) stbapi=\([0-9.]*\)/native \1 \2/p' "$work/native.log" >>"$work/results.txt"
    "$root/testenv/winerun" "$build" "$build/bin/zelvora_mjpeg_bench.exe" "$(winpath "$f")" "$w" "$h" |
      sed -n 's/^RESULT ours=\([0-9.]*\) stbapi=\([0-9.]*\).*/wine32 \1 \2/p' >>"$work/results.txt"
    if [ -n "$x64" ]; then
      "$root/testenv/winerun" "$build/x64" "$build/x64/bin/zelvora_mjpeg_bench.exe" "$(winpath "$f")" "$w" "$h" |
        sed -n 's/^RESULT ours=\([0-9.]*\) stbapi=\([0-9.]*\).*/wine64 \1 \2/p' >>"$work/results.txt"
    fi
  done
  ff=$(median <"$work/ffmpeg.txt")
  echo "$case: median of $rounds rounds, ms per frame; native picture against ffmpeg's:$(sed -n 's/.*picture://p' "$work/native.log")"
  printf '  %-8s %8s %8s %8s %14s\n' "" ffmpeg ours ratio "stb_image API"
  printf '  %-8s %8.3f\n' ffmpeg "$ff"
  for kind in native wine32 wine64; do
    grep -q "^$kind " "$work/results.txt" || continue
    m=$(awk -v k=$kind '$1 == k { print $2 }' "$work/results.txt" | median)
    s=$(awk -v k=$kind '$1 == k { print $3 }' "$work/results.txt" | median)
    printf '  %-8s %8s %8.3f %7.2fx %14.3f\n' "$kind" "" "$m" "$(echo "$m $ff" | awk '{ print $1 / $2 }')" "$s"
  done
done
