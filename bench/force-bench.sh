#!/usr/bin/env bash
# Times a trim that replaces the previous copy (--force) against a trim to a new
# name and dd conv=fsync copying the same bytes. The replaced file is released
# inside the timed run, which a copy to a new name never pays for; runs alternate
# within each round so that a change in the machine's load falls on all alike.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

usage() {
    cat <<EOF
usage: $(basename "$0") [--cli PATH]... [--rounds N] [--dir DIR] [--mib N] [--start S] [--end S]

Makes a BWF file with N MiB of random audio (default 1024, 48 kHz stereo 24-bit)
and, in each round, runs in turn: dd bs=1M conv=fsync of the kept bytes over its
previous output and to a new file, keeptime-cli trim to a new name, trim --force
over that command's previous copy, and trim --force --no-share over its previous
copy. Prints each one's median, min and max, and the ratio of the medians to dd's.

  --cli PATH   keeptime-cli to measure; give it twice to compare two builds in
               the same rounds (default: \$KEEPTIME_CLI, else
               build-bench/cli/keeptime-cli, else build/cli/keeptime-cli)
  --rounds N   rounds, at least 3 (default 9)
  --dir DIR    where the scratch folder goes (default /var/tmp); it needs the
               input and five copies of the kept stretch free
  --mib N      audio size in MiB (default 1024)
  --start S, --end S
               the stretch kept, in seconds (default 600 and 3000: 691,200,000
               bytes of a 1 GiB file)

Before every run 'sync' is run (untimed), so that no run starts with dirty pages;
the outputs of the copies to a new file are deleted before their own runs, the
others are kept so that each run replaces the previous one's copy.
EOF
}

clis=()
rounds=9
base=/var/tmp
mib=1024
start=600
end=3000
while (( $# )); do
    case "$1" in
        --cli) clis+=("$2"); shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --dir) base="$2"; shift 2 ;;
        --mib) mib="$2"; shift 2 ;;
        --start) start="$2"; shift 2 ;;
        --end) end="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
(( ${#clis[@]} )) || clis=("$(default_cli)")
for cli in "${clis[@]}"; do check_cli "$cli"; done
if ! [[ "$rounds" =~ ^[0-9]+$ ]] || (( rounds < 3 )); then die "--rounds needs a whole number of at least 3"; fi
if ! [[ "$mib" =~ ^[1-9][0-9]*$ ]] || (( mib < 8 || mib >= 4000 )); then die "--mib needs a whole number from 8 to 3999"; fi
if ! [[ "$start" =~ ^[0-9]+$ && "$end" =~ ^[0-9]+$ ]] || (( start >= end )); then
    die "--start and --end need whole seconds, the start before the end"
fi
for tool in dd cmp python3 sync; do command -v "$tool" >/dev/null || die "$tool is not installed"; done

frame=6
audio=$(( mib * 1048576 / frame * frame ))
(( end * 48000 * frame <= audio )) || die "--end $end is past the end of $mib MiB of audio"
kept=$(( (end - start) * 48000 * frame ))
need_space "$base" "$(( audio + kept * (2 + 3 * ${#clis[@]}) ))" || die "not enough free space in $base"
make_scratch "$base"
input="$SCRATCH/input.wav"

say "== keeptime trim --force benchmark"
machine "$SCRATCH"
for cli in "${clis[@]}"; do say "cli:         $cli ($("$cli" --version))"; done
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the file was made"
header="$(python3 "$BENCH_HERE/make-header.py" "$input" --audio-bytes "$audio")"
dd if=/dev/urandom bs=1M iflag=count_bytes count="$audio" status=none >>"$input"
sync
say "input:       $(stat -c %s "$input") bytes, header $header bytes; kept: $start s to $end s, $kept audio bytes"

# Commands, their names and what is removed (untimed) before each of their runs.
# dd writes the same bytes once over its previous output, which it truncates as
# it opens it (releasing that file inside its time, as --force does), and once
# to a new file.
names=("dd conv=fsync, over its last" "dd conv=fsync, new file")
dd=(dd if="$input" bs=1M "iflag=skip_bytes,count_bytes" skip=$(( header + start * 48000 * frame ))
    count="$kept" conv=fsync status=none)
cmds=("${dd[@]}" of="$SCRATCH/dd-over.raw" ::: "${dd[@]}" of="$SCRATCH/dd.raw")
clear=("" "$SCRATCH/dd.raw")
"${dd[@]}" of="$SCRATCH/dd-over.raw"
for c in "${!clis[@]}"; do
    cli="${clis[c]}"
    tag=""
    (( ${#clis[@]} == 1 )) || tag=" [$((c + 1))]"
    trim=("$cli" trim "$input" --start "$start" --end "$end" --quiet)
    names+=("trim, new name$tag" "trim --force$tag" "trim --force --no-share$tag")
    cmds+=(::: "${trim[@]}" -o "$SCRATCH/new-$c.wav"
           ::: "${trim[@]}" -o "$SCRATCH/force-$c.wav" --force
           ::: "${trim[@]}" -o "$SCRATCH/noshare-$c.wav" --force --no-share)
    clear+=("$SCRATCH/new-$c.wav" "" "")
    # The copies that the first timed --force runs replace.
    "${trim[@]}" -o "$SCRATCH/force-$c.wav" >/dev/null
    "${trim[@]}" -o "$SCRATCH/noshare-$c.wav" --no-share >/dev/null
done

# One command's words by index, from the ":::"-separated list.
command_words() {
    local i=0 word
    words=()
    for word in "${cmds[@]}"; do
        if [[ "$word" == ":::" ]]; then i=$(( i + 1 )); elif (( i == $1 )); then words+=("$word"); fi
    done
}

say "timing:      $rounds rounds of ${#names[@]} runs in turn; before every run: sync (and the new-name outputs deleted)"
: >"$SCRATCH/times.txt"
for (( r = 0; r < rounds; r++ )); do
    line="round $((r + 1)) (load $(cut -d' ' -f1 /proc/loadavg)):"
    for i in "${!names[@]}"; do
        command_words "$i"
        before="sync"
        [[ -z "${clear[i]}" ]] || before="rm -f '${clear[i]}'; sync"
        read -r _ seconds _ cpu < <(python3 "$BENCH_HERE/timed.py" --runs 1 --no-memory --quiet-output \
            --before "$before" -- "${words[@]}")
        printf '%s %s %s\n' "$i" "$seconds" "$cpu" >>"$SCRATCH/times.txt"
        line+=" $(printf '%.3f' "$seconds")"
    done
    say "$line"
done
say "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"

failures=0
for c in "${!clis[@]}"; do
    for out in "force-$c.wav" "noshare-$c.wav"; do
        out_header=$(( $(stat -c %s "$SCRATCH/$out") - kept ))
        if cmp --quiet --bytes="$kept" --ignore-initial="0:$out_header" "$SCRATCH/dd.raw" "$SCRATCH/$out"; then
            say "check:       ok      $out holds the kept bytes (cmp with dd's copy)"
        else
            say "check:       FAILED  $out differs from dd's copy"
            failures=$(( failures + 1 ))
        fi
    done
done
say ""

say "== result (medians of $rounds runs, $kept bytes each; CPU: the median of user + system time)"
printf '%-30s %8s %8s %8s %8s %8s %8s %8s\n' "" "median s" "min s" "max s" "spread s" "/ dd over" "/ dd new" "CPU s"
over_median="$(awk '$1 == 0 { print $2 }' "$SCRATCH/times.txt" | median)"
new_median="$(awk '$1 == 1 { print $2 }' "$SCRATCH/times.txt" | median)"
for i in "${!names[@]}"; do
    mapfile -t t < <(awk -v i="$i" '$1 == i { print $2 }' "$SCRATCH/times.txt" | sort -g)
    m="$(printf '%s\n' "${t[@]}" | median)"
    cpu="$(awk -v i="$i" '$1 == i { print $3 }' "$SCRATCH/times.txt" | median)"
    printf '%-30s %8.3f %8.3f %8.3f %8.3f %9s %8s %8.3f\n' "${names[i]}" "$m" "${t[0]}" "${t[-1]}" \
        "$(awk -v a="${t[-1]}" -v b="${t[0]}" 'BEGIN { print a - b }')" "$(ratio "$m" "$over_median")" \
        "$(ratio "$m" "$new_median")" "$cpu"
done
if (( failures )); then
    die "$failures check(s) failed"
fi
