# Shared by the bench/ scripts: finding keeptime-cli, a scratch folder that is
# always removed, free-space checks, medians and the machine description.
# shellcheck shell=bash

BENCH_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BENCH_ROOT="$(cd "$BENCH_HERE/.." && pwd)"

say() { printf '%s\n' "$*"; }
die() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 1; }

# The CLI to measure: $KEEPTIME_CLI, else the bench build, else the normal build.
# The scripts never build it: a benchmark of a binary it just built on its own
# terms would hide which build was measured.
default_cli() {
    if [[ -n "${KEEPTIME_CLI:-}" ]]; then
        printf '%s\n' "$KEEPTIME_CLI"
    elif [[ -x "$BENCH_ROOT/build-bench/cli/keeptime-cli" ]]; then
        printf '%s\n' "$BENCH_ROOT/build-bench/cli/keeptime-cli"
    else
        printf '%s\n' "$BENCH_ROOT/build/cli/keeptime-cli"
    fi
}

check_cli() {
    [[ -x "$1" ]] || die "no keeptime-cli at $1; build it (see docs/benchmarks.md) or pass --cli PATH"
}

# make_scratch BASE: a new folder under BASE, removed with everything in it when
# the script ends, however it ends. Sets SCRATCH.
SCRATCH=""
cleanup_scratch() {
    if [[ -n "$SCRATCH" && -d "$SCRATCH" ]]; then
        rm -rf -- "$SCRATCH"
    fi
}
make_scratch() {
    [[ -d "$1" ]] || die "no folder $1"
    SCRATCH="$(mktemp -d "$1/keeptime-bench.XXXXXX")"
    trap cleanup_scratch EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# free_bytes DIR: bytes free for an ordinary user's files in DIR.
free_bytes() { df -P -B1 "$1" | awk 'NR == 2 { print $4 }'; }

# need_space DIR BYTES: fails (status 1) when DIR has less than BYTES + 1 GiB free.
need_space() {
    local free
    free="$(free_bytes "$1")"
    (( free >= $2 + 1073741824 ))
}

# median: the median of the numbers on standard input, one a line.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) exit 1
        if (NR % 2) printf "%.6f\n", v[(NR + 1) / 2]
        else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B: A / B with three decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", a / b }'; }

# machine DIR: what the figures were measured on, as far as the system shows it.
machine() {
    local cpu cores mem fs disk
    cpu="$(lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -n1)"
    cores="$(nproc)"
    mem="$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
    fs="$(findmnt -no SOURCE,FSTYPE,OPTIONS -T "$1" 2>/dev/null || df -T "$1" | tail -n1)"
    disk="$(lsblk -dno NAME,MODEL,SIZE "$(findmnt -no SOURCE -T "$1" 2>/dev/null)" 2>/dev/null || true)"
    say "date:        $(date -u '+%Y-%m-%d %H:%M UTC')"
    say "cpu:         ${cpu:-unknown}, $cores cores online"
    say "memory:      $mem"
    say "kernel:      $(uname -srm)"
    say "filesystem:  $fs"
    say "disk:        ${disk:-not visible}"
    say "os:          $(sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' /etc/os-release 2>/dev/null)"
}
