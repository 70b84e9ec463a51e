#!/bin/sh
# Holds vantorel's manual page to the tool's help, so the two cannot drift:
#  - every usage line, paragraph and item (an option or argument with its
#    description) of `TOOL --help` and of `TOOL COMMAND --help` for each
#    command it lists is in the page, word for word;
#  - every command has an example under EXAMPLES, and the examples use only
#    options that their command's help lists;
#  - groff formats the page without a warning.
# Prints one FAIL line per finding and exits 1 on any.
#
# usage: check_man_page.sh TOOL PAGE   (PAGE may be gzipped)
set -euf
[ $# -eq 2 ] || { echo "usage: $0 TOOL PAGE" >&2; exit 2; }
tool=$1 page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
problem() { printf "FAIL: %s\n" "$*"; failures=$((failures + 1)); }

# The page as plain text, each paragraph on one line.
gzip -dcf "$page" | groff -man -Tascii -P-cbou -rLL=30000n -ww \
  >"$work/page" 2>"$work/warnings"
[ -s "$work/warnings" ] && problem "groff warns: $(head -n 3 "$work/warnings")"
flatten() { tr '\t\n' '  ' | tr -s ' '; }
flatten <"$work/page" >"$work/flat"

# blocks: help text as its blocks, one a line, spaces collapsed: a line at
# column 0 or indented by two starts a block and deeper lines go on with it;
# "usage: " is dropped, and the lines indented under it stand alone. The
# headings "commands:", "the plug-in:" and "exit status:" are left out: the
# page's COMMANDS, BUNDLE SEARCH and EXIT STATUS sections stand for them.
blocks() {
  awk '
    function heading(s) {
      return s == "commands:" || s == "the plug-in:" || s == "exit status:"
    }
    function flush() { if (block != "" && !heading(block)) print block; block = "" }
    function add(s) { sub(/^ +/, "", s); block = block (block == "" ? "" : " ") s }
    /^[ \t]*$/ { flush(); usage = 0; next }
    /^usage: / { flush(); add(substr($0, 8)); usage = 1; next }
    usage || /^ ? ?[^ ]/ { flush() }
    { add($0) }
    END { flush() }' | tr -s ' '
}

# Every block of every help text in the page. help.COMMAND keeps each
# command's help for the examples below.
"$tool" --help >"$work/help"
awk '/^[^ ]/ { listing = $0 == "commands:"; next }
     listing && /^  [^ ]/ { print $1 }' "$work/help" >"$work/commands"
[ -s "$work/commands" ] || problem "no commands in $tool --help"
for command in "" $(cat "$work/commands"); do
  text=$work/help
  if [ -n "$command" ]; then
    text=$work/help.$command
    "$tool" "$command" --help >"$text"
  fi
  blocks <"$text" >"$work/blocks"
  while IFS= read -r block; do
    BLOCK=$block awk 'index($0, ENVIRON["BLOCK"]) { found = 1 }
                      END { exit !found }' "$work/flat" ||
      problem "not in the page (vantorel${command:+ $command} --help): $block"
  done <"$work/blocks"
done

# The examples: lines of the EXAMPLES section that start with the tool's
# name, with lines ending in a backslash joined to the next.
awk '/^[^ ]/ { inside = $0 == "EXAMPLES"; next }
     inside' "$work/page" |
  sed -e :a -e '/\\$/{N;s/\\\n */ /;ba' -e '}' |
  awk '$1 == "vantorel"' | sed 's/^ *//' >"$work/examples"
while read -r command; do
  awk -v c="$command" '$2 == c { found = 1 } END { exit !found }' \
    "$work/examples" || problem "no example of vantorel $command under EXAMPLES"
done <"$work/commands"
while IFS= read -r example; do
  set -- $example
  command=$2
  if ! grep -qx -- "$command" "$work/commands"; then
    problem "example of an unknown command: $example"
    continue
  fi
  shift 2
  for word in "$@"; do
    case $word in
    -*)
      option=${word%%=*}
      grep -q -- "^ *$option\( \|$\)" "$work/help.$command" ||
        problem "example uses $option, which vantorel $command --help does not list: $example"
      ;;
    esac
  done
done <"$work/examples"

if [ "$failures" -gt 0 ]; then
  echo "$failures finding(s) in $page"
  exit 1
fi
echo "PASS: $page says what $tool --help says"
