#!/bin/sh
# Makes, from the Unix side, the links the data folder tests need: Wine 8 makes none itself (its
# CreateSymbolicLinkW reports success and makes nothing). Usage: make-links.sh DIR
#   DIR/elsewhere/victim.txt   a file that must never be written through a link
#   DIR/file-link.log          a link to that file
#   DIR/folder-link            a link to DIR/elsewhere
#   DIR/recordings-link        another, which a test moves into the data folder and back
set -eu
dir="$1"
rm -rf "$dir"
mkdir -p "$dir/elsewhere"
printf 'not a log\n' >"$dir/elsewhere/victim.txt"
ln -s "$dir/elsewhere/victim.txt" "$dir/file-link.log"
ln -s "$dir/elsewhere" "$dir/folder-link"
ln -s "$dir/elsewhere" "$dir/recordings-link"
