#!/usr/bin/env bash
# Shows that reading a file's facts takes the same time for a 10 MB and a 6 GB
# recording: the parser reads one block of at most 1,000,000 bytes from the
# start of the file, whatever its size.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH] [--runs N] [--dir DIR] [--dense] [--cold] [--no-hyperfine]

Times 'keeptime-cli info --json' on a 10 MB and a 6 GB RF64 file, alternating
them, and prints the median of each and their ratio; hyperfine, when installed,
times them again as a second opinion.

  --cli PATH       keeptime-cli to measure (default: \$KEEPTIME_CLI, else
                   build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --runs N         timed runs per file (default 200, after 10 warm-up runs)
  --dir DIR        where the scratch folder goes (default /var/tmp)
  --dense          write all 6 GB of the big file to disk (default: sparse, which
                   is enough since the parse never reads past the first 1,000,000
                   bytes; --dense needs 6 GB free)
  --cold           drop the page cache before every run (root only), so that
                   each parse reads its bytes from the disk
  --no-hyperfine   skip the second opinion from hyperfine even when it is installed
EOF
}

cli="$(default_cli)"
runs=200
base=/var/tmp
dense=0
cold=0
use_hyperfine=1
while (( $# )); do
    case "$1" in
        --cli) cli="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --dense) dense=1; shift ;;
        --cold) cold=1; shift ;;
        --no-hyperfine) use_hyperfine=0; shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
check_cli "$cli"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "--runs needs a positive whole number"
if (( cold )) && [[ ! -w /proc/sys/vm/drop_caches ]]; then
    die "--cold needs root (it writes /proc/sys/vm/drop_caches)"
fi
command -v hyperfine >/dev/null || use_hyperfine=0

small_audio=9999996      # 1,666,666 stereo 24-bit frames: a 10 MB file
big_audio=6000000000     # 1,000,000,000 frames: a 6 GB file, 34 h 43 min at 48 kHz

if (( dense )); then
    need_space "$base" "$(( big_audio + small_audio ))" || die "--dense needs about 7 GB free in $base"
else
    need_space "$base" "$small_audio" || die "not enough free space in $base"
fi
make_scratch "$base"
small="$SCRATCH/small-10MB.wav"
big="$SCRATCH/big-6GB.wav"

say "== keeptime parse benchmark"
machine "$SCRATCH"
say "cli:         $cli ($("$cli" --version))"
say ""

# Both files are RF64 so that the only difference between them is the size.
head_len="$(python3 "$BENCH_HERE/make-header.py" "$small" --rf64 --audio-bytes "$small_audio")"
dd if=/dev/urandom bs=1M iflag=count_bytes count="$small_audio" status=none >>"$small"
python3 "$BENCH_HERE/make-header.py" "$big" --rf64 --audio-bytes "$big_audio" >/dev/null
if (( dense )); then
    say "writing the 6 GB file's audio (zeros) to disk ..."
    dd if=/dev/zero bs=1M iflag=count_bytes count="$big_audio" status=none >>"$big"
    sync "$big"
    kind="dense"
else
    truncate -s "$(( head_len + big_audio ))" "$big"
    kind="sparse"
fi
say "files:       $(stat -c %s "$small") bytes (random audio), $(stat -c %s "$big") bytes ($kind),"
say "             header $head_len bytes each, RF64, 48 kHz stereo 24-bit"

# Both must parse, and give the sizes they were made with.
for f in "$small" "$big"; do
    "$cli" info --json "$f" 2>/dev/null | python3 -c '
import json, sys
info = json.load(sys.stdin)
want = int(sys.argv[1])
if not info["rf64"] or info["audioBytes"] != want:
    sys.exit(f"unexpected facts: {info}")
' "$([[ "$f" == "$small" ]] && echo "$small_audio" || echo "$big_audio")" || die "info did not read $f back"
done

# How much of each file the parse reads (system calls that read from it).
if command -v strace >/dev/null; then
    for f in "$small" "$big"; do
        strace -f -y -e trace=read,pread64,readv,preadv,mmap -o "$SCRATCH/strace.txt" \
            "$cli" info --json "$f" >/dev/null 2>&1
        read_bytes="$(grep -F "<$f>" "$SCRATCH/strace.txt" |
            awk '/^[0-9 ]*(read|pread64|readv|preadv)\(/ { n += $NF } END { print n + 0 }')"
        maps="$(grep -cF "<$f>" "$SCRATCH/strace.txt" | tr -d ' ')"
        say "reads:       $(basename "$f"): $read_bytes bytes read in $maps system call(s) on the file"
    done
fi
say ""

drop='sync; echo 3 > /proc/sys/vm/drop_caches'
when="$runs runs each after 10 warm-up runs"
if (( cold )); then when+=", page cache dropped before each run"; fi

# The machine may be shared: alternating the two files (10 MB, 6 GB, 10 MB, ...)
# makes any change in its load fall on both alike.
say "timing with the monotonic clock (bench/timed.py), alternating the files, $when"
before=()
if (( cold )); then before=(--before "$drop"); fi
python3 "$BENCH_HERE/timed.py" --runs "$runs" --warmup 10 --quiet-output --no-memory "${before[@]}" -- \
    "$cli" info --json "$small" ::: "$cli" info --json "$big" >"$SCRATCH/times.txt"
small_median="$(awk '$1 == 0 { print $2 }' "$SCRATCH/times.txt" | median)"
big_median="$(awk '$1 == 1 { print $2 }' "$SCRATCH/times.txt" | median)"

# A second opinion from hyperfine, which runs all of one file, then the other.
hf_small=""
if (( use_hyperfine )); then
    say ""
    say "timing with $(hyperfine --version), one file after the other, $when"
    prepare=()
    if (( cold )); then prepare=(--prepare "sh -c '$drop'"); fi
    hyperfine -N --style basic --warmup 10 --runs "$runs" "${prepare[@]}" \
        --export-json "$SCRATCH/hyperfine.json" \
        -n "10 MB" "$cli info --json $small" \
        -n "6 GB" "$cli info --json $big"
    read -r hf_small hf_big < <(python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(r[0]["median"], r[1]["median"])' "$SCRATCH/hyperfine.json")
fi

say ""
say "== result"
printf 'median, 10 MB file: %8.3f ms\n' "$(awk -v s="$small_median" 'BEGIN { print s * 1000 }')"
printf 'median, 6 GB file:  %8.3f ms\n' "$(awk -v s="$big_median" 'BEGIN { print s * 1000 }')"
r="$(ratio "$big_median" "$small_median")"
say "ratio 6 GB / 10 MB: $r (a file 600 times larger)"
if [[ -n "$hf_small" ]]; then
    printf 'hyperfine medians:  %8.3f ms and %.3f ms, ratio %s\n' \
        "$(awk -v s="$hf_small" 'BEGIN { print s * 1000 }')" \
        "$(awk -v s="$hf_big" 'BEGIN { print s * 1000 }')" "$(ratio "$hf_big" "$hf_small")"
fi
if awk -v r="$r" 'BEGIN { exit !(r >= 0.9 && r <= 1.1) }'; then
    say "the parse time does not depend on the file's size (within 10 %)"
else
    say "the two medians differ by more than 10 %: rerun, or look at what else ran meanwhile"
fi
