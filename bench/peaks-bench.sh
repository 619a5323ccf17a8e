#!/usr/bin/env bash
# Waveform peaks: `keeptime-cli peaks` of a 1 GiB file against `cat FILE > /dev/null`
# on a warm cache (goal: at most 1.2x), the peak memory for a 4 GiB file (goal:
# under 32 MB), and the window's first picture of a 4 GiB file (goal: under 200 ms).
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--first PATH] [--rounds N] [--dir DIR] [--bits N] [--align N]

Makes a 1 GiB RIFF file of random audio and a sparse 4 GiB RF64 file, then:
  1. times 'keeptime-cli peaks' (256 samples per pixel, JSON to /dev/null) and
     'cat FILE > /dev/null', alternating, on a warm cache;
  2. runs 'keeptime-cli peaks' on the 4 GiB file under GNU time for its peak memory;
  3. runs keeptime_peaks_first (the peak reader as the window runs it) on the
     4 GiB file: the time to its first picture (the coarse overview) and its
     peak memory.

  --cli PATH     keeptime-cli to measure (default: \$KEEPTIME_CLI, else
                 build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --first PATH   keeptime_peaks_first (default: beside the CLI's build, in bench/;
                 build with -DKEEPTIME_BENCH=ON)
  --rounds N     alternating rounds for step 1 (default 7)
  --dir DIR      where the scratch folder goes (default /var/tmp)
  --bits N       sample size of the test files: 16 or 24 (default 24)
  --align N      start the audio on a multiple of N bytes, as recorders that pad
                 their headers do (default: right after the header)

The files' pages are dropped from the cache once written, so that the warm cache
holds pages read from the disk, as it does for a recording, not the pages the
writes left (the kernel keeps those in smaller pieces, which are slower to read).
EOF
}

cli="$(default_cli)"
first=""
rounds=7
base=/var/tmp
bits=24
align=0
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --first) first="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --bits) bits="$2"; shift 2 ;;
        --align) align="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
[[ -n "$first" ]] || first="$(dirname "$(dirname "$cli")")/bench/keeptime_peaks_first"
[[ -x "$first" ]] || die "no keeptime_peaks_first at $first; configure with -DKEEPTIME_BENCH=ON or pass --first PATH"
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || die "--rounds needs a positive whole number"
[[ "$bits" == 16 || "$bits" == 24 ]] || die "--bits is 16 or 24"
[[ "$align" =~ ^[0-9]+$ ]] || die "--align needs a whole number"
[[ -x /usr/bin/time ]] || die "GNU time (/usr/bin/time) is needed for the peak memory"

frame=$(( 2 * bits / 8 ))
small_audio=$(( (1073741824 / frame) * frame ))  # 1 GiB, whole frames
big_audio=$(( (4294967296 / frame) * frame ))    # 4 GiB
need_space "$base" "$small_audio" || die "not enough free space in $base (1 GiB + 1 GiB spare)"
make_scratch "$base"
small="$SCRATCH/peaks-1GiB.wav"
big="$SCRATCH/peaks-4GiB.wav"

say "== keeptime peaks benchmark"
machine "$SCRATCH"
say "cli:         $cli ($("$cli" --version))"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the files were made"

small_head="$(python3 "$BENCH_HERE/make-header.py" "$small" --audio-bytes "$small_audio" --bits "$bits" --align "$align")"
dd if=/dev/urandom bs=1M iflag=count_bytes count="$small_audio" status=none >>"$small"
head_len="$(python3 "$BENCH_HERE/make-header.py" "$big" --rf64 --audio-bytes "$big_audio" --bits "$bits" --align "$align")"
truncate -s "$(( head_len + big_audio ))" "$big"
sync "$small" "$big"
for f in "$small" "$big"; do dd if="$f" iflag=nocache count=0 status=none; done  # drop the written pages
say "files:       $(stat -c %s "$small") bytes (random audio, RIFF), $(stat -c %s "$big") bytes (sparse, RF64),"
say "             48 kHz stereo $bits-bit, audio from byte $small_head"

# The JSON must hold one min and max per channel for each of the file's pixels.
"$cli" peaks "$small" >"$SCRATCH/peaks.json"
python3 - "$SCRATCH/peaks.json" "$(( small_audio / frame ))" <<'EOF' || die "the peaks of the 1 GiB file are wrong"
import json, sys
j = json.load(open(sys.argv[1]))
pixels = -(-int(sys.argv[2]) // 256)
assert j["length"] == pixels and len(j["data"]) == 4 * pixels, (j["length"], pixels)
assert min(j["data"]) < -32000 and max(j["data"]) > 32000  # random audio reaches near full scale
EOF
rm -f "$SCRATCH/peaks.json"

# 1. Warm cache: read the file twice before timing.
cat "$small" >/dev/null; cat "$small" >/dev/null
say ""
say "timing with the monotonic clock (bench/timed.py), alternating, $rounds rounds after 2 warm-up rounds"
python3 "$BENCH_HERE/timed.py" --runs "$rounds" --warmup 2 --quiet-output -- \
    "$cli" peaks "$small" ::: cat "$small" ::: "$first" "$small" >"$SCRATCH/times.txt"
peaks_median="$(awk '$1 == 0 { print $2 }' "$SCRATCH/times.txt" | median)"
cat_median="$(awk '$1 == 1 { print $2 }' "$SCRATCH/times.txt" | median)"
reader_median="$(awk '$1 == 2 { print $2 }' "$SCRATCH/times.txt" | median)"
span() { awk -v i="$1" '$1 == i { print $2 }' "$SCRATCH/times.txt" | sort -g | awk 'NR == 1 { a = $1 } { b = $1 } END { printf "%.3f-%.3f", a, b }'; }
peak_kib() { awk -v i="$1" '$1 == i { print $3 }' "$SCRATCH/times.txt" | sort -g | tail -n1; }

# 2. and 3. The 4 GiB file: read it once so that the cache is warm, then measure.
cat "$big" >/dev/null
/usr/bin/time -f %M -o "$SCRATCH/mem.txt" "$cli" peaks "$big" >/dev/null
big_cli_kib="$(tail -n1 "$SCRATCH/mem.txt")"
for _ in 1 2 3 4 5; do "$first" "$big"; done >"$SCRATCH/first.txt"
first_median="$(awk '$1 == "first_picture_s" { print $2 }' "$SCRATCH/first.txt" | median)"
first_span="$(awk '$1 == "first_picture_s" { print $2 }' "$SCRATCH/first.txt" | sort -g | awk 'NR == 1 { a = $1 } { b = $1 } END { printf "%.4f-%.4f", a, b }')"
first_exact="$(awk '$1 == "first_picture_exact_buckets" { print $2 }' "$SCRATCH/first.txt" | sort -u | tr '\n' ' ')"
first_total="$(awk '$1 == "total_s" { print $2 }' "$SCRATCH/first.txt" | median)"
first_kib="$(awk '$1 == "peak_kib" { print $2 }' "$SCRATCH/first.txt" | sort -g | tail -n1)"
first_buckets="$(awk '$1 == "buckets" { print $2 }' "$SCRATCH/first.txt" | head -n1)"

say ""
say "== result"
printf 'keeptime-cli peaks, 1 GiB:       %.3f s median (%s), peak %s KiB\n' "$peaks_median" "$(span 0)" "$(peak_kib 0)"
printf 'cat FILE > /dev/null, 1 GiB:     %.3f s median (%s)\n' "$cat_median" "$(span 1)"
printf 'peak reader alone (window), 1 GiB: %.3f s median (%s), peak %s KiB\n' "$reader_median" "$(span 2)" "$(peak_kib 2)"
say "ratio peaks / cat:               $(ratio "$peaks_median" "$cat_median") (goal: at most 1.2)"
say "ratio peak reader / cat:         $(ratio "$reader_median" "$cat_median")"
say "keeptime-cli peaks, 4 GiB:       peak $big_cli_kib KiB (goal: under 32 MB = 31250 KiB)"
say "window's reader, 4 GiB:          first picture $first_median s median ($first_span, exact buckets then: $first_exact),"
say "                                 all read in $first_total s, $first_buckets buckets, peak $first_kib KiB"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
