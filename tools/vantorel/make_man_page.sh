#!/bin/sh
# Writes vantorel's manual page from the tool's own help, so the two say the
# same: TEMPLATE (tools/vantorel/vantorel.1.in) with its placeholders filled.
#   @SYNOPSIS@  the usage lines of `TOOL --help`
#   @OVERVIEW@  the rest of `TOOL --help` but its list of commands
#   @COMMANDS@  a subsection per command of that list: `TOOL COMMAND --help`
#   @BUNDLE_SEARCH@, @EXIT_STATUS@  the sections "the plug-in:" and "exit
#               status:" of `TOOL --help`, which every command's help repeats
#               and the page says once, in sections of its own
#   @VERSION@   `TOOL --version` up to a parenthesis ("vantorel 1.8")
#   @DATE@      DATE
# Help text is laid out as the tool prints it: "usage: " lines (and lines
# indented under them), column-0 paragraphs and headings ("options:"), and
# items indented by two spaces, a name, two or more spaces and a description
# that goes on in lines indented further. Items become tagged paragraphs with
# option names in bold and their values in italics.
#
# usage: make_man_page.sh TOOL TEMPLATE DATE OUT
set -eu
[ $# -eq 4 ] || { echo "usage: $0 TOOL TEMPLATE DATE OUT" >&2; exit 2; }
tool=$1 template=$2 date=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# to_roff PART [HEADING]: help text on standard input as roff. PART is
# "synopsis" (the usage lines only), "overview" (all but the usage lines,
# the commands and the shared sections), "command" (all but the shared
# sections) or "section" (the lines under HEADING, one of the shared
# sections; a numbered line there is a list item, any other line indented
# by two without a gap a paragraph).
to_roff() {
  awk -v part="$1" -v heading="${2:-}" '
    # The sections every help repeats, which the page says once.
    function shared(s) { return s == "the plug-in:" || s == "exit status:" }
    # Whether the section a column-0 line starts is left out of this part.
    function skipped(s) {
      if (part == "section")
        return s != heading
      return shared(s) || (part == "overview" && s == "commands:")
    }
    # Text as roff prints it: backslashes escaped, every - a plain minus.
    function esc(s,   out, c, i) {
      out = ""
      for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        out = out (c == "\\" ? "\\e" : c == "-" ? "\\-" : c)
      }
      return out
    }
    # A line of running text; a leading . or '\'' would be read as a request.
    function text(s) {
      s = esc(s)
      if (s ~ /^[.'\'']/)
        s = "\\&" s
      print s
    }
    # An item name: words starting with - in bold, the others in italics.
    function tag(s,   n, w, i, out) {
      n = split(s, w, " ")
      out = ""
      for (i = 1; i <= n; i++)
        out = out (i > 1 ? " " : "") (w[i] ~ /^-/ ? "\\fB" : "\\fI") esc(w[i]) "\\fR"
      return out
    }
    function usage(s,   program) {
      program = s
      sub(/ .*/, "", program)
      sub(/^[^ ]* */, "", s)
      if (part == "synopsis" || part == "command") {
        print ".SY " program
        if (s != "")
          text(s)
        print ".YS"
      }
    }
    function indent(s) {
      match(s, /^ */)
      return RLENGTH
    }
    # An item: "  NAME  DESCRIPTION". NAME ends at a gap of two spaces, or,
    # when it fills its column, at the column where descriptions start.
    function item(s,   gap, name, description) {
      s = substr(s, 3)
      gap = index(s, "  ")
      if (!gap && column > 2 && substr(s, column - 2, 1) == " " &&
          substr(s, column - 1, 1) != " ")
        gap = column - 2
      name = gap ? substr(s, 1, gap - 1) : s
      description = gap ? substr(s, gap) : ""
      sub(/^ +/, "", description)
      print ".TP"
      print tag(name)
      if (description != "")
        text(description)
    }
    { lines[++count] = $0 }
    # The column where descriptions start: the commonest indentation deeper
    # than an item'"'"'s.
    indent($0) > 2 && ++deeper[indent($0)] > deeper[column] { column = indent($0) }
    END {
      for (i = 1; i <= count; i++) {
        line = lines[i]
        if (line ~ /^[ \t]*$/) {
          state = ""
        } else if (line ~ /^usage: /) {
          state = "usage"
          usage(substr(line, 8))
        } else if (state == "usage" && line ~ /^ +[^ ]/) {
          sub(/^ +/, "", line)
          usage(line)
        } else if (part == "synopsis") {
          continue
        } else if (line ~ /^[^ ]/ && (skipping = skipped(line))) {
          continue
        } else if (skipping) {
          continue
        } else if (part == "section" && line ~ /^[^ ]/) {
          continue
        } else if (part == "section" && line ~ /^ +[0-9]+\. /) {
          sub(/^ +/, "", line)
          print ".IP " substr(line, 1, index(line, " ") - 1) " 4"
          text(substr(line, index(line, " ") + 1))
          state = "item"
        } else if (part == "section" && line ~ /^  [^ ]/ && !index(substr(line, 3), "  ")) {
          if (state != "paragraph")
            print ".PP"
          text(substr(line, 3))
          state = "paragraph"
        } else if (line ~ /^[^ ].*:$/) {
          # A heading, such as "options:".
          print ".PP"
          print ".B " esc(line)
          state = ""
        } else if (line ~ /^[^ ]/) {
          if (state != "paragraph")
            print ".PP"
          text(line)
          state = "paragraph"
        } else if (line ~ /^  [^ ]/) {
          item(line)
          state = "item"
        } else {
          # Deeper lines go on with the item or paragraph above them.
          sub(/^ +/, "", line)
          if (state == "")
            print ".IP"
          text(line)
          if (state == "")
            state = "indented"
        }
      }
    }'
}

"$tool" --help >"$work/help"
"$tool" --version | sed -n '1{s/ *(.*//;p;}' >"$work/version"
to_roff synopsis <"$work/help" >"$work/synopsis"
to_roff overview <"$work/help" >"$work/overview"
to_roff section "the plug-in:" <"$work/help" >"$work/bundle_search"
to_roff section "exit status:" <"$work/help" >"$work/exit_status"
for section in bundle_search exit_status; do
  [ -s "$work/$section" ] || { echo "$0: no $section section in $tool --help" >&2; exit 1; }
done
awk '/^[^ ]/ { listing = $0 == "commands:"; next }
     listing && /^  [^ ]/ { print $1 }' "$work/help" >"$work/commands"
[ -s "$work/commands" ] || { echo "$0: no commands in $tool --help" >&2; exit 1; }
: >"$work/sections"
while read -r command; do
  printf '.SS %s\n' "$command" >>"$work/sections"
  "$tool" "$command" --help | to_roff command >>"$work/sections"
done <"$work/commands"

# The template with the placeholders replaced.
VERSION=$(cat "$work/version") DATE=$date DIR=$work awk '
  function put(s, key, value,   at, out) {
    out = ""
    while ((at = index(s, key)) > 0) {
      out = out substr(s, 1, at - 1) value
      s = substr(s, at + length(key))
    }
    return out s
  }
  function insert(file,   line) {
    while ((getline line <file) > 0)
      print line
    close(file)
  }
  NR == 1 {
    print ".\\\" Written by make_man_page.sh from vantorel.1.in and the help"
    print ".\\\" that the tool prints; edit those, not this."
  }
  /^\.\\"/ { next }
  $0 == "@SYNOPSIS@" { insert(ENVIRON["DIR"] "/synopsis"); next }
  $0 == "@OVERVIEW@" { insert(ENVIRON["DIR"] "/overview"); next }
  $0 == "@COMMANDS@" { insert(ENVIRON["DIR"] "/sections"); next }
  $0 == "@BUNDLE_SEARCH@" { insert(ENVIRON["DIR"] "/bundle_search"); next }
  $0 == "@EXIT_STATUS@" { insert(ENVIRON["DIR"] "/exit_status"); next }
  { print put(put($0, "@VERSION@", ENVIRON["VERSION"]), "@DATE@", ENVIRON["DATE"]) }
' "$template" >"$work/page"
mv "$work/page" "$out"
