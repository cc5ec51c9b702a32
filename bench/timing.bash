# Timing helpers shared by the benchmarks, which source them.

# run_ns COMMAND...: one run's time in nanoseconds, output discarded; $BEFORE_EACH, when set, is
# evaluated before it, outside the timing.
run_ns() {
  local start end
  [ -z "${BEFORE_EACH:-}" ] || eval "$BEFORE_EACH"
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $((end - start))
}

# summarise: times in nanoseconds, one a line, in seconds with $DIGITS decimals (3): by $STAT,
# their median (the default: steadier than the shortest on a machine shared with other work)
# or, with STAT=best, the shortest.
summarise() {
  sort -n | awk -v stat="${STAT:-median}" -v digits="${DIGITS:-3}" '{ t[NR] = $1 } END {
    v = stat == "best" ? t[1] : NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.*f", digits, v / 1e9 }'
}

# timed COMMAND...: the time of $ROUNDS runs, summarised.
timed() {
  for _ in $(seq "$ROUNDS"); do run_ns "$@"; done | summarise
}

# interleaved A B: the times of the commands A and B (words split at blanks) like timed, as
# "TA TB", their $ROUNDS runs taken in turn so that a change of load falls on both alike.
interleaved() {
  local a b
  a=$(mktemp)
  b=$(mktemp)
  for _ in $(seq "$ROUNDS"); do
    run_ns $1 >>"$a"
    run_ns $2 >>"$b"
  done
  echo "$(summarise <"$a") $(summarise <"$b")"
  rm -f "$a" "$b"
}

# best COMMAND...: the shortest of $ROUNDS runs.
best() { STAT=best timed "$@"; }

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
