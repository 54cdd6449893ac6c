# Sourced by the bench scripts. measure CMD...: prints "SECONDS PEAK_KB" of one run of CMD
# through GNU time; on failure prints CMD's errors and exits the calling script with 1.
# Needs $work (the script's scratch directory).
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time.log" "$@" >/dev/null 2>"$work/err.log" \
    || { echo "$(basename "$0" .sh): failed: $*" >&2; cat "$work/err.log" >&2; exit 1; }
  cat "$work/time.log"
}
