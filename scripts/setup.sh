#!/bin/sh
# Installs what the build, the player and the tests need on Debian 12, when missing.
set -e
PACKAGES="cmake make g++ pkg-config ccache
  qt6-base-dev libqt6opengl6-dev qt6-multimedia-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  librubberband-dev ffmpeg
  xvfb xauth xdotool x11-utils libgl1-mesa-dri libglx-mesa0 libegl-mesa0
  pulseaudio pulseaudio-utils dbus fonts-dejavu-core"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
# Another package manager at work (unattended upgrades, a second job) holds
# the lock: wait for it rather than fail at once.
lock_wait="-o DPkg::Lock::Timeout=600"
$SUDO apt-get $lock_wait update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get $lock_wait install -y -q --no-install-recommends $missing
