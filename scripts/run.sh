#!/bin/sh
# Installs what is missing, builds and starts the player.
#   scripts/run.sh [FILE...]   with no file, a generated sample clip is opened.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_BENCH=OFF

if [ $# -eq 0 ]; then
  sample="$root/build/sample/sample.mp4"
  if [ ! -s "$sample" ]; then
    mkdir -p "$(dirname "$sample")"
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=24:duration=10" \
      -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=10" -map 0:v -map 1:a \
      -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2 "$sample"
  fi
  set -- "$sample"
fi

if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
  echo "No display: running under Xvfb."
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$root/build/release/tessarin_orvel" "$@"
fi
exec "$root/build/release/tessarin_orvel" "$@"
