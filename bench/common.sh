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

# Builds the optimized programs; the build itself knows what is out of date,
# CMake files included, and does nothing when all is current.
ensure_release() {
  local top=$1
  command -v hyperfine >/dev/null || { echo "the benches time with hyperfine: apt-get install hyperfine" >&2; exit 1; }
  [ -x /usr/bin/time ] || { echo "the benches read peak memory with GNU time: apt-get install time" >&2; exit 1; }
  [ -f "$top/build/release/CMakeCache.txt" ] || (cd "$top" && cmake --preset release >/dev/null)
  cmake --build "$top/build/release" -j "$(nproc)" >/dev/null
}

# hyperfine with $runs timed runs of each command, its summary on standard
# error and its results in the JSON file $1. Commands and their --prepare
# steps run in bash, so they can call functions this script exports.
time_commands() {
  local json=$1; shift
  hyperfine --runs "$runs" --shell=bash --style basic --export-json "$json" "$@" >&2
}

# The median wall time, in seconds, of the command named $2 (its
# --command-name) in hyperfine's JSON file $1.
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
