#!/usr/bin/env bash
# A batch of many short files trimmed into one folder by one keeptime-cli run:
# its time and peak memory, and what it holds at once (open descriptors and
# threads, sampled from /proc), and whether it runs with 64 descriptors.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--against PATH] [--rounds N] [--dir DIR] [--files N]

Makes N Broadcast-WAV files (default 1000) of 1 s of random audio each (48 kHz
stereo 24-bit), trims them all from 0.5 s into a folder with one
keeptime-cli trim run, and prints the median time and peak memory of --rounds
runs (default 5), the most descriptors and threads the run held at once, and
whether the run succeeds under ulimit -n 64. --against: another keeptime-cli
(an earlier build, say), measured the same way, its runs alternating with
these. --dir: where the scratch folder goes (default /var/tmp).
EOF
}

cli="$(default_cli)"
against=""
rounds=5
base=/var/tmp
files=1000
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --against) against="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --files) files="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
clis=("$cli")
if [[ -n "$against" ]]; then check_cli "$against"; clis+=("$against"); fi
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$files" =~ ^[1-9][0-9]*$ ]] || (( files > 20000 )); then die "--files needs a whole number from 1 to 20000"; fi
command -v python3 >/dev/null || die "python3 is not installed"

audio=288000
need_space "$base" "$(( files * audio * 2 ))" || die "need about $(( files * audio * 2 / 1048576 + 1024 )) MiB free in $base"
make_scratch "$base"
mkdir "$SCRATCH/in" "$SCRATCH/out"

say "== keeptime batch benchmark"
machine "$SCRATCH"
for c in "${clis[@]}"; do say "cli:         $c ($("$c" --version))"; done
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the files were made"
python3 "$BENCH_HERE/make-header.py" "$SCRATCH/header" --audio-bytes "$audio" --time-reference 1728000000 >/dev/null
python3 - "$SCRATCH" "$files" "$audio" <<'PY'
import os, sys
scratch, files, audio = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
header = open(os.path.join(scratch, "header"), "rb").read()
for i in range(files):
    with open(os.path.join(scratch, "in", "f%05d.wav" % i), "wb") as f:
        f.write(header + os.urandom(audio))
PY
sync
say "input:       $files files of $audio audio bytes (1 s), descriptor limit $(ulimit -n)"

failures=0
check() {
    local what="$1"; shift
    if "$@"; then say "check:       ok      $what"; else say "check:       FAILED  $what"; failures=$(( failures + 1 )); fi
}

# One untimed run of each, watched: the most descriptors and threads it held at once.
declare -a held limited cmds
for i in "${!clis[@]}"; do
    trim=("${clis[i]}" trim --quiet --start 0.5 "$SCRATCH"/in/*.wav -o "$SCRATCH/out")
    "${trim[@]}" >/dev/null 2>"$SCRATCH/trim.err" &
    pid=$!
    most_fds=0 most_threads=0
    while [[ -d /proc/$pid ]]; do
        fds="$(ls /proc/$pid/fd 2>/dev/null | wc -l || true)"
        threads="$(awk '/^Threads:/ { print $2 }' /proc/$pid/status 2>/dev/null || true)"
        (( fds > most_fds )) && most_fds=$fds
        (( ${threads:-0} > most_threads )) && most_threads=$threads
    done
    wait "$pid" || { head -n 3 "$SCRATCH/trim.err" >&2; die "${clis[i]} trim failed"; }
    held[i]="$most_fds descriptors, $most_threads threads"
    copies="$(find "$SCRATCH/out" -maxdepth 1 -type f -name '*.wav' | wc -l)"
    check "${clis[i]}: $files copies" test "$copies" -eq "$files"
    check "${clis[i]}: no hidden file left" test -z "$(find "$SCRATCH/out" -maxdepth 1 -name '.*' -print -quit)"
    rm -rf "$SCRATCH/out" && mkdir "$SCRATCH/out"
    if (ulimit -n 64 && exec "${trim[@]}" >/dev/null 2>"$SCRATCH/limited.err"); then limited[i]=yes
    else limited[i]="no: $(head -n 1 "$SCRATCH/limited.err")"; fi
    rm -rf "$SCRATCH/out" && mkdir "$SCRATCH/out"
    (( i > 0 )) && cmds+=(:::)
    cmds+=("${trim[@]}")
done
say ""

say "timing:      $rounds rounds$( (( ${#clis[@]} > 1 )) && echo ", the two alternating"); before every run: delete the copies, sync"
python3 "$BENCH_HERE/timed.py" --runs "$rounds" --quiet-output --before "rm -rf '$SCRATCH/out' && mkdir '$SCRATCH/out' && sync" \
    -- "${cmds[@]}" >"$SCRATCH/times.txt"
say ""
say "== result ($files files; medians of $rounds runs)"
for i in "${!clis[@]}"; do
    times="$(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt")"
    say "${clis[i]}"
    say "  time:          $(median <<<"$times") s (min $(sort -g <<<"$times" | head -n1), max $(sort -g <<<"$times" | tail -n1))"
    say "  peak memory:   $(awk -v i="$i" '$1 == i { print $3 }' "$SCRATCH/times.txt" | median | xargs printf "%.0f") KiB"
    say "  held at once:  ${held[i]} (sampled)"
    say "  ulimit -n 64:  ${limited[i]}"
done
say "load:          $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
if (( failures )); then die "$failures check(s) failed"; fi
