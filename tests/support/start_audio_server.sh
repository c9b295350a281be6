#!/bin/sh
# Starts a PulseAudio daemon with a null sink for the tests that play sound.
# Idempotent: does nothing when a server with the sink already answers.
set -e
if ! pactl info >/dev/null 2>&1; then
  pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit --log-target=stderr 2>/dev/null || true
  i=0
  until pactl info >/dev/null 2>&1; do
    i=$((i+1)); [ $i -gt 100 ] && { echo "pulseaudio did not start" >&2; exit 1; }; sleep 0.05
  done
fi
pactl list short sinks | grep -q '^[0-9]*[[:space:]]nullsink[[:space:]]' ||
  pactl load-module module-null-sink sink_name=nullsink rate=48000 channels=2 format=float32le \
    sink_properties=device.description=NullSink >/dev/null
pactl set-default-sink nullsink
pactl unload-module module-suspend-on-idle 2>/dev/null || true
# Left alone, the null sink sleeps between renders and every new stream stalls for
# about two seconds; a tiny stream that stays attached keeps it awake.
if ! pactl list short sink-inputs | grep -q .; then
  pacat --playback --raw --latency-msec=10 --format=float32le --rate=48000 --channels=2 \
        --device=nullsink --stream-name=keepalive </dev/zero >/dev/null 2>&1 &
  echo $! > "${TMPDIR:-/tmp}/tessarin-pulse-keepalive.pid"
  i=0
  until pactl list short sink-inputs | grep -q .; do i=$((i+1)); [ $i -gt 100 ] && break; sleep 0.02; done
  pactl suspend-sink nullsink 1 && pactl suspend-sink nullsink 0
fi
echo "audio server ready: $(pactl info | sed -n 's/^Server String: //p')"
