#!/usr/bin/env bash
# Times keeptime-cli conform reading an edit list and matching it against a
# folder of recordings, heads only: a 2,000-event CMX 3600 EDL against 1,000
# recordings (250 takes of 4 files, all on one tape, so that half the events,
# matched by reel alone, have every recording as a candidate). One event names a
# reel no recording has, so the run ends with exit status 3 before writing:
# what is timed is the reading and the matching. Warm: one run first fills the
# page cache. Then, unless --copy-mib 0, the copies: an EDL using 4 recordings
# of random audio from 1 s to 1 s before their ends, conformed without handles,
# against dd conv=fsync copying the same bytes file after file.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N] [--dir DIR] [--events N] [--files N] [--copy-mib N]

Writes N files (default 1000; sparse, 60 s of 48 kHz 24-bit mono each) and an
EDL of N events (default 2000), then times keeptime-cli conform on them, warm.
Prints the median and the fastest. Then times the copies of 4 recordings of
--copy-mib MiB each (default 256; 0: none) against dd conv=fsync. --dir: where
the scratch folder goes (default /var/tmp).
EOF
}

cli="$(default_cli)"
rounds=7
base=/var/tmp
events=2000
files=1000
copy_mib=256
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --events) events="$2"; shift 2 ;;
        --files) files="$2"; shift 2 ;;
        --copy-mib) copy_mib="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$events" =~ ^[1-9][0-9]*$ && "$files" =~ ^[1-9][0-9]*$ ]] || (( files % 4 )); then
    die "--events and --files need whole numbers, --files a multiple of 4"
fi
[[ "$copy_mib" =~ ^[0-9]+$ ]] || die "--copy-mib needs a whole number"
command -v python3 >/dev/null || die "python3 is not installed"

make_scratch "$base"
mkdir "$SCRATCH/media" "$SCRATCH/out"
python3 - "$SCRATCH" "$files" "$events" <<'PY'
import random, struct, sys
scratch, files, events = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rate, seconds = 48000, 60

def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")

names = []
for take in range(files // 4):
    stamp = (7 * 3600 + take * 100) * rate  # 07:00:00 on, 100 s apart
    for member in range(1, 5):
        name = f"T{take + 1:04d}_{member}"
        names.append((name, stamp))
        ixml = (f"<BWFXML><TAPE>DAY01</TAPE><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE>"
                f"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>{stamp}</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED>"
                f"<FILE_SET><TOTAL_FILES>4</TOTAL_FILES><FAMILY_UID>UID{take}</FAMILY_UID>"
                f"<FILE_SET_INDEX>{member}</FILE_SET_INDEX></FILE_SET></BWFXML>").encode()
        bext = bytearray(602)
        bext[338:346] = struct.pack("<Q", stamp)
        audio = seconds * rate * 3
        body = (b"WAVE" + chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, rate, rate * 3, 3, 24)) + chunk(b"bext", bytes(bext))
                + chunk(b"iXML", ixml) + b"data" + struct.pack("<I", audio))
        with open(f"{scratch}/media/{name}.wav", "wb") as out:
            out.write(b"RIFF" + struct.pack("<I", len(body) + audio) + body)
            out.truncate(8 + len(body) + audio)

def label(second, frame):
    return f"{second // 3600:02d}:{second // 60 % 60:02d}:{second % 60:02d}:{frame:02d}"

random.seed(1)
lines = ["TITLE: CONFORM BENCH", "FCM: NON-DROP FRAME", ""]
for event in range(1, events):
    name, stamp = random.choice(names)
    start = stamp // rate + random.randrange(0, seconds - 5)
    length = random.randrange(1, 4)
    record = 3600 + event * 4
    reel = "DAY01" if event % 2 else "A" + name[:7]
    lines.append(f"{event:04d}  {reel:8} AA     C        {label(start, 0)} {label(start + length, 0)} "
                 f"{label(record, 0)} {label(record + length, 0)}")
    if event % 2 == 0:
        lines.append(f"* FROM CLIP NAME: {name}.WAV")
lines.append(f"{events:04d}  NOPE     A      C        10:00:00:00 10:00:01:00 23:00:00:00 23:00:01:00")
with open(f"{scratch}/cut.edl", "w") as out:
    out.write("\r\n".join(lines) + "\r\n")
PY

run() {
    local status=0
    "$cli" conform "$SCRATCH/cut.edl" -m "$SCRATCH/media" -o "$SCRATCH/out" -q 2>"$SCRATCH/err" || status=$?
    (( status == 3 )) || { cat "$SCRATCH/err" >&2; die "conform ended with $status, not 3"; }
}
run  # warms the cache and checks the outcome
grep -q "1 of $events audio events cannot be conformed" "$SCRATCH/err" || die "unexpected outcome: $(tail -1 "$SCRATCH/err")"
times=()
for (( i = 0; i < rounds; i++ )); do
    start=$(date +%s.%N)
    run
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
done
say "conform: $events events against $files recordings (heads only), warm, $rounds rounds"
say "median $(printf '%s\n' "${times[@]}" | median) s, fastest $(printf '%s\n' "${times[@]}" | sort -g | head -1) s"

(( copy_mib > 0 )) || exit 0
need_space "$base" $(( copy_mib * 1048576 * 8 )) || die "not enough free space in $base for the copies"
mkdir "$SCRATCH/big" "$SCRATCH/copies" "$SCRATCH/dd"
python3 - "$SCRATCH" "$copy_mib" <<'PY'
import os, struct, sys
scratch, mib = sys.argv[1], int(sys.argv[2])
rate, frame = 48000, 6
frames = mib * 1048576 // frame
lines = ["TITLE: CONFORM COPIES", "FCM: NON-DROP FRAME", ""]
with open(f"{scratch}/ranges", "w") as ranges:
    for n in range(1, 5):
        stamp = (8 + n) * 3600 * rate
        ixml = (f"<BWFXML><TAPE>BIG</TAPE><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE>"
                f"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>{stamp}</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED></BWFXML>").encode()
        def chunk(cid, body):
            return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
        audio = frames * frame
        body = (b"WAVE" + chunk(b"fmt ", struct.pack("<HHIIHH", 1, 2, rate, rate * frame, frame, 24)) + chunk(b"iXML", ixml)
                + b"data" + struct.pack("<I", audio))
        with open(f"{scratch}/big/R{n}.wav", "wb") as out:
            out.write(b"RIFF" + struct.pack("<I", len(body) + audio) + body)
            for _ in range(mib):
                out.write(os.urandom(1048576))
        seconds = frames // rate
        def label(s):
            return f"{s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}:00"
        start, end = (8 + n) * 3600 + 1, (8 + n) * 3600 + seconds - 1
        lines.append(f"{n:03d}  BIG      A      C        {label(start)} {label(end)} 01:00:00:00 01:00:01:00")
        lines.append(f"* FROM CLIP NAME: R{n}.WAV")
        print(f"R{n}.wav {8 + len(body) + rate * frame} {(end - start) * rate * frame}", file=ranges)
with open(f"{scratch}/copies.edl", "w") as out:
    out.write("\n".join(lines) + "\n")
PY
conform_copies() {
    "$cli" conform "$SCRATCH/copies.edl" -m "$SCRATCH/big" -o "$SCRATCH/copies" -q --handles 0 >/dev/null
}
dd_copies() {
    local name skip count
    while read -r name skip count; do
        dd if="$SCRATCH/big/$name" of="$SCRATCH/dd/$name" bs=1M iflag=skip_bytes,count_bytes skip="$skip" count="$count" \
            conv=fsync status=none
    done <"$SCRATCH/ranges"
}
conform_copies  # checks the run, and that each copy's audio is dd's
dd_copies
while read -r name skip count; do
    copy=("$SCRATCH"/copies/"${name%.wav}"_*.wav)
    cmp -s <(tail -c "$count" "${copy[0]}") "$SCRATCH/dd/$name" || die "the copy of $name is not dd's bytes"
done <"$SCRATCH/ranges"
ct=() dt=()
for (( i = 0; i < rounds; i++ )); do
    rm -f "$SCRATCH"/copies/* "$SCRATCH"/dd/*
    sync
    start=$(date +%s.%N); conform_copies; end=$(date +%s.%N)
    ct+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
    rm -f "$SCRATCH"/copies/* "$SCRATCH"/dd/*
    sync
    start=$(date +%s.%N); dd_copies; end=$(date +%s.%N)
    dt+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
done
c=$(printf '%s\n' "${ct[@]}" | median)
d=$(printf '%s\n' "${dt[@]}" | median)
say "copies: 4 recordings of $copy_mib MiB, each from 1 s to 1 s before its end, $rounds alternated rounds"
say "conform median $c s ($(printf '%s\n' "${ct[@]}" | sort -g | head -1)–$(printf '%s\n' "${ct[@]}" | sort -g | tail -1)), dd conv=fsync median $d s ($(printf '%s\n' "${dt[@]}" | sort -g | head -1)–$(printf '%s\n' "${dt[@]}" | sort -g | tail -1)), ratio $(awk -v a="$c" -v b="$d" 'BEGIN { printf "%.3f", a / b }')"
say "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
