#!/usr/bin/env bash
# Writes movie_fuzz's seeds: three 16x16 frames of ffmpeg's test picture in
# each container the movie reader opens, with a small codec each (none over
# 10 KB); MPEG-TS needs more frames for its streams to be found, Theora a
# larger picture. The committed corpus/movie_fuzz was made with this and FFmpeg 5.1.
#
#   make_movie_seeds.sh [FOLDER]   (default: corpus/movie_fuzz beside this script)
set -euo pipefail
out=${1:-$(dirname "$0")/corpus/movie_fuzz}
mkdir -p -- "$out"
make() {
  local name=$1 rate=$2 size=${SIZE:-16x16} frames=${FRAMES:-3}
  shift 2
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$rate" -frames:v "$frames" -an \
    -fflags +bitexact -flags +bitexact "$@" "$out/$name"
}
make h264.mp4 5 -c:v libx264 -preset ultrafast -x264-params log=0
make mjpeg.mov 5 -c:v mjpeg -q:v 10
make qtrle.mov 5 -c:v qtrle
make ffv1.mkv 5 -c:v ffv1
make vp8.webm 5 -c:v libvpx -b:v 50k
make mjpeg.avi 5 -c:v mjpeg -q:v 10
make raw.nut 5 -c:v rawvideo -pix_fmt yuv420p
FRAMES=10 make mpeg2.ts 25 -c:v mpeg2video
make mpeg2.mxf 25 -c:v mpeg2video
make mpeg1.mpg 25 -c:v mpeg1video
make flv.flv 5 -c:v flv
SIZE=32x32 make theora.ogv 5 -c:v libtheora
make yuv.y4m 5 -pix_fmt yuv420p
make anim.gif 5
make anim.apng 5 -f apng
