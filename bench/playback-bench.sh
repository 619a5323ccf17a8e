#!/usr/bin/env bash
# Playback on a loaded machine: plays half a second of a file through a private
# PulseAudio null sink, many times, and counts the runs in which the device ran dry
# (a gap of silence in what it played). The recording and the comparison are the
# playback test's (tests/gui/AudioOutputTest.cpp, its case "as it comes").
# With --latency it instead times how soon playback starts after Space in the window
# (bench/playback-latency.cpp, built with -DKEEPTIME_BENCH=ON).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--tests PATH] [--runs N] [--busy]
       $(basename "$0") --latency [--helper PATH] [--runs N] [--buffer-ms MS] [--busy]

Runs the playback test's case "as it comes" N times (default 20) under
tests/gui/with-pulseaudio.sh and prints how many runs played a gap of silence,
and how long the gaps were. Nothing is asserted: the figures depend on the load.

  --tests PATH   keeptime_audio_tests (default build/tests/gui/keeptime_audio_tests)
  --runs N       runs (default 20)
  --busy         keeps both cores busy with two loops of the shell while it runs,
                 besides whatever else the machine is doing
  --latency      times, in the window (offscreen, a ten-minute file open), Space to
                 the first frame handed to the sink, to the playhead's first move, and
                 to the first frame recorded from the sink's monitor (the sink's own
                 latency included); prints each run and the medians
  --helper PATH  keeptime_playback_latency (default build/bench/keeptime_playback_latency)
  --buffer-ms MS the device buffer to try (default: the window's own)
EOF
}

tests="$BENCH_ROOT/build/tests/gui/keeptime_audio_tests"
helper="$BENCH_ROOT/build/bench/keeptime_playback_latency"
runs=20
busy=0
latency=0
buffer=0
while (( $# )); do
    case "$1" in
        --tests) tests="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --busy) busy=1; shift ;;
        --latency) latency=1; shift ;;
        --helper) helper="$2"; shift 2 ;;
        --buffer-ms) buffer="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
if ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then die "--runs needs a whole number of at least 1"; fi
if ! [[ "$buffer" =~ ^[0-9]+$ ]]; then die "--buffer-ms needs a whole number of milliseconds"; fi
if (( latency )); then
    [[ -x "$helper" ]] || die "no keeptime_playback_latency at $helper; configure with -DKEEPTIME_BENCH=ON and build it"
else
    [[ -x "$tests" ]] || die "no keeptime_audio_tests at $tests; build it (cmake --build build --target keeptime_audio_tests)"
fi

loops=()
stop_loops() {
    for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap stop_loops EXIT
if (( busy )); then
    for _ in 1 2; do
        (while :; do :; done) &
        loops+=("$!")
    done
fi

if (( latency )); then
    say "== keeptime playback start-up latency"
    say "date:        $(date -u '+%Y-%m-%d %H:%M UTC')"
    say "cores:       $(nproc); busy loops: $(( busy * 2 )); device buffer: $( (( buffer )) && echo "$buffer ms" || echo "the window's")"
    say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
    out="$("$BENCH_HERE/../tests/gui/with-pulseaudio.sh" "$helper" "$runs" "$buffer" 2>/dev/null)" || {
        status=$?
        (( status == 77 )) && die "PulseAudio cannot run here: $out"
        die "the helper failed ($status): $out"
    }
    say "$out" | grep -E '^(run|[0-9])'
    say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
    for col in 2 3 4; do
        name="$(awk -v c="$col" 'NR == 1 { print $c }' <<<"$out")"
        say "median $name: $(awk -v c="$col" '/^[0-9]/ { print $c }' <<<"$out" | sort -n | median)"
    done
    exit 0
fi
say "== keeptime playback benchmark"
say "date:        $(date -u '+%Y-%m-%d %H:%M UTC')"
say "cores:       $(nproc); busy loops: $(( busy * 2 ))"
say "tests:       $tests"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
gaps=()
failed=0
for (( i = 1; i <= runs; i++ )); do
    out="$("$BENCH_HERE/../tests/gui/with-pulseaudio.sh" "$tests" "playsTheFilesAudioFromTheInPoint:as it comes" 2>&1)" || {
        status=$?
        (( status == 77 )) && die "PulseAudio cannot run here: $out"
        failed=$(( failed + 1 ))
    }
    gap="$(sed -n 's/.* \([0-9][0-9]*\) frames of silence while the device ran dry.*/\1/p' <<<"$out")"
    gaps+=("${gap:-0}")
done
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
dry=0
for gap in "${gaps[@]}"; do (( gap > 0 )) && dry=$(( dry + 1 )); done
say "runs:        $runs, of which the test failed in $failed"
say "ran dry:     $dry runs; silence in frames of 48 kHz, run by run: ${gaps[*]}"
