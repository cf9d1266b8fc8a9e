#!/bin/sh
# vellomar-albums on a folder of four albums named with a space, a quote and
# letters outside ASCII, one of which fails, into an output folder whose name
# holds a space: the good ones are prepared, the failing one is named, the
# exit status counts it; the same through GNU parallel's --sshlogin (here
# the local machine, ":"). --help prints the usage on standard output.
# usage: vellomar_albums_test.sh SCRIPT VELLOMAR MAKE_EXAMPLE_PICTURES EXAMPLE_ALBUM
set -eu
script=$1 vellomar=$2 pictures=$3 example=$4
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "vellomar-albums: $*"
  cat "$work/err"
  exit 1
}
for album in "my book" "it's mine" "été" "broken one"; do
  mkdir -p "$work/albums/$album"
  cp "$example" "$work/albums/$album/album.desc"
  [ "$album" = "broken one" ] || "$pictures" "$work/albums/$album"
done
for extra in "" "-- --sshlogin :"; do
  out="$work/albums out2"
  rm -rf "$out"
  status=0
  # shellcheck disable=SC2086
  VELLOMAR=$vellomar "$script" "$work/albums" "$out" 0 $extra >"$work/printed" 2>"$work/err" ||
    status=$?
  [ "$status" = 1 ] || fail "exit status $status, not 1"
  [ "$(grep -c '^  ' "$work/err")" = 1 ] || fail "not one album named"
  grep -qx "  $work/albums/broken one" "$work/err" || fail "the broken album not named"
  [ ! -s "$work/printed" ] || fail "standard output is not empty"
  for album in "my book" "it's mine" "été"; do
    [ -s "$out/$album/album.desc" ] && [ -s "$out/$album/beach.jpg" ] ||
      fail "$album not prepared"
  done
done
"$script" --help >"$work/printed" 2>"$work/err" || fail "--help failed"
grep -q "^usage: vellomar-albums" "$work/printed" || fail "--help printed no usage"
echo "vellomar-albums: ok"
