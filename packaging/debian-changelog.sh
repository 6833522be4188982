#!/bin/sh
# Turns CHANGELOG.md into the Debian package's changelog.gz. Each release `## VERSION (YYYY-MM-DD)`
# becomes an entry "kestrin (VERSION) unstable; urgency=medium" whose list items are re-wrapped
# under 80 columns as "  * ..." lines and whose trailer carries MAINTAINER and the release date at
# midnight UTC. Text before the first release is left out. gzip -9n keeps no name or time stamp,
# so the same CHANGELOG.md always gives the same bytes.
#
# Usage: debian-changelog.sh CHANGELOG.md "NAME <ADDRESS>" OUTPUT.gz
set -eu
markdown=$1
maintainer=$2
output=$3

awk -v maintainer="$maintainer" '
  function flush_item(    words, n, i, line) {
    if (item == "") return
    n = split(item, words, " ")
    line = "  *"
    for (i = 1; i <= n; i++) {
      if (length(line) + 1 + length(words[i]) > 79) { print line; line = "   " }
      line = line " " words[i]
    }
    print line
    item = ""
  }
  function close_entry(    command, stamp) {
    if (version == "") return
    flush_item()
    command = "date -u -R -d " date
    command | getline stamp
    close(command)
    print ""
    print " -- " maintainer "  " stamp
  }
  /^## / {
    close_entry()
    if (!match($0, /^## [^ ]+ \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/)) {
      print "CHANGELOG.md: a release line is \"## VERSION (YYYY-MM-DD)\": " $0 > "/dev/stderr"
      failed = 1
      exit 1
    }
    version = $2
    date = substr($3, 2, 10)
    if (entries++) print ""
    print "kestrin (" version ") unstable; urgency=medium"
    print ""
    next
  }
  version == "" { next }
  /^- / { flush_item(); item = substr($0, 3); next }
  /^  +[^ ]/ && item != "" { sub(/^ +/, ""); item = item " " $0; next }
  /^[ \t]*$/ { flush_item(); next }
  { print "CHANGELOG.md: not a list item: " $0 > "/dev/stderr"; failed = 1; exit 1 }
  END { if (!failed) close_entry() }
' "$markdown" > "${output%.gz}"
gzip -9nf "${output%.gz}"
