# Timing helpers shared by the benchmarks, which source them.

# best COMMAND...: the shortest of $ROUNDS runs, in seconds, output discarded. $BEFORE_EACH, when
# set, is evaluated before every run, outside the timing.
best() {
  local best_ns=0 start end ns
  for _ in $(seq "$ROUNDS"); do
    [ -z "${BEFORE_EACH:-}" ] || eval "$BEFORE_EACH"
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    ns=$((end - start))
    if [ $best_ns -eq 0 ] || [ $ns -lt $best_ns ]; then best_ns=$ns; fi
  done
  awk -v ns=$best_ns 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# timed COMMAND...: like best, but by $STAT: the median of the $ROUNDS runs (the default: steadier
# than the shortest on a machine shared with other work), or the shortest with STAT=best.
timed() {
  local times=() start end
  for _ in $(seq "$ROUNDS"); do
    [ -z "${BEFORE_EACH:-}" ] || eval "$BEFORE_EACH"
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v stat="${STAT:-median}" '{ t[NR] = $1 } END {
    v = stat == "best" ? t[1] : NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.3f", v / 1e9 }'
}

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
