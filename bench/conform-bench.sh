#!/usr/bin/env bash
# Times keeptime-cli conform reading an edit list and matching it against a
# folder of recordings, heads only: a 2,000-event CMX 3600 EDL against 1,000
# recordings (250 takes of 4 files, all on one tape, so that half the events,
# matched by reel alone, have every recording as a candidate). One event names a
# reel no recording has, so the run ends with exit status 3 before writing:
# what is timed is the reading and the matching. Warm: one run first fills the
# page cache.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--rounds N] [--dir DIR] [--events N] [--files N]

Writes N files (default 1000; sparse, 60 s of 48 kHz 24-bit mono each) and an
EDL of N events (default 2000), then times keeptime-cli conform on them, warm.
Prints the median and the fastest. --dir: where the scratch folder goes
(default /var/tmp).
EOF
}

cli="$(default_cli)"
rounds=7
base=/var/tmp
events=2000
files=1000
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --events) events="$2"; shift 2 ;;
        --files) files="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$events" =~ ^[1-9][0-9]*$ && "$files" =~ ^[1-9][0-9]*$ ]] || (( files % 4 )); then
    die "--events and --files need whole numbers, --files a multiple of 4"
fi
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
