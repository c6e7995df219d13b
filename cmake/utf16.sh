#!/bin/sh
# utf16.sh IN OUT: writes IN (UTF-8) to OUT in UTF-16, little-endian, with its
# byte-order mark and CR LF line ends, as Windows tools (schtasks /xml) read it.
set -e
{ printf '\377\376'; sed 's/$/\r/' "$1" | iconv -f UTF-8 -t UTF-16LE; } > "$2"
