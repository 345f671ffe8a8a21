# Sourced by the shell tests: Wine paths, and line checks that count failures.
failures=0

# The Windows path of a file of this machine, on Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# expect FILE LINE: LINE must be one of FILE's lines (CR LF or LF). Whole outputs go
# to grep -q, never a pipe: its early exit would fail the writer under pipefail.
expect() {
  if grep -Fxq -- "$2" <<<"$(tr -d '\r' <"$1")"; then
    echo "ok: $2"
  else
    echo "FAILED: expected the line \"$2\" in $(basename "$1"), which holds:"
    sed 's/^/    /' "$1"
    failures=$((failures + 1))
  fi
}

# check WHAT COMMAND...: the command succeeds, or WHAT is told as a failure.
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
