# Timing helpers shared by the benchmarks, which source them.

# timed COMMAND...: the time of $ROUNDS runs in seconds with $DIGITS decimals (3), output
# discarded: by $STAT, their median (the default: steadier than the shortest on a machine shared
# with other work) or, with STAT=best, the shortest. $BEFORE_EACH, when set, is evaluated before
# every run, outside the timing.
timed() {
  local times=() start end
  for _ in $(seq "$ROUNDS"); do
    [ -z "${BEFORE_EACH:-}" ] || eval "$BEFORE_EACH"
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk -v stat="${STAT:-median}" -v digits="${DIGITS:-3}" '{ t[NR] = $1 } END {
    v = stat == "best" ? t[1] : NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.*f", digits, v / 1e9 }'
}

# best COMMAND...: the shortest of $ROUNDS runs.
best() { STAT=best timed "$@"; }

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
