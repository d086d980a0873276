#!/usr/bin/env bash
# Every option and exit code that `tavorin-chm [COMMAND] --help` names appears in the manual page
# as the reader sees it, so that the two cannot drift apart. Usage: help_in_man_page.sh TAVORIN_CHM MAN_PAGE
set -euo pipefail
cli=$1
page=$2

# The page as `man` shows it, without hyphenation or line-end breaks inside an option.
shown=$(groff -t -man -Tascii -P-cbou -rLL=250n "$page" 2>/dev/null)
[ -n "$shown" ] || { echo "FAIL: $page renders empty" >&2; exit 1; }

missing=0
checked=0
for command in "" convert scan; do
  help=$("$cli" $command --help)
  options=$(grep -oE -- '(^|[][ |,(])--?[a-zA-Z0-9][a-zA-Z0-9-]*' <<<"$help" | sed -E 's/^[][ |,(]//' | sort -u)
  for option in $options; do
    checked=$((checked + 1))
    if ! grep -qE -- "(^|[^a-zA-Z0-9-])${option}([^a-zA-Z0-9-]|\$)" <<<"$shown"; then
      echo "FAIL: '${command:+$command }--help' names $option, the manual page does not" >&2
      missing=1
    fi
  done
done
[ "$checked" -ge 8 ] || { echo "FAIL: only $checked options found in the help texts" >&2; exit 1; }

# Every exit code of the help texts has its entry under EXIT STATUS.
status=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$shown")
codes=0
for command in "" convert scan; do
  for code in $("$cli" $command --help | sed -n '/^Exit codes:/,/^$/p' | grep -oE '^  [0-9]+' | tr -d ' '); do
    codes=$((codes + 1))
    if ! grep -qE "^ +${code} " <<<"$status"; then
      echo "FAIL: '${command:+$command }--help' names exit code $code, the manual page does not" >&2
      missing=1
    fi
  done
done
[ "$codes" -ge 21 ] || { echo "FAIL: only $codes exit codes found in the help texts" >&2; exit 1; }
[ "$missing" = 0 ]
echo "all $checked options and $codes exit codes of the help texts are in the manual page"
