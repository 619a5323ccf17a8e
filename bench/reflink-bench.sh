#!/usr/bin/env bash
# Times trims on a file system that shares blocks between files (XFS with
# reflink, in a 2 GB sparse loop image): keeptime-cli sharing the input's blocks,
# the same trim with --no-share (the copy through memory that other file systems
# get), and dd conv=fsync of the same bytes. Runs alternate within each round.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# shellcheck source=scripts/common.sh
source "$BENCH_ROOT/scripts/common.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N]

As root: mounts a 2 GB sparse XFS image with reflink (made in /var/tmp), writes
a BWF file with 1 GiB of random audio into it, and times in rounds:

  keeptime-cli trim of the middle three quarters (768 MiB), sharing blocks
  the same with --no-share
  dd bs=1M conv=fsync of the same bytes
  keeptime-cli trim from 1 s to 1 s before the end, sharing blocks

(The image holds one copy written anew beside the input, so the stretch that
is written anew is three quarters of the file.) The image is unmounted and
removed when the script ends, however it ends.

  --cli PATH   keeptime-cli to measure (default: \$KEEPTIME_CLI, else
               build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --rounds N   rounds, at least 5, default 9
EOF
}

cli="$(default_cli)"
rounds=9
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 5 )); then die "--rounds needs a whole number of at least 5"; fi
for tool in dd cmp python3 ffprobe filefrag; do
    command -v "$tool" >/dev/null || die "$tool is not installed (Debian: apt-get install coreutils diffutils python3 ffmpeg e2fsprogs)"
done
need_space /var/tmp $(( 2 << 30 )) || die "need 3 GiB free in /var/tmp for the image"
trap unmount_reflink_image EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mount_reflink_image || die "cannot mount the XFS image"
dir="$REFLINK_DIR"
input="$dir/input.wav"
shared="$dir/out-shared.wav"
written="$dir/out-written.wav"
raw="$dir/out-dd.raw"
long="$dir/out-long.wav"

say "== keeptime trim on a file system that shares blocks"
machine "$dir"
say "cli:         $cli ($("$cli" --version))"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the file was made"

frame=6
audio=$(( 1024 * 1048576 / frame * frame ))
header="$(python3 "$BENCH_HERE/make-header.py" "$input" --audio-bytes "$audio")"
dd if=/dev/urandom bs=1M iflag=count_bytes count="$audio" status=none >>"$input"
sync
frames=$(( audio / frame ))
first=$(( frames / 8 ))
end=$(( frames - frames / 8 ))
bytes=$(( (end - first) * frame ))
skip=$(( header + first * frame ))
say "input:       $(stat -c %s "$input") bytes, header $header bytes; stretch: frames $first to $end ($bytes bytes)"

# --- one untimed run of each, to check the copies ---------------------------------
failures=0
check() {  # check WHAT COMMAND...: runs COMMAND, prints ok or FAILED.
    local what="$1"; shift
    if "$@"; then say "check:       ok      $what"; else say "check:       FAILED  $what"; failures=$(( failures + 1 )); fi
}
ours=("$cli" trim "$input" -o "$shared" --start-frame "$first" --end-frame "$end" --force --quiet)
"${ours[@]}" --json >"$dir/shared.json" 2>/dev/null || die "keeptime-cli trim failed"
"${ours[@]/$shared/$written}" --no-share --json >"$dir/written.json" 2>/dev/null || die "keeptime-cli trim --no-share failed"
field() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$1" "$2"; }
audio_at() { python3 "$BENCH_ROOT/tests/cli/riffcheck.py" "$1" | python3 -c 'import json, sys; print(json.load(sys.stdin)["dataOffset"] + 8)'; }
for copy in "$shared" "$written"; do
    check "$(basename "$copy"): audio identical to the input's range (cmp, $bytes bytes)" \
        cmp --quiet --bytes="$bytes" --ignore-initial="$skip:$(audio_at "$copy")" "$input" "$copy"
    check "$(basename "$copy"): riffcheck.py finds no error" \
        test "$(python3 "$BENCH_ROOT/tests/cli/riffcheck.py" "$copy" | python3 -c 'import json, sys; print(len(json.load(sys.stdin)["errors"]))')" -eq 0
    check "$(basename "$copy"): ffprobe reads $(( end - first )) frames" \
        test "$(ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 "$copy")" -eq $(( end - first ))
done
say "shared:      $(field "$dir/shared.json" sharedBytes) of $bytes bytes shared, chunks $(field "$dir/shared.json" chunks)"
check "shared copy: filefrag shows shared blocks" grep -q shared <(filefrag -v "$shared")
check "--no-share copy: no JUNK chunk and nothing shared" \
    test "$(field "$dir/written.json" sharedBytes)" = 0 -a "$(field "$dir/written.json" chunks | grep -c JUNK)" = 0
rm -f "$shared" "$written"
sync
free_before=$(free_bytes "$dir")
"${ours[@]}" >/dev/null
sync
say "space:       the shared copy took $(( free_before - $(free_bytes "$dir") )) bytes of free space (df)"
say ""

# --- the timed rounds -------------------------------------------------------------
names=("keeptime trim, shared" "keeptime trim --no-share" "dd bs=1M conv=fsync" "keeptime trim, 1 s..end-1 s")
cmds=(
    "${ours[@]}"
    ::: "${ours[@]/$shared/$written}" --no-share
    ::: dd if="$input" of="$raw" bs=1M iflag=skip_bytes,count_bytes skip="$skip" count="$bytes" conv=fsync status=none
    ::: "$cli" trim "$input" -o "$long" --start 1 --end-from-end 1 --force --quiet
)
before="rm -f '$shared' '$written' '$raw' '$long'; sync"
say "timing:      $rounds rounds, each running the four in turn; before every run: delete outputs, sync"
python3 "$BENCH_HERE/timed.py" --runs "$rounds" --quiet-output --no-memory --before "$before" -- "${cmds[@]}" \
    >"$dir/times.txt"
say ""
say "== result (medians of $rounds runs)"
printf '%-30s %10s %10s %10s %14s\n' "" "median s" "min s" "max s" "/ dd fsync"
declare -a med
for i in "${!names[@]}"; do
    med[i]="$(awk -v i="$i" '$1 == i { print $2 }' "$dir/times.txt" | median)"
done
for i in "${!names[@]}"; do
    lo="$(awk -v i="$i" '$1 == i { print $2 }' "$dir/times.txt" | sort -g | head -n1)"
    hi="$(awk -v i="$i" '$1 == i { print $2 }' "$dir/times.txt" | sort -g | tail -n1)"
    printf '%-30s %10.4f %10.4f %10.4f %14s\n' "${names[i]}" "${med[i]}" "$lo" "$hi" "$(ratio "${med[i]}" "${med[2]}")"
done
say ""
if awk "BEGIN { exit !(${med[0]} < 0.05 * ${med[2]}) }"; then
    say "target met:    under 0.05x dd conv=fsync (ratio $(ratio "${med[0]}" "${med[2]}"))"
else
    say "target MISSED: under 0.05x dd conv=fsync (ratio $(ratio "${med[0]}" "${med[2]}"))"
fi
say "load:          $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
if (( failures )); then
    die "$failures check(s) failed"
fi
