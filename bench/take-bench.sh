#!/usr/bin/env bash
# Times a whole take: 4 files of one take (by default 256 MiB each) trimmed with
# keeptime-cli trim --take into a folder, against dd conv=fsync copying the same
# audio bytes one file after another. Runs alternate within each round.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N] [--dir DIR] [--mib N]

Makes a take of 4 Broadcast-WAV files with N MiB of random audio each (default
256) whose stamps differ by a few samples, trims it from 1 s to 1 s before its
end with keeptime-cli trim --take (4 copies at once, and with --jobs 1), and
copies the same bytes with dd conv=fsync, file after file. Prints the medians
and the ratios. --dir: where the scratch folder goes (default /var/tmp).
EOF
}

cli="$(default_cli)"
rounds=5
base=/var/tmp
mib=256
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --mib) mib="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$mib" =~ ^[1-9][0-9]*$ ]] || (( mib < 8 || mib >= 1000 )); then die "--mib needs a whole number from 8 to 999"; fi
for tool in dd cmp python3; do command -v "$tool" >/dev/null || die "$tool is not installed"; done

frame=6
audio=$(( mib * 1048576 / frame * frame ))
need_space "$base" "$(( audio * 4 * 3 ))" || die "need about $(( audio * 12 / 1048576 + 1024 )) MiB free in $base"
make_scratch "$base"
mkdir "$SCRATCH/in" "$SCRATCH/out" "$SCRATCH/dd"

say "== keeptime take benchmark"
machine "$SCRATCH"
say "cli:         $cli ($("$cli" --version))"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the files were made"
deltas=(0 3 -2 1)
header=0
for i in 1 2 3 4; do
    header="$(python3 "$BENCH_HERE/make-header.py" "$SCRATCH/in/Tr$i.wav" --audio-bytes "$audio" \
        --time-reference $(( 1728000000 + deltas[i - 1] )) --file-set "BENCH,$i,4")"
    dd if=/dev/urandom bs=1M iflag=count_bytes count="$audio" status=none >>"$SCRATCH/in/Tr$i.wav"
done
sync
say "input:       4 files of $audio audio bytes (48 kHz stereo 24-bit), stamps 10:00:00 + (${deltas[*]}) samples"

# One untimed run: the frames of each copy, and the checks.
"$cli" trim "$SCRATCH/in/Tr1.wav" --take -o "$SCRATCH/out" --start 1 --end-from-end 1 --quiet --json \
    >"$SCRATCH/take.json" 2>"$SCRATCH/take.err" || { cat "$SCRATCH/take.err" >&2; die "keeptime-cli trim --take failed"; }
mapfile -t rows < <(python3 -c '
import json, sys
for c in json.load(open(sys.argv[1])):
    print(c["output"], c["startFrame"], c["audioBytes"], c["timeReferenceAfter"], c["fileBytes"])' "$SCRATCH/take.json")
failures=0
check() {
    local what="$1"; shift
    if "$@"; then say "check:       ok      $what"; else say "check:       FAILED  $what"; failures=$(( failures + 1 )); fi
}
check "4 copies" test "${#rows[@]}" -eq 4
dd_cmds=""
stamps=()
for row in "${rows[@]}"; do
    read -r out start bytes stamp size <<<"$row"
    name="$(basename "$out")"
    skip=$(( header + start * frame ))
    out_header=$(( size - bytes - (bytes & 1) ))
    check "$name: audio identical to the input's from frame $start" \
        cmp --quiet --bytes="$bytes" --ignore-initial="$skip:$out_header" "$SCRATCH/in/$name" "$out"
    stamps+=("$stamp")
    dd_cmds+="dd if='$SCRATCH/in/$name' of='$SCRATCH/dd/$name' bs=1M iflag=skip_bytes,count_bytes skip=$skip count=$bytes conv=fsync status=none && "
done
check "every copy's stamp is the same sample of the day (${stamps[*]})" test "$(printf '%s\n' "${stamps[@]}" | sort -u | wc -l)" -eq 1
say ""

names=("keeptime-cli trim --take" "keeptime-cli trim --take --jobs 1" "dd conv=fsync, file after file")
take_cmd=("$cli" trim "$SCRATCH/in/Tr1.wav" --take -o "$SCRATCH/out" --start 1 --end-from-end 1 --quiet)
cmds=("${take_cmd[@]}" ::: "${take_cmd[@]}" --jobs 1 ::: sh -c "${dd_cmds}true")
before="rm -f '$SCRATCH'/out/* '$SCRATCH'/dd/*; sync"
say "timing:      $rounds rounds, each running the three in turn; before every run: delete outputs, sync"
python3 "$BENCH_HERE/timed.py" --runs "$rounds" --quiet-output --no-memory --before "$before" -- "${cmds[@]}" \
    >"$SCRATCH/times.txt"
say ""
say "== result ($(( audio * 4 )) bytes of input audio; medians of $rounds runs)"
printf '%-36s %9s %9s %9s %12s\n' "" "median s" "min s" "max s" "it / dd"
dd_median="$(awk '$1 == 2 { print $2 }' "$SCRATCH/times.txt" | median)"
declare -a med
for i in "${!names[@]}"; do
    values="$(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt")"
    med[i]="$(median <<<"$values")"
    printf '%-36s %9.3f %9.3f %9.3f %12s\n' "${names[i]}" "${med[i]}" "$(sort -g <<<"$values" | head -n1)" \
        "$(sort -g <<<"$values" | tail -n1)" "$(ratio "${med[i]}" "$dd_median")"
done
say ""
if awk "BEGIN { exit !(${med[0]} <= 1.1 * $dd_median) }"; then
    say "target met:    a take within 1.1x of dd conv=fsync file after file (ratio $(ratio "${med[0]}" "$dd_median"))"
else
    say "target MISSED: a take within 1.1x of dd conv=fsync file after file (ratio $(ratio "${med[0]}" "$dd_median"))"
fi
say "load:          $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
if (( failures )); then die "$failures check(s) failed"; fi
