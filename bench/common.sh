# Shared by the bench scripts: timing, medians, peak memory.

# Seconds since the epoch, with nanoseconds.
now() { date +%s.%N; }

# Median of the numbers given as arguments.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs "$@" once and prints its wall time in seconds; output is discarded.
time_once() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1 </dev/null || true
  end=$(now)
  echo "$end - $start" | bc -l
}

# Peak resident memory of "$@" in KiB.
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null </dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}

# Builds the optimized programs when they are missing or older than the sources.
ensure_release() {
  local top=$1
  if [ ! -x "$top/build/release/bin/scrambler" ] ||
     [ -n "$(find "$top/common" "$top/scrambler" "$top/unpacker" -newer "$top/build/release/bin/scrambler" -print -quit 2>/dev/null)" ]; then
    cmake --preset release -S "$top" >/dev/null
    cmake --build "$top/build/release" -j "$(nproc)" >/dev/null
  fi
}
