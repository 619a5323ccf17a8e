#!/usr/bin/env bash
# Copies past 4 GiB: an RF64 recording of about 5 GB trimmed whole and nearly
# whole must stay RF64 with true ds64 sizes and read back in keeptime-cli and
# ffprobe; a short stretch of it becomes plain RIFF; and a copy over 4 GiB from
# a plain RIFF input (data size 0xFFFFFFFF, audio to the end of the file) is
# refused before anything is written, since RIFF's 32-bit sizes cannot hold it.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--dir DIR]

The inputs are sparse (a header, then a hole that reads as silence), so they
take almost no disk; each large copy is written in full, about 5 GB, and
deleted before the next. The large copies are skipped, with a message, when
DIR has less than 6 GB free.

  --cli PATH   keeptime-cli to check (default: \$KEEPTIME_CLI, else
               build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --dir DIR    where the scratch folder goes (default /var/tmp)
EOF
}

cli="$(default_cli)"
base=/var/tmp
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
for tool in python3 cmp ffprobe truncate; do
    command -v "$tool" >/dev/null || die "$tool is not installed (Debian: apt-get install python3 diffutils ffmpeg coreutils)"
done

frames=833333333          # 4,999,999,998 bytes of stereo 24-bit audio: 4 h 49 min at 48 kHz
audio=$(( frames * 6 ))
stamp=1728000000          # 10:00:00 at 48 kHz

make_scratch "$base"
failures=0
check() {  # check WHAT COMMAND...: runs COMMAND, prints ok or FAILED.
    local what="$1"; shift
    if "$@"; then say "  ok      $what"; else say "  FAILED  $what"; failures=$(( failures + 1 )); fi
}

# field FILE KEY: one value from 'keeptime-cli info --json FILE'.
field() {
    "$cli" info --json "$1" 2>/dev/null | python3 -c 'import json, sys; v = json.load(sys.stdin)[sys.argv[1]]; print(str(v).lower() if isinstance(v, bool) else v)' "$2"
}

# header_facts FILE: the sizes a reader sees, from our own small chunk walk:
# form, RIFF size field, ds64 RIFF size, ds64 data size, ds64 sample count,
# data size field, offset of the audio, file size ("-" where absent).
header_facts() {
    python3 - "$1" <<'EOF'
import os, struct, sys
path = sys.argv[1]
with open(path, "rb") as f:
    head = f.read(1_000_000)
form, riff_size = head[0:4].decode("latin-1"), struct.unpack_from("<I", head, 4)[0]
ds64 = ["-", "-", "-"]
pos, data_size, audio_at = 12, "-", "-"
while pos + 8 <= len(head):
    cid, size = head[pos:pos + 4], struct.unpack_from("<I", head, pos + 4)[0]
    if cid == b"ds64":
        ds64 = list(struct.unpack_from("<QQQ", head, pos + 8))
    if cid == b"data":
        data_size, audio_at = size, pos + 8
        break
    pos += 8 + size + (size & 1)
print(form, riff_size, *ds64, data_size, audio_at, os.path.getsize(path))
EOF
}

# ffprobe_facts FILE: "FRAMES TIME_REFERENCE ERRORS" as ffprobe reads the file.
ffprobe_facts() {
    local out err
    out="$(ffprobe -v error -show_entries stream=duration_ts:format_tags=time_reference \
        -of default=nw=1:nk=1 "$1" 2>"$SCRATCH/ffprobe.err" | tr '\n' ' ')"
    err="$(wc -l <"$SCRATCH/ffprobe.err" | tr -d ' ')"
    printf '%s%s\n' "$out" "$err"
}

# timed_trim OUTPUT ARGS...: trims the RF64 input, prints seconds, MB/s and peak memory.
timed_trim() {
    local output="$1" seconds peak; shift
    read -r _ seconds peak _ < <(python3 "$BENCH_HERE/timed.py" --quiet-output -- \
        "$cli" trim "$rf64" -o "$output" --quiet --force "$@")
    [[ -f "$output" ]] || die "keeptime-cli trim wrote no copy"
    if (( peak < 0 )); then peak="n/a (no /usr/bin/time)"; else peak="$peak KiB"; fi
    awk -v s="$seconds" -v b="$(stat -c %s "$output")" -v p="$peak" \
        'BEGIN { printf "  copy written in %.2f s (%.0f MB/s, fsync included), peak memory %s\n", s, b / s / 1e6, p }'
    say "  copy takes $(du -B1 "$output" | cut -f1) bytes on disk for $(stat -c %s "$output") bytes (the input: $(du -B1 "$rf64" | cut -f1))"
}

# check_rf64_copy OUTPUT FIRST_FRAME FRAMES: the copy of frames FIRST_FRAME.. of the RF64 input.
check_rf64_copy() {
    local out="$1" first="$2" n="$3" bytes
    bytes=$(( n * 6 ))
    read -r form riff_size ds_riff ds_data ds_count data_size audio_at size < <(header_facts "$out")
    check "the copy starts with \"RF64\" (it has \"$form\")" test "$form" = RF64
    check "RIFF size field 0xFFFFFFFF ($riff_size)" test "$riff_size" -eq 4294967295
    check "ds64 RIFF size is the file's size less 8 ($ds_riff + 8 = $size)" test "$ds_riff" -eq $(( size - 8 ))
    check "ds64 data size is the audio's size ($ds_data = $bytes)" test "$ds_data" -eq "$bytes"
    check "ds64 sample count is the frames ($ds_count = $n)" test "$ds_count" -eq "$n"
    check "data size field 0xFFFFFFFF ($data_size)" test "$data_size" -eq 4294967295
    check "file size is header + audio ($audio_at + $bytes = $size)" test "$size" -eq $(( audio_at + bytes ))
    check "keeptime-cli info: RF64, $n frames" \
        test "$(field "$out" rf64) $(field "$out" frames)" = "true $n"
    check "keeptime-cli info: time reference $stamp + $first" \
        test "$(field "$out" samplesSinceMidnight)" -eq $(( stamp + first ))
    read -r ff_frames ff_ref ff_err < <(ffprobe_facts "$out")
    check "ffprobe: $ff_frames frames, time reference $ff_ref, $ff_err error line(s)" \
        test "$ff_frames $ff_ref $ff_err" = "$n $(( stamp + first )) 0"
    check "audio identical to the input's frames (cmp, $bytes bytes)" \
        cmp --quiet --bytes="$bytes" --ignore-initial="$(( rf64_audio_at + first * 6 )):$audio_at" "$rf64" "$out"
}

say "== keeptime copies past 4 GiB"
machine "$SCRATCH"
say "cli:         $cli ($("$cli" --version))"
say ""

# --- the RF64 input ----------------------------------------------------------------
rf64="$SCRATCH/input-rf64.wav"
head_len="$(python3 "$BENCH_HERE/make-header.py" "$rf64" --rf64 --audio-bytes "$audio" --time-reference "$stamp")"
truncate -s "$(( head_len + audio ))" "$rf64"
rf64_audio_at="$head_len"
say "input: $(stat -c %s "$rf64") bytes, RF64, sparse ($(du -B1 "$rf64" | cut -f1) bytes on disk), $frames frames"
check "keeptime-cli info reads it: RF64, $audio audio bytes" \
    test "$(field "$rf64" rf64) $(field "$rf64" audioBytes)" = "true $audio"
say ""

need=$(( head_len + audio + 1073741824 ))
if (( $(free_bytes "$SCRATCH") < need )); then
    say "SKIPPED the two large copies: they need $(( need / 1000000 )) MB free in $base, and $(( $(free_bytes "$SCRATCH") / 1000000 )) MB are."
    say ""
else
    out="$SCRATCH/copy-whole.wav"
    say "RF64 input trimmed whole (no in or out point):"
    timed_trim "$out"
    check_rf64_copy "$out" 0 "$frames"
    check "header byte for byte the input's (nothing to change)" cmp --quiet --bytes="$head_len" "$rf64" "$out"
    rm -f "$out"
    say ""

    out="$SCRATCH/copy-nearly-whole.wav"
    say "RF64 input trimmed from 1 s to 1 s before its end:"
    timed_trim "$out" --start 1 --end-from-end 1
    check_rf64_copy "$out" 48000 $(( frames - 96000 ))
    rm -f "$out"
    say ""
fi

# --- a short stretch of the RF64 input fits RIFF ------------------------------------
out="$SCRATCH/copy-short.wav"
say "RF64 input, 10 s from 1:00 (fits plain RIFF):"
"$cli" trim "$rf64" -o "$out" --start 60 --end 70 --quiet --force >/dev/null
read -r form riff_size ds_riff ds_data ds_count data_size audio_at size < <(header_facts "$out")
check "the copy starts with \"RIFF\" ($form)" test "$form" = RIFF
check "RIFF size is the file's size less 8 ($riff_size + 8 = $size)" test "$riff_size" -eq $(( size - 8 ))
check "data size is 10 s of audio ($data_size)" test "$data_size" -eq $(( 480000 * 6 ))
check "ds64 chunk kept with true sizes ($ds_riff, $ds_data, $ds_count)" \
    test "$ds_riff $ds_data $ds_count" = "$(( size - 8 )) $(( 480000 * 6 )) 480000"
check "keeptime-cli info: RIFF, 480000 frames" test "$(field "$out" rf64) $(field "$out" frames)" = "false 480000"
read -r ff_frames ff_ref ff_err < <(ffprobe_facts "$out")
check "ffprobe: $ff_frames frames, time reference $ff_ref, $ff_err error line(s)" \
    test "$ff_frames $ff_ref $ff_err" = "480000 $(( stamp + 60 * 48000 )) 0"
rm -f "$out"
say ""

# --- RIFF cannot hold a copy over 4 GiB -----------------------------------------------
riff="$SCRATCH/input-riff-ffffffff.wav"
say "plain RIFF input whose data size is 0xFFFFFFFF (audio to the end of the file), $audio audio bytes:"
riff_head="$(python3 "$BENCH_HERE/make-header.py" "$riff" --audio-bytes 6 --time-reference "$stamp")"
python3 - "$riff" <<'EOF'
import struct, sys
# Mark both sizes "not recorded", as a recorder that never finished its header does.
with open(sys.argv[1], "r+b") as f:
    head = bytearray(f.read())
    struct.pack_into("<I", head, 4, 0xFFFFFFFF)
    struct.pack_into("<I", head, len(head) - 4, 0xFFFFFFFF)
    f.seek(0)
    f.write(head)
EOF
truncate -s "$(( riff_head + audio ))" "$riff"
check "keeptime-cli info reads it: RIFF, $audio audio bytes" \
    test "$(field "$riff" rf64) $(field "$riff" audioBytes)" = "false $audio"
out="$SCRATCH/refused.wav"
status=0
"$cli" trim "$riff" -o "$out" --quiet >"$SCRATCH/refused.out" 2>"$SCRATCH/refused.err" || status=$?
say "  keeptime-cli said: $(cat "$SCRATCH/refused.err")"
check "a whole copy (over 4 GiB) is refused with exit status 2 (it gave $status)" test "$status" -eq 2
check "the message is one line naming the file" \
    test "$(wc -l <"$SCRATCH/refused.err")" -eq 1 -a "$(grep -cF "keeptime-cli: $riff:" "$SCRATCH/refused.err")" -eq 1
check "nothing was written: no OUTPUT, no temporary file" \
    test -z "$(find "$SCRATCH" -maxdepth 1 \( -name 'refused.wav' -o -name '.refused.wav.*' \) -print)"
"$cli" trim "$riff" -o "$out" --start 60 --end 70 --quiet >/dev/null 2>&1 || status=$?
check "a 10 s copy of it, which fits, is written: $(field "$out" frames 2>/dev/null || echo none) frames" \
    test "$(field "$out" frames 2>/dev/null)" = 480000
say ""

if (( failures )); then
    die "$failures check(s) failed"
fi
say "all checks passed"
