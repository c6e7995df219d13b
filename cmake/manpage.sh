#!/bin/sh
# manpage.sh MANUAL PAGE: makes the man page PAGE of the Markdown manual MANUAL
# with go-md2man. Chinese has no blanks to break lines at: a break point
# (\:) after each Han character and each full-width mark lets groff break
# there, and left-adjusted lines keep it from stretching the blanks.
set -e
go-md2man -in "$1" -out "$2.tmp"
perl -CSD -pe 'if (/^\.TH/) { $_ .= ".ad l\n"; next }
               s/(\p{Han}|[，。、；：！？）」』“”])(?=[^\s\\])/$1\\:/g' "$2.tmp" > "$2"
rm -f "$2.tmp"
