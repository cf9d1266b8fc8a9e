#!/bin/sh
# Every option the programs accept is in their --help and in their manual
# page: vellomar's and vellomar-proof's as their option parsers in
# src/app/command_line.cpp list them, vellomar-albums' as its option loop
# reads them; and every option their --help names is in the manual page.
# usage: options_documented_test.sh VELLOMAR VELLOMAR_PROOF VELLOMAR_ALBUMS
#                                   COMMAND_LINE_CPP DOC_DIR
set -eu
command_line=$4 doc=$5
failed=0

# The options in a text (standard input): --name, and -h.
options() {
  grep -oE -- '(^|[^a-zA-Z0-9-])(--[a-z][a-z-]*[a-z]|-h)([^a-zA-Z0-9-]|$)' |
    grep -oE -- '--?[a-z-]*[a-z]' | sort -u
}
# The options of the parser in the C++ function named $1.
parsed() {
  awk -v f="int $1(" 'index($0, f) == 1 { on = 1 } on && /parseArguments\(/ { grab = 1 }
    grab { print } grab && /\}\);/ { exit }' "$command_line" |
    grep -oE '\{"[a-z-]+"' | sed 's/^{"/--/; s/"$//'
  echo -h  # parseArguments reads -h as --help
}
# The options of vellomar-albums' own option loop (not those for parallel).
looped() {
  awk '/^while \[ \$# -gt 0 \]/ { on = 1 } on && /^done/ { exit } on' "$1" |
    sed -n 's/^ *\(-[-a-z |=*?]*\)).*/\1/p' | tr '|' '\n' | sed 's/ //g; s/=\*$//' |
    grep -vxE -- '--|-\?\*' | sort -u
}
# check PROGRAM PAGE OPTIONS HELP
check() {
  text=$(sed 's/\\f[BIRP]//g; s/\\-/-/g' "$doc/$2")
  printf '%s\n' "$3" | grep -q -- '^--' || { echo "$1: no options found in its source"; failed=1; }
  for option in $3; do
    printf '%s\n' "$4" | grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|$)" ||
      { echo "$1: $option is not in its --help"; failed=1; }
  done
  for option in $({ printf '%s\n' $3; printf '%s\n' "$4" | options; } | sort -u); do
    printf '%s\n' "$text" | grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|$)" ||
      { echo "$1: $option is not in $2"; failed=1; }
  done
}

check vellomar vellomar.1 "$(parsed runCommandLine)" "$("$1" --help)"
check vellomar-proof vellomar-proof.1 "$(parsed runProofCommandLine)" "$("$2" --help)"
check vellomar-albums vellomar-albums.1 "$(looped "$3")" "$(sh "$3" --help)"
[ "$failed" = 0 ] && echo "every option is documented"
exit "$failed"
