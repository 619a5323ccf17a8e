#!/usr/bin/env bash
# Times keeptime-cli split: one recording cut into 100 pieces against dd conv=fsync
# writing the same audio bytes as one file, runs alternating within each round;
# the same on XFS with reflink where it can be mounted (as root); and the
# planning of a split of 1,000 segments from a list.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# shellcheck source=scripts/common.sh
source "$BENCH_ROOT/scripts/common.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N] [--dir DIR] [--mib N] [--no-reflink]

Makes a Broadcast-WAV file with N MiB of random audio (default 4096: RF64),
splits it with keeptime-cli split --every into 100 pieces, checks that the
pieces hold the input's audio, and times the split against dd bs=1M conv=fsync
of the same bytes into one file. As root, and unless --no-reflink, it then does
the same with 768 MiB in a 2 GB XFS image with reflink (made in /var/tmp).
Last it times the planning of 1,000 segments from a list with
keeptime_plan_split (built with -DKEEPTIME_BENCH=ON beside the cli), when it is built.
--dir: where the scratch folder goes (default /var/tmp).
EOF
}

cli="$(default_cli)"
rounds=5
base=/var/tmp
mib=4096
reflink=1
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --mib) mib="$2"; shift 2 ;;
        --no-reflink) reflink=0; shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$mib" =~ ^[1-9][0-9]*$ ]] || (( mib < 16 )); then die "--mib needs a whole number of at least 16"; fi
for tool in dd cmp python3; do command -v "$tool" >/dev/null || die "$tool is not installed"; done
planner="$(dirname "$cli")/../bench/keeptime_plan_split"

frame=6
failures=0
check() {
    local what="$1"; shift
    if "$@"; then say "check:       ok      $what"; else say "check:       FAILED  $what"; failures=$(( failures + 1 )); fi
}

# bench_split DIR MIB LABEL: makes the input in DIR, checks one split and times split against dd.
bench_split() {
    local dir="$1" mib="$2" label="$3"
    local audio=$(( mib * 1048576 / frame * frame )) input="$1/input.wav" header rf64=()
    if (( audio + 1024 >= 1 << 32 )); then rf64=(--rf64); fi
    mkdir -p "$dir/out" "$dir/dd"
    header="$(python3 "$BENCH_HERE/make-header.py" "$input" --audio-bytes "$audio" "${rf64[@]}")"
    dd if=/dev/urandom bs=1M iflag=count_bytes count="$audio" status=none >>"$input"
    sync
    local frames=$(( audio / frame )) every
    # 100 pieces: whole frames per piece, the last one shorter.
    every="$(python3 -c 'import sys; f = int(sys.argv[1]); print("%.6f" % (-(-f // 100) / 48000))' "$frames")"
    say "== $label: $audio audio bytes${rf64[*]:+ (RF64)}, split --every $every --seconds"
    "$cli" split "$input" -o "$dir/out" --every "$every" --seconds --quiet --json >"$dir/split.json" 2>"$dir/split.err" ||
        { cat "$dir/split.err" >&2; die "keeptime-cli split failed"; }
    local rows
    mapfile -t rows < <(python3 -c '
import json, sys
for c in json.load(open(sys.argv[1])):
    print(c["output"], c["startFrame"], c["audioBytes"], c["fileBytes"], c["sharedBytes"])' "$dir/split.json")
    check "100 pieces" test "${#rows[@]}" -eq 100
    local shared=0 row out start bytes size sharedBytes
    for row in "${rows[0]}" "${rows[49]}" "${rows[99]}"; do
        read -r out start bytes size sharedBytes <<<"$row"
        check "$(basename "$out"): audio identical to the input's from frame $start" \
            cmp --quiet --bytes="$bytes" --ignore-initial="$(( header + start * frame )):$(( size - bytes - (bytes & 1) ))" "$input" "$out"
    done
    for row in "${rows[@]}"; do read -r out start bytes size sharedBytes <<<"$row"; shared=$(( shared + sharedBytes )); done
    say "shared:      $shared of $audio audio bytes are the input's own blocks"
    local split_cmd=("$cli" split "$input" -o "$dir/out" --every "$every" --seconds --quiet)
    local dd_cmd=(dd if="$input" of="$dir/dd/audio.raw" bs=1M iflag=skip_bytes,count_bytes skip="$header" count="$audio"
                  conv=fsync status=none)
    local before="rm -f '$dir'/out/* '$dir'/dd/*; sync"
    say "timing:      $rounds rounds, split then dd; before every run: delete outputs, sync"
    python3 "$BENCH_HERE/timed.py" --runs "$rounds" --quiet-output --no-memory --before "$before" -- \
        "${split_cmd[@]}" ::: "${dd_cmd[@]}" >"$dir/times.txt"
    local names=("keeptime-cli split (100 pieces)" "dd conv=fsync (one file)") i values dd_median
    dd_median="$(awk '$1 == 1 { print $2 }' "$dir/times.txt" | median)"
    printf '%-36s %9s %9s %9s %12s\n' "" "median s" "min s" "max s" "it / dd"
    for i in 0 1; do
        values="$(awk -v i="$i" '$1 == i { print $2 }' "$dir/times.txt")"
        printf '%-36s %9.3f %9.3f %9.3f %12s\n' "${names[i]}" "$(median <<<"$values")" "$(sort -g <<<"$values" | head -n1)" \
            "$(sort -g <<<"$values" | tail -n1)" "$(ratio "$(median <<<"$values")" "$dd_median")"
    done
    rm -f "$dir"/out/* "$dir"/dd/* "$input"
    say ""
}

say "== keeptime split benchmark"
machine "$base"
say "cli:         $cli ($("$cli" --version))"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
need_space "$base" "$(( mib * 1048576 * 3 ))" || die "need about $(( mib * 3 + 1024 )) MiB free in $base"
make_scratch "$base"
bench_split "$SCRATCH/plain" "$mib" "$(findmnt -no FSTYPE -T "$base" 2>/dev/null || echo "?") in $base"

if (( reflink )); then
    trap 'unmount_reflink_image; cleanup_scratch' EXIT
    if mount_reflink_image; then
        bench_split "$REFLINK_DIR/run" 768 "XFS with reflink (loop image)"
        unmount_reflink_image
    fi
fi

if [[ -x "$planner" ]]; then
    list="$SCRATCH/list.csv" hour="$SCRATCH/hour.wav"
    hour_header="$(python3 "$BENCH_HERE/make-header.py" "$hour" --audio-bytes $(( 48000 * 6 * 3600 )))"
    truncate -s $(( hour_header + 48000 * 6 * 3600 )) "$hour"  # an hour, sparse: only its head is read
    python3 -c '
def tc(f): return "%02d:%02d:%02d.%02d" % (10 + f // 90000, f // 1500 % 60, f // 25 % 60, f % 25 * 4)
print("name,start,end")
for i in range(1000):  # 1,000 overlapping scenes of 10 s, 3.4 s apart, from 10:00:00 (frames at 25 a second)
    print("scene %d,%s,%s" % (i + 1, tc(i * 85), tc(i * 85 + 250)))' >"$list"
    mkdir -p "$SCRATCH/plan"
    say "== planning 1,000 segments from a CSV list (an hour, times of day in seconds)"
    "$planner" "$hour" "$list" "$SCRATCH/plan" 9 >"$SCRATCH/plan.txt"
    say "list read and every copy named (planSplit): median $(awk '{ print $2 }' "$SCRATCH/plan.txt" | median) ms"
    say "every copy's bytes planned (TakeSave):        median $(awk '{ print $3 }' "$SCRATCH/plan.txt" | median) ms"
else
    say "planning: skipped, no $planner (configure with -DKEEPTIME_BENCH=ON)"
fi
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
if (( failures )); then die "$failures check(s) failed"; fi
