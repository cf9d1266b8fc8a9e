#!/bin/sh
# vellomar-albums on a folder of three albums, one of which fails: the good
# ones are prepared, the failing one is named, the exit status counts it; the
# same through GNU parallel's --sshlogin (here the local machine, ":").
# usage: vellomar_albums_test.sh SCRIPT VELLOMAR MAKE_EXAMPLE_PICTURES EXAMPLE_ALBUM
set -eu
script=$1 vellomar=$2 pictures=$3 example=$4
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for album in spring summer broken; do
  mkdir -p "$work/albums/$album"
  cp "$example" "$work/albums/$album/album.desc"
  [ "$album" = broken ] || "$pictures" "$work/albums/$album"
done
for extra in "" "-- --sshlogin :"; do
  rm -rf "$work/out"
  status=0
  # shellcheck disable=SC2086
  VELLOMAR=$vellomar "$script" "$work/albums" "$work/out" 0 $extra 2> "$work/err" || status=$?
  [ "$status" = 1 ] || { echo "exit status $status, not 1"; cat "$work/err"; exit 1; }
  grep -q "^  $work/albums/broken\$" "$work/err" || { echo "broken album not named"; cat "$work/err"; exit 1; }
  grep -q spring "$work/err" && { echo "a good album named"; exit 1; }
  for album in spring summer; do
    [ -s "$work/out/$album/album.desc" ] && [ -s "$work/out/$album/beach.jpg" ] ||
      { echo "$album not prepared"; exit 1; }
  done
done
echo "vellomar-albums: ok"
