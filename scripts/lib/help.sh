# Sourced by every script before it does anything: with -h or --help among the arguments, prints
# the script's opening comment (what it does and its usage) to standard output and exits 0.
# Usage: source "$(dirname "${BASH_SOURCE[0]}")/lib/help.sh" "$@"
for argument in "$@"; do
  case "$argument" in
    -h | --help)
      sed -n '2,${/^#/!q;s/^# \{0,1\}//;p}' "$0"
      exit 0
      ;;
  esac
done
unset argument

# Ends the script with a usage error (exit 2) naming what was wrong.
usage_error() {
  echo "$(basename "$0"): $1 (see $(basename "$0") --help)" >&2
  exit 2
}
