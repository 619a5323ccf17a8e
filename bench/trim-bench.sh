#!/usr/bin/env bash
# Times a long trim of a 1 GiB Broadcast-WAV file with keeptime-cli against
# other ways of copying the same stretch: dd copying the same bytes (with and
# without fsync, since our copy is flushed to disk before it is renamed into
# place), ffmpeg -c copy and sox trim. Runs alternate within each round so that
# a change in the machine's load falls on all of them alike.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N] [--dir DIR] [--mib N] [--drop-caches]

Makes a BWF file with N MiB of random audio (default 1024), trims it from 1 s to
1 s before its end with each tool, in rounds, and prints the median
time, the ratio of keeptime-cli to each, and each one's peak memory.

  --cli PATH      keeptime-cli to measure (default: \$KEEPTIME_CLI, else
                  build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --rounds N      rounds of (keeptime, dd, dd conv=fsync, ffmpeg, sox); at least 5,
                  default 7
  --dir DIR       where the scratch folder goes (default /var/tmp); it needs
                  about three times the file's size free
  --mib N         audio size in MiB (default 1024)
  --drop-caches   drop the page cache before every run (root only), so that every
                  tool reads its input from the disk rather than from memory

Before every run the outputs of the previous one are deleted and 'sync' is run
(untimed), so that no run pays for writing out another's data.
EOF
}

cli="$(default_cli)"
rounds=7
base=/var/tmp
mib=1024
drop=0
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --mib) mib="$2"; shift 2 ;;
        --drop-caches) drop=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 5 )); then die "--rounds needs a whole number of at least 5"; fi
if ! [[ "$mib" =~ ^[1-9][0-9]*$ ]] || (( mib < 8 || mib >= 4000 )); then die "--mib needs a whole number from 8 to 3999"; fi
if (( drop )) && [[ ! -w /proc/sys/vm/drop_caches ]]; then
    die "--drop-caches needs root (it writes /proc/sys/vm/drop_caches)"
fi
for tool in dd cmp python3 ffmpeg ffprobe sox; do
    command -v "$tool" >/dev/null || die "$tool is not installed (Debian: apt-get install coreutils diffutils python3 ffmpeg sox)"
done
memory=1
if [[ ! -x /usr/bin/time ]]; then
    memory=0
    say "warning: /usr/bin/time is missing, so peak memory is not measured (Debian: apt-get install time)" >&2
fi

frame=6                                      # stereo 24-bit
audio=$(( mib * 1048576 / frame * frame ))
need_space "$base" "$(( audio * 3 ))" || die "need about $(( audio * 3 / 1048576 + 1024 )) MiB free in $base; $(( $(free_bytes "$base") / 1048576 )) MiB are"
make_scratch "$base"
input="$SCRATCH/input.wav"
ours="$SCRATCH/out-keeptime.wav"

say "== keeptime trim benchmark"
machine "$SCRATCH"
say "cli:         $cli ($("$cli" --version))"
say "tools:       $(dd --version | head -n1); $(ffmpeg -version | head -n1 | cut -d' ' -f1-3); $(sox --version 2>&1 | sed 's/^sox: *//')"
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the file was made"
say ""

header="$(python3 "$BENCH_HERE/make-header.py" "$input" --audio-bytes "$audio")"
dd if=/dev/urandom bs=1M iflag=count_bytes count="$audio" status=none >>"$input"
sync "$input"
say "input:       $(stat -c %s "$input") bytes: RIFF, 48 kHz stereo 24-bit, $audio bytes of random audio, header $header bytes"

# --- one untimed trim, to learn the frames and check the copy --------------------
"$cli" trim "$input" -o "$ours" --start 1 --end-from-end 1 --force --quiet --json \
    >"$SCRATCH/trim.json" 2>"$SCRATCH/trim.err" || { cat "$SCRATCH/trim.err" >&2; die "keeptime-cli trim failed"; }
read -r start_frame frames audio_bytes tr_before tr_after < <(python3 -c '
import json, sys
j = json.load(open(sys.argv[1]))
print(j["startFrame"], j["frames"], j["audioBytes"], j["timeReferenceBefore"], j["timeReferenceAfter"])' "$SCRATCH/trim.json")
end_frame=$(( start_frame + frames ))
skip=$(( header + start_frame * frame ))
say "range:       frames $start_frame to $end_frame ($frames frames, $audio_bytes bytes, $(awk -v f="$frames" 'BEGIN { printf "%.3f s", f / 48000 }'))"

"$cli" info --json "$ours" >"$SCRATCH/info.json" 2>/dev/null || die "keeptime-cli info cannot read the copy back"
read -r out_header out_frames out_ref < <(python3 -c '
import json, sys
j = json.load(open(sys.argv[1]))
print(j["preDataBytes"] + 8, j["frames"], j["samplesSinceMidnight"])' "$SCRATCH/info.json")
failures=0
check() {  # check WHAT COMMAND...: runs COMMAND, prints ok or FAILED.
    local what="$1"; shift
    if "$@"; then say "check:       ok      $what"; else say "check:       FAILED  $what"; failures=$(( failures + 1 )); fi
}
check "audio bytes of the copy identical to the input's range (cmp, $audio_bytes bytes)" \
    cmp --quiet --bytes="$audio_bytes" --ignore-initial="$skip:$out_header" "$input" "$ours"
check "copy's file size is its header plus its audio" \
    test "$(stat -c %s "$ours")" -eq $(( out_header + audio_bytes + (audio_bytes & 1) ))
check "keeptime-cli info reads the copy back: $out_frames frames" test "$out_frames" -eq "$frames"
check "time reference moved by the in point: $tr_before + $start_frame = $out_ref" \
    test "$out_ref" -eq $(( tr_before + start_frame )) -a "$tr_after" -eq "$out_ref"
ffprobe -v error -show_entries stream=duration_ts:format_tags=time_reference -of default=nw=1 \
    "$ours" >"$SCRATCH/ffprobe.txt" 2>"$SCRATCH/ffprobe.err" || true
check "ffprobe reads the copy without complaint: $(tr '\n' ' ' <"$SCRATCH/ffprobe.txt")" \
    grep -qx "duration_ts=$frames" "$SCRATCH/ffprobe.txt"
check "ffprobe sees the moved time reference" grep -qx "TAG:time_reference=$out_ref" "$SCRATCH/ffprobe.txt"
check "ffprobe printed no errors" test ! -s "$SCRATCH/ffprobe.err"

# The same stretch through every other tool, once, to show they do the same job.
out_dd="$SCRATCH/out-dd.raw"
out_ddf="$SCRATCH/out-dd-fsync.raw"
out_ff="$SCRATCH/out-ffmpeg.wav"
out_sox="$SCRATCH/out-sox.wav"
ss="1"
to="$(awk -v f="$end_frame" 'BEGIN { printf "%.6f", f / 48000 }')"
names=("keeptime-cli trim" "dd bs=1M" "dd bs=1M conv=fsync" "ffmpeg -c copy" "sox trim")
dd_in="iflag=skip_bytes,count_bytes"
ours_cmd=("$cli" trim "$input" -o "$ours" --start 1 --end-from-end 1 --force --quiet)
cmds=(
    "${ours_cmd[@]}"
    ::: dd if="$input" of="$out_dd" bs=1M "$dd_in" skip="$skip" count="$audio_bytes" status=none
    ::: dd if="$input" of="$out_ddf" bs=1M "$dd_in" skip="$skip" count="$audio_bytes" conv=fsync status=none
    ::: ffmpeg -nostdin -v error -y -ss "$ss" -to "$to" -i "$input" -c copy "$out_ff"
    ::: sox "$input" "$out_sox" trim "${start_frame}s" "=${end_frame}s"
)
python3 "$BENCH_HERE/timed.py" --runs 1 --no-memory -- "${cmds[@]}" >/dev/null
check "dd copied the same bytes" cmp --quiet --bytes="$audio_bytes" --ignore-initial="0:$out_header" "$out_dd" "$ours"
for f in "$out_ff" "$out_sox"; do
    n="$(ffprobe -v error -show_entries stream=duration_ts -of default=nw=1:nk=1 "$f")"
    ref="$(ffprobe -v error -show_entries format_tags=time_reference -of default=nw=1:nk=1 "$f")"
    say "note:        $(basename "$f"): $n frames ($(( n - frames )) more than ours), time reference ${ref:-none}"
done
rm -f "$ours" "$out_dd" "$out_ddf" "$out_ff" "$out_sox"
say ""

# --- the timed rounds -------------------------------------------------------------
before="rm -f '$ours' '$out_dd' '$out_ddf' '$out_ff' '$out_sox'; sync"
if (( drop )); then before+="; echo 3 > /proc/sys/vm/drop_caches"; fi
memflag=()
if (( ! memory )); then memflag=(--no-memory); fi
say "timing:      $rounds rounds, each running the five in turn; before every run: delete outputs, sync$( if (( drop )); then echo ', drop the page cache'; fi)"
python3 "$BENCH_HERE/timed.py" --runs "$rounds" --quiet-output "${memflag[@]}" --before "$before" -- "${cmds[@]}" |
    tee "$SCRATCH/times.txt" | awk -v n="${#names[@]}" '{ printf "%s %.3f s", ($1 == 0 ? "round:      " : ","), $2 } $1 == n - 1 { print "" }'
say ""

say "== result ($audio_bytes bytes copied by each; medians of $rounds runs)"
printf '%-22s %9s %9s %9s %9s %12s %10s\n' "" "median s" "min s" "max s" "MB/s" "ours / it" "peak KiB"
ours_median="$(awk '$1 == 0 { print $2 }' "$SCRATCH/times.txt" | median)"
declare -a med peak
for i in "${!names[@]}"; do
    med[i]="$(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt" | median)"
    lo="$(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt" | sort -g | head -n1)"
    hi="$(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt" | sort -g | tail -n1)"
    peak[i]="$(awk -v i="$i" '$1 == i && $3 > m { m = $3 } END { print m + 0 }' "$SCRATCH/times.txt")"
    (( memory )) || peak[i]="n/a"
    printf '%-22s %9.3f %9.3f %9.3f %9.0f %12s %10s\n' "${names[i]}" "${med[i]}" "$lo" "$hi" \
        "$(awk -v b="$audio_bytes" -v s="${med[i]}" 'BEGIN { print b / s / 1e6 }')" \
        "$(ratio "$ours_median" "${med[i]}")" "${peak[i]}"
done
say ""

verdict() {  # verdict TEXT CONDITION-FOR-AWK
    if awk "BEGIN { exit !($2) }"; then say "target met:    $1"; else say "target MISSED: $1"; fi
}
verdict "within 1.1x of dd bs=1M (ratio $(ratio "$ours_median" "${med[1]}"))" "$ours_median <= 1.1 * ${med[1]}"
verdict "within 1.1x of dd bs=1M conv=fsync, which also waits for the disk (ratio $(ratio "$ours_median" "${med[2]}"))" "$ours_median <= 1.1 * ${med[2]}"
verdict "faster than ffmpeg -c copy (ratio $(ratio "$ours_median" "${med[3]}"))" "$ours_median < ${med[3]}"
verdict "faster than sox trim (ratio $(ratio "$ours_median" "${med[4]}"))" "$ours_median < ${med[4]}"
if (( memory )); then
    verdict "peak memory under 16 MB (${peak[0]} KiB = $(( peak[0] * 1024 )) bytes)" "${peak[0]} * 1024 < 16000000"
fi

# Where our time goes: the copy itself, and the flush to disk that dd and ffmpeg
# do not wait for. Untimed runs under strace, which reports each call's duration.
if command -v strace >/dev/null; then
    for (( i = 0; i < 3; i++ )); do
        rm -f "$ours"
        sync
        strace -f -T -e trace=copy_file_range,read,write,pread64,pwrite64,fsync,fdatasync \
            -o "$SCRATCH/strace.txt" "${ours_cmd[@]}" >/dev/null 2>&1
        awk '{ t = $NF; gsub(/[<>]/, "", t) }
             /copy_file_range\(|pread64\(|pwrite64\(/ { copy += t }
             /fsync\(|fdatasync\(/ { flush += t }
             END { printf "%.6f %.6f\n", copy, flush }' "$SCRATCH/strace.txt"
    done >"$SCRATCH/split.txt"
    say "ours, split:   copying $(awk '{ print $1 }' "$SCRATCH/split.txt" | median | xargs printf %.3f) s, fsync $(awk '{ print $2 }' "$SCRATCH/split.txt" | median | xargs printf %.3f) s (medians of 3 runs under strace -T)"
fi
say "load:          $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
if (( failures )); then
    die "$failures check(s) failed"
fi
