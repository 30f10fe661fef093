#!/usr/bin/env bash
# The manual pages against the programs' own help, so that neither can change without the other:
#   man_pages_test.sh CABRIX PLCSIM MAN_FOLDER
# - cabrix(1)'s help screen is what `cabrix /?` prints (build time aside), and every switch the
#   help names has an entry under SWITCHES;
# - plcsim(1) has an entry under OPTIONS for exactly the options of `plcsim --help`, and one
#   under FAULTS for exactly the kinds of `plcsim --list-faults`.
set -euo pipefail
cabrix=$1 plcsim=$2 man=$3
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# The roff source with its escapes for '-' undone.
page() { sed -e 's/\\-/-/g' "$man/$1"; }
# The lines of one section of a page (between .SH NAME and the next .SH).
section() { page "$1" | awk -v s=".SH $2" '$0 == s {on = 1; next} /^\.SH / {on = 0} on'; }
# The first word of each entry (.TP followed by .B or .BI) of a section.
entries() { section "$1" "$2" | awk 'tp && /^\.BI? / {print $2} {tp = ($0 == ".TP")}'; }

# cabrix: the help screen, as UTF-8 text with LF line ends and without trailing empty lines.
help=$("$cabrix" /? | iconv -f CP866 -t UTF-8 | tr -d '\r' | sed -e 's/^\(Дата и время компиляции \).*/\1<build time>/')
shown=$(section cabrix.1 "HELP SCREEN" | awk '/^\.nf$/ {on = 1; next} /^\.fi$/ {on = 0} on' |
        grep -v '^\.ft' | sed -e 's/^\(Дата и время компиляции \).*/\1<build time>/')
[ "$help" = "$shown" ] || fail "cabrix(1)'s help screen differs from cabrix /?:
$(diff <(echo "$help") <(echo "$shown") || true)"

documented=$(entries cabrix.1 SWITCHES)
for switch in $(echo "$help" | grep -o $'^\t/[A-Za-z?]*' | tr -d '\t' | sed -e 's/xx*$//'); do
  echo "$documented" | awk -v s="$switch" 'index($0, s) == 1 {found = 1} END {exit !found}' ||
    fail "cabrix(1) has no entry for $switch"
done

# plcsim: options and fault kinds, both ways.
compare() {  # what, from the program, from the page
  [ "$2" = "$3" ] || fail "plcsim(1) and plcsim's own $1 differ:
$(diff <(echo "$2") <(echo "$3") || true)"
}
compare options "$("$plcsim" --help | grep -oE '^ +--[a-z-]+' | tr -d ' ' | sort -u)" \
                "$(entries plcsim.1 OPTIONS | sort -u)"
compare "fault kinds" "$("$plcsim" --list-faults | grep -E '^[a-z]' | sort -u)" \
                      "$(entries plcsim.1 FAULTS | sort -u)"
exit "$failed"
