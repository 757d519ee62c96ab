# Shared by the bench scripts: the build, timings through hyperfine, peak
# memory through GNU time.

# Reads a bench's arguments, [--tmpfs] [runs], into $runs (default $1) and
# $scratch_root: the build folder, or with --tmpfs a folder in memory
# (/dev/shm), where the programs' own work is not hidden by the disk's.
read_bench_arguments() {
  local default_runs=$1; shift
  scratch_root=$top/build
  if [ "${1:-}" = --tmpfs ]; then
    scratch_root=/dev/shm/assettools-bench
    shift
  fi
  runs=${1:-$default_runs}
}

# Builds the optimized programs with the floor programs and the payload
# writer beside them (the release build turns those on only here); the build
# itself knows what is out of date, CMake files included.
ensure_release() {
  local top=$1
  command -v hyperfine >/dev/null || { echo "the benches time with hyperfine: apt-get install hyperfine" >&2; exit 1; }
  [ -x /usr/bin/time ] || { echo "the benches read peak memory with GNU time: apt-get install time" >&2; exit 1; }
  (cd "$top" && cmake --preset release -DASSETTOOLS_BUILD_BENCH=ON >/dev/null)
  cmake --build "$top/build/release" -j "$(nproc)" >/dev/null
}

# Times the commands with hyperfine in $runs rounds, each round one run of
# every command in turn: a shared machine's speed drifts over a bench, and
# taking turns lets the drift fall on every tool alike rather than on
# whichever ran during a slow spell. The times of all rounds go to the JSON
# file $1. Commands and their --prepare steps run in bash, so they can call
# functions this script exports.
time_commands() {
  local json=$1 round; shift
  for round in $(seq "$runs"); do
    hyperfine --runs 1 --shell=bash --style none --export-json "$json.$round" "$@" >&2
  done
  python3 - "$json" "$runs" <<'PY'
import json, statistics, sys
path, rounds = sys.argv[1], int(sys.argv[2])
times = {}
for round in range(1, rounds + 1):
    for result in json.load(open(f"{path}.{round}"))["results"]:
        times.setdefault(result["command"], []).extend(result["times"])
results = [{"command": c, "times": t, "median": statistics.median(t)} for c, t in times.items()]
json.dump({"results": results}, open(path, "w"))
PY
  for round in $(seq "$runs"); do rm -f "$json.$round"; done
}

# The median wall time, in seconds, of the command named $2 (its
# --command-name) in the JSON file $1 that time_commands wrote.
median_of() {
  python3 - "$1" "$2" <<'PY'
import json, sys
for result in json.load(open(sys.argv[1]))["results"]:
    if result["command"] == sys.argv[2]:
        print(result["median"])
PY
}

# Peak resident memory of "$@" in KiB.
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null </dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
