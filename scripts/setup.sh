#!/bin/sh
# Installs what the build, the player and the tests need on Debian 12, when missing.
set -e
PACKAGES="cmake make g++ pkg-config ccache
  qt6-base-dev libqt6opengl6-dev qt6-multimedia-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  librubberband-dev ffmpeg
  xvfb xauth libgl1-mesa-dri libglx-mesa0 libegl-mesa0
  pulseaudio pulseaudio-utils dbus fonts-dejavu-core"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
