#!/bin/sh
# Tests the man page generator and its check on a stand-in for the tool
# whose help holds what roff would misread (lines starting with . or ',
# backslashes, quotes, an option name that fills its column): the page made
# from it must pass the check, and each kind of drift between the help and
# the page must be found and named.
#
# usage: man_page_test.sh MAKE_MAN_PAGE CHECK_MAN_PAGE
set -eu
[ $# -eq 2 ] || { echo "usage: $0 MAKE_MAN_PAGE CHECK_MAN_PAGE" >&2; exit 2; }
generate=$1 check=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf "FAIL: %s\n" "$*"; failures=$((failures + 1)); }

# A stand-in tool in folder $1: it prints $1/help for --help and
# $1/COMMAND.help for COMMAND --help.
mkdir "$work/tool"
cat >"$work/tool/tool" <<'EOF'
#!/bin/sh
here=$(dirname "$0")
case $1 in
--help) cat "$here/help" ;;
--version) echo "vantorel 9.9 (a library 1.0)" ;;
*) cat "$here/$1.help" ;;
esac
EOF
chmod +x "$work/tool/tool"
cat >"$work/tool/help" <<'EOF'
usage: vantorel COMMAND [OPTIONS]
       vantorel --version

A paragraph of the overview, with a-hyphen and 'quotes'.
.a line starting with a dot, a \backslash\ and \fB no font change
'a line starting with a quote

commands:
  paint IN OUT [--colour NAME]
      paint a picture
  erase OUT
      erase a picture

the plug-in:
  Found in the first of:
    1. --bundle PATH;
    2. the folders of
       OFX_PLUGIN_PATH.

exit status:
  0  done
  1  failed
EOF
# Every command's help repeats the shared sections, as the tool's does.
shared_sections() {
  sed -n '/^the plug-in:/,$p' "$work/tool/help"
}
cat >"$work/tool/paint.help" <<'EOF'
usage: vantorel paint IN OUT [--colour NAME]

paint a picture
.so /etc/passwd

options:
  IN, OUT             the pictures
  --colour NAME       the colour, "red" or "blue"
                      (default: blue)
  --within FIRST-LAST the name fills its column
  --flag
                      a switch whose description starts below it

EOF
shared_sections >>"$work/tool/paint.help"
cat >"$work/tool/erase.help" <<'EOF'
usage: vantorel erase OUT

erase a picture

options:
  --all               everything

EOF
shared_sections >>"$work/tool/erase.help"
cat >"$work/template" <<'EOF'
.TH VANTOREL 1 "@DATE@" "@VERSION@" "User Commands"
.SH NAME
vantorel \- a stand-in
.SH SYNOPSIS
@SYNOPSIS@
.SH DESCRIPTION
@OVERVIEW@
.SH COMMANDS
@COMMANDS@
.SH BUNDLE SEARCH
@BUNDLE_SEARCH@
.SH EXIT STATUS
@EXIT_STATUS@
.SH EXAMPLES
.EX
vantorel paint in.png out.png \e
    \-\-colour=red \-\-flag
vantorel erase out.png \-\-all
.EE
EOF

# variant NAME SCRIPT: a copy of the stand-in in $work/NAME, changed by the
# shell SCRIPT run in its folder.
variant() {
  cp -R "$work/tool" "$work/$1"
  (cd "$work/$1" && eval "$2")
}

# The page made from the stand-in passes, as it is written and gzipped.
page=$work/vantorel.1
if ! sh "$generate" "$work/tool/tool" "$work/template" 2031-02-03 "$page"; then
  fail "the generator failed on the stand-in"
else
  sh "$check" "$work/tool/tool" "$page" >"$work/out" ||
    fail "the stand-in's own page: $(cat "$work/out")"
  gzip -9nc "$page" >"$page.gz"
  sh "$check" "$work/tool/tool" "$page.gz" >"$work/out" ||
    fail "the stand-in's own page, gzipped: $(cat "$work/out")"
fi

# What the page must hold as roff source, line for line.
while IFS='|' read -r what expected; do
  grep -qxF -- "$expected" "$page" || fail "$what: no line '$expected' in the page"
done <<'EOF'
header from the version and date|.TH VANTOREL 1 "2031-02-03" "vantorel 9.9" "User Commands"
each usage line in the synopsis|\-\-version
a leading dot kept as text|\&.a line starting with a dot, a \ebackslash\e and \efB no font change
a leading quote kept as text|\&'a line starting with a quote
a request in a command's help kept as text|\&.so /etc/passwd
an item's name, values in italics|\fB\-\-colour\fR \fINAME\fR
a name that fills its column|\fB\-\-within\fR \fIFIRST\-LAST\fR
its description after it|the name fills its column
a description that starts below its name|a switch whose description starts below it
a subsection per command|.SS erase
a numbered line of a shared section as a list item|.IP 2. 4
an item of a shared section|\fI0\fR
EOF
grep -q "commands:" "$page" && fail "the list of commands is in the overview"
# The shared sections are said once, in their own sections of the page.
[ "$(grep -c -- "Found in the first of:" "$page")" = 1 ] ||
  fail "the bundle search is not said exactly once"
[ "$(grep -c -- "^failed$" "$page")" = 1 ] ||
  fail "the exit statuses are not said exactly once"
grep -q -e "the plug\\-in:" -e "exit status:" "$page" &&
  fail "a shared section's heading is in the page"

# Each drift: a changed stand-in or template, and what the check must say.
while IFS='|' read -r what change expected; do
  variant drift "$change"
  template=$work/template
  [ -f "$work/drift/template" ] && template=$work/drift/template
  sh "$generate" "$work/tool/tool" "$template" 2031-02-03 "$work/drift.1"
  if sh "$check" "$work/drift/tool" "$work/drift.1" >"$work/out"; then
    fail "$what: passed"
  elif ! grep -qF -- "$expected" "$work/out"; then
    fail "$what: no '$expected' in: $(cat "$work/out")"
  fi
  rm -rf "$work/drift"
done <<'EOF'
an option added|echo '  --size WxH          the size' >>erase.help|(vantorel erase --help): --size WxH the size
a description changed|sed -i 's/default: blue/default: green/' paint.help|the colour, "red" or "blue" (default: green)
a usage line changed|sed -i 's/OUT$/OUT [--all]/' erase.help|erase OUT [--all]
a paragraph added to the overview|sed -i '4a Another paragraph.' help|(vantorel --help): Another paragraph.
a shared section changed in a command's help|sed -i 's/^  1  failed/  1  failed badly/' erase.help|(vantorel erase --help): 1 failed badly
a command added|sed -i 's/^      erase a picture$/&\n  fill OUT\n      fill it/' help; printf 'usage: vantorel fill OUT\n' >fill.help|no example of vantorel fill
an example with an option its command lacks|sed 's/out.png .-.-all/out.png \\-\\-colour red/' ../template >template|example uses --colour, which vantorel erase --help does not list
an example of no command|sed 's/vantorel erase/vantorel wipe/' ../template >template|example of an unknown command: vantorel wipe
a page groff warns about|sed 's/^.EE/.EE\n.XYZ/' ../template >template|groff warns
EOF

# The generator refuses help that lists no commands, or lacks a shared
# section.
variant bare "sed -i '/^commands:/,\$d' help"
sh "$generate" "$work/bare/tool" "$work/template" 2031-02-03 "$work/bare.1" \
  2>/dev/null && fail "a page was made from help without commands"
rm -rf "$work/bare"
variant bare "sed -i '/^exit status:/,\$d' help"
sh "$generate" "$work/bare/tool" "$work/template" 2031-02-03 "$work/bare.1" \
  2>/dev/null && fail "a page was made from help without exit statuses"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "PASS: the generator and the check"
