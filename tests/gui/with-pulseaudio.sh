#!/usr/bin/env bash
# Runs a command against a private PulseAudio server whose one output is a null
# sink, with KEEPTIME_PULSE_MONITOR naming the source that records it. Exits 77
# (skipped) when no server can run here; stops the server afterwards.
set -u
if ! command -v pulseaudio >/dev/null || ! command -v parec >/dev/null || ! command -v pactl >/dev/null; then
    echo "SKIPPED: pulseaudio, pactl and parec are not installed (packages pulseaudio, pulseaudio-utils)"
    exit 77
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/keeptime-pulse-XXXXXX")
# Everything of this server lives in dir, apart from any server the user runs.
export HOME=$dir XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state
export PULSE_SERVER=unix:$dir/native
# norewinds: after a stream ran dry, a sink that rewinds writes the stream's next frames over the
# silence it has not played yet; its monitor has passed that silence on already, and the recording
# would miss those frames although they were played.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=false --disallow-exit \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=keeptime_null rate=48000 format=float32le channels=2 norewinds=1" \
    --log-target="file:$dir/log" &
server=$!
stop_server() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap stop_server EXIT
for _ in $(seq 50); do
    timeout 5 pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
if ! timeout 5 pactl set-default-sink keeptime_null 2>/dev/null; then
    echo "SKIPPED: PulseAudio could not start here:"
    tail -n 5 "$dir/log"
    exit 77
fi
export KEEPTIME_PULSE_MONITOR=keeptime_null.monitor
timeout 120 "$@"
