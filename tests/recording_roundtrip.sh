#!/bin/sh
# Round trip of a recording through the registered component:
#   recording_roundtrip.sh WINERUN BUILD_TREE DLL_TEST_PROGRAM OUT_DIR
# 1. A case of the component tests records about 3 s of the virtual camera (640x480) and
#    microphone to OUT_DIR/roundtrip.wmv (the stand-in writer adds roundtrip.wmv.record.txt).
# 2. ffprobe and ffmpeg read the file: one video stream of 640x480 and one audio stream, as many
#    pictures as the writer received (within 2 %), audio as long as the video (within 100 ms),
#    time stamps rising in each stream; ffmpeg's picture 10 is written as 24-bit bottom-up rows.
# 3. A second case plays the file through the component to its end and compares its picture 10
#    (LoadFrameFromFile) with ffmpeg's; it also checks ffmpeg's picture shows the camera's frame 10.
# Wine programs cannot start ffprobe, hence the script around the two cases.
set -u
winerun=$1
tree=$2
program=$3
out=$4
mkdir -p "$out"
file="$out/roundtrip.wmv"
picture="$out/picture10.bgr"
rm -f "$file" "$file.record.txt" "$picture"
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
failed=0
fail() {
  echo "recording_roundtrip: $*"
  failed=1
}

ZELVORA_ROUNDTRIP_FILE=$(dos "$file") \
  "$winerun" "$tree" "$program" --gtest_filter=Recording.RoundTripRecordsThreeSecondsOfCameraAndMicrophone || exit 1
[ -s "$file" ] || { echo "recording_roundtrip: no recording at $file"; exit 1; }
ls -l "$file"

# Streams, as "key=value|key=value" lines.
streams=$(ffprobe -v error -count_frames -show_entries stream=index,codec_type,codec_name,pix_fmt,width,height,nb_read_frames \
  -of compact=p=0 "$file") || { echo "recording_roundtrip: ffprobe cannot read $file"; exit 1; }
echo "$streams"
value() { printf '%s\n' "$1" | tr '|' '\n' | sed -n "s/^$2=//p"; }
video=$(printf '%s\n' "$streams" | grep 'codec_type=video')
audio=$(printf '%s\n' "$streams" | grep 'codec_type=audio')
[ "$(printf '%s\n' "$streams" | grep -c .)" -eq 2 ] || fail "expected two streams"
[ -n "$video" ] && [ -n "$audio" ] || fail "expected one video and one audio stream"
[ "$(value "$video" width)x$(value "$video" height)" = 640x480 ] || fail "picture size is not 640x480"

# Pictures: as many as reached the writer (its record beside the file).
pictures=$(value "$video" nb_read_frames)
received=$(sed -n 's/^input .*pin="Video Input 01".* samples=\([0-9]*\) .*/\1/p' "$file.record.txt")
echo "pictures in the file: $pictures, received by the writer: ${received:-?}"
[ -n "$received" ] && [ "$received" -gt 0 ] || fail "the writer's record names no video samples"
[ -n "$received" ] && awk -v p="${pictures:-0}" -v r="$received" 'BEGIN { d = p - r; if (d < 0) d = -d; exit !(d * 50 <= r) }' ||
  fail "picture count $pictures is not within 2 % of $received"

# Time stamps per stream: rising; audio ends within 100 ms of the video (a picture lasts until
# the next one, its length taken as the mean interval).
ffprobe -v error -show_entries packet=stream_index,pts_time,duration_time -of csv=p=0 "$file" | awk -F, \
  -v v="$(value "$video" index)" -v a="$(value "$audio" index)" '
  { s = $1; t = $2 + 0
    if (s in last && t <= last[s]) { printf "time stamps fall in stream %s: %s after %s\n", s, t, last[s]; bad = 1 }
    if (!(s in first)) first[s] = t
    last[s] = t; dur[s] = $3 + 0; n[s]++ }
  END {
    vend = last[v] + (n[v] > 1 ? (last[v] - first[v]) / (n[v] - 1) : 0)
    aend = last[a] + dur[a]
    printf "video %.3f s to %.3f s, audio %.3f s to %.3f s\n", first[v], vend, first[a], aend
    vlen = vend - first[v]; alen = aend - first[a]
    if (vlen < 2) { print "video shorter than 2 s"; bad = 1 }
    if (alen - vlen > 0.1 || vlen - alen > 0.1) { print "audio and video lengths differ by more than 100 ms"; bad = 1 }
    exit bad }' || fail "time stamps"

# Picture 10 (the 10th, as LoadFrameFromFile counts) as bottom-up BGR rows. ffmpeg's ASF reader
# takes the rows of uncompressed RGB as they are stored (bottom-up) and of YUV top-down.
flip=",vflip"
[ "$(value "$video" pix_fmt)" = bgr24 ] && flip=""
ffmpeg -v error -y -i "$file" -map 0:v:0 -vf "select=eq(n\\,9)$flip" -frames:v 1 -pix_fmt bgr24 -f rawvideo "$picture" ||
  fail "ffmpeg cannot decode picture 10"

ZELVORA_ROUNDTRIP_FILE=$(dos "$file") ZELVORA_ROUNDTRIP_PICTURE=$(dos "$picture") \
  "$winerun" "$tree" "$program" --gtest_filter=Recording.RoundTripPlaysTheRecordingAndPicture10IsFfmpegsPicture ||
  fail "playback and picture 10 through the component"

[ "$failed" -eq 0 ] && echo "recording_roundtrip: passed" && rm -f "$file" "$picture"
exit "$failed"
