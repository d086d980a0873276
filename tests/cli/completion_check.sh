#!/usr/bin/env bash
# The bash completion of tavorin-chm, driven as bash drives it: commands, the options each
# command's --help names, methods the program accepts, folders for the folder options.
# Usage: completion_check.sh TAVORIN_CHM COMPLETION_SCRIPT
set -euo pipefail
cli=$1
source "$2"
work=$(mktemp -d "${TMPDIR:-/tmp}/chm-completion-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/music folder" && touch "$work/music.wav"

fail() { echo "FAIL: $*" >&2; exit 1; }

# The candidates for the last word of the command line given, sorted, one per line.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _tavorin_chm "$cli" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local wanted=$1
  shift
  local got
  got=$(complete_line "$@")
  [ "$got" = "$(printf -- "$wanted" | sort)" ] || fail "'$*' completes to [$got], not [$(printf -- "$wanted")]"
}

expect 'convert\nscan\n--help\n--version' tavorin-chm ''
expect 'scan' tavorin-chm sc
expect '--method' tavorin-chm convert --me
expect '--recurse' tavorin-chm scan --rec
expect 'mix\nleft\nright' tavorin-chm convert --method ''
expect "$work/music folder" tavorin-chm convert --output-folder "$work/mus"
expect "$work/music folder" tavorin-chm scan --recurse "$work/m"
expect "$work/music folder\n$work/music.wav" tavorin-chm convert "$work/m"
expect '' tavorin-chm convert -- --me
# --option=value, as bash splits it at "=" and as one word where "=" breaks no words.
expect 'mix\nleft\nright' tavorin-chm convert --method =
expect 'left' tavorin-chm convert --method = l
expect '--method=left' tavorin-chm convert --method=l
expect "$work/music folder" tavorin-chm convert --output-folder = "$work/mus"
expect "--output-folder=$work/music folder" tavorin-chm convert "--output-folder=$work/mus"

# Every option that a help text names is offered, and nothing else that looks like one.
for command in convert scan; do
  offered=$(complete_line tavorin-chm "$command" -)
  # The name column of the option rows.
  named=$("$cli" "$command" --help | sed -n '/^Options:/,/^$/p' | grep '^  -' | cut -c1-26 |
          grep -oE -- '--?[a-z0-9][a-z0-9-]*' | sort -u)
  [ "$offered" = "$named" ] || fail "$command: offered [$offered], its help names [$named]"
done

# Every method offered is one the program takes.
for method in $(complete_line tavorin-chm convert --method ''); do
  if "$cli" convert --method "$method" "$work/none.txt" 2>&1 | grep -q "unknown method"; then
    fail "method $method is offered but refused"
  fi
done
echo "completion check passed"
