#!/bin/sh
# Makes, from the Unix side, the links the data folder tests need: Wine 8 makes none itself (its
# CreateSymbolicLinkW reports success and makes nothing). Usage: make-links.sh DIR
#   DIR/elsewhere/victim.txt   a file that must never be written through a link
#   DIR/file-link.log          a link to that file
#   DIR/folder-link            a link to DIR/elsewhere
#   DIR/data/Flashwright       a data folder whose recordings folder is another such link, which
#                              a test moves into place and back
set -eu
dir="$1"
rm -rf "$dir"
mkdir -p "$dir/elsewhere"
printf 'not a log\n' >"$dir/elsewhere/victim.txt"
ln -s "$dir/elsewhere/victim.txt" "$dir/file-link.log"
ln -s "$dir/elsewhere" "$dir/folder-link"
mkdir -p "$dir/data/Flashwright"
ln -s "$dir/elsewhere" "$dir/data/Flashwright/recordings"
