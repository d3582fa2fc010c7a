#!/bin/sh
# Makes the Windows Media files that the playback and frame extraction tests read, with ffmpeg,
# into the directory given (inside the build tree). Quick when they are already there.
#   make-media.sh OUT_DIR
set -eu
out=$1
stamp="$out/.complete-v2"
[ -f "$stamp" ] && exit 0
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# Picture source: a test pattern whose hue turns by 47 degrees from one picture to the next, so
# that neighbouring pictures are far apart.
pattern() { echo "testsrc=size=$1:rate=$2:duration=$3,hue=h=n*47"; }

# Video only, 352x288 (larger than the 320x240 that every played frame reports), 30 pictures.
ff -f lavfi -i "$(pattern 352x288 15 2)" -c:v wmv2 video.wmv
# The same file under other names of the family, and one that is not of it.
cp video.wmv UPPER.WMV
cp video.wmv video.asf
cp video.wmv "video.asf.bak"
ff -f lavfi -i "$(pattern 160x120 15 1)" -c:v mpeg4 clip.mp4
# Video and audio; audio only.
ff -f lavfi -i "$(pattern 352x288 15 2)" -f lavfi -i "sine=frequency=440:duration=2" \
   -c:v wmv2 -c:a wmav2 av.wmv
ff -f lavfi -i "sine=frequency=440:duration=1" -c:a wmav2 audio.wma
# A picture smaller than 320x240, and one whose 24-bit rows need padding (162 x 3 = 486 bytes).
ff -f lavfi -i "$(pattern 160x120 15 1)" -c:v wmv2 small.wmv
ff -f lavfi -i "$(pattern 162x120 15 1)" -c:v wmv2 padded.wmv
# Two picture streams in one file.
ff -f lavfi -i "$(pattern 160x120 15 1)" -f lavfi -i "testsrc2=size=160x120:rate=15:duration=1" \
   -map 0:v -map 1:v -c:v wmv2 twovideo.asf

# ffmpeg's own decode of pictures 1, 2 and 30 of video.wmv: 24-bit BGR, bottom row first.
ref() { ff -i video.wmv -vf "select=eq(n\\,$1),vflip" -frames:v 1 -pix_fmt bgr24 -f rawvideo "$2"; }
ref 0 video-1.bgr
ref 1 video-2.bgr
ref 29 video-30.bgr

touch "$stamp"
