#!/bin/sh
# vellomar-albums on a folder of four albums named with a space, a quote and
# letters outside ASCII, one of which fails, into an output folder whose name
# holds a space: the good ones are prepared, the failing one is named (and
# every line vellomar prints for it is tagged with its name), the exit status
# counts it; the same through GNU parallel's --sshlogin (here the local
# machine, ":"). Every album that does not end 0 counts, whatever the cause:
# a machine that cannot be reached, a job killed. With --joblog and --resume,
# an album mended after it failed is prepared again. vellomar's options pass
# through, with a report and a proof for each album. --help prints the usage.
# usage: vellomar_albums_test.sh SCRIPT VELLOMAR VELLOMAR_PROOF MAKE_EXAMPLE_PICTURES EXAMPLE_ALBUM
set -eu
script=$1 vellomar=$2 proof=$3 pictures=$4 example=$5
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
out="$work/albums out2"
# Runs the script on the albums with these arguments after ORIGIN_FLAG;
# `status` is its exit status.
albums() {
  status=0
  VELLOMAR=${VELLOMAR:-$vellomar} "$script" "$work/albums" "$out" 0 "$@" \
    >"$work/printed" 2>"$work/err" || status=$?
}
for extra in "" "-- --sshlogin :"; do
  rm -rf "$out"
  # shellcheck disable=SC2086
  albums $extra
  [ "$status" = 1 ] || fail "exit status $status, not 1"
  [ "$(grep -c '^vellomar-albums: ' "$work/err")" = 1 ] || fail "not one album named"
  grep -qx "vellomar-albums: $work/albums/broken one: failed (exit status 255)" "$work/err" ||
    fail "the broken album not named"
  grep -q "^broken one	vellomar: " "$work/err" || fail "vellomar's lines not tagged"
  [ ! -s "$work/printed" ] || fail "standard output is not empty"
  for album in "my book" "it's mine" "été"; do
    [ -s "$out/$album/album.desc" ] && [ -s "$out/$album/beach.jpg" ] ||
      fail "$album not prepared"
  done
done

# A machine that cannot be reached prepares nothing: every album fails.
albums -- --sshlogin nosuchhost.invalid
[ "$status" = 4 ] || fail "unreachable machine: exit status $status, not 4"
# A job killed is a failure too.
cat >"$work/killed" <<EOF
#!/bin/sh
case "\$*" in *"it's mine"*) kill -KILL \$\$ ;; esac
exec "$vellomar" "\$@"
EOF
chmod +x "$work/killed"
VELLOMAR=$work/killed albums
[ "$status" = 2 ] || fail "killed job: exit status $status, not 2"
grep -qx "vellomar-albums: $work/albums/it's mine: failed (killed by signal 9)" "$work/err" ||
  fail "the killed album not named"
# A folder that holds no album.desc (an album one level deeper) is named; the
# output folder inside the albums' is not.
mkdir -p "$work/albums/zip/summer" && cp "$example" "$work/albums/zip/summer/album.desc"
saved=$out out=$work/albums/out
albums
[ "$status" = 1 ] || fail "a folder without album.desc: exit status $status, not 1"
grep -qx "vellomar-albums: $work/albums/zip: holds no album.desc: not an album, not prepared" \
  "$work/err" || fail "the folder without album.desc not named"
[ "$(grep -c "not an album" "$work/err")" = 1 ] || fail "the output folder named"
rm -r "$work/albums/zip" "$out"
out=$saved

# vellomar's options, and a report and a proof for each album.
rm -rf "$out"
status=0
VELLOMAR=$vellomar VELLOMAR_PROOF=$proof "$script" --rebuild --jobs 1 --report \
  --jpeg-quality 80 --page-unit=mm \
  --proof "$work/proofs" "$work/albums" "$out" 0 >"$work/printed" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "with options: exit status $status, not 1"
grep -q '"jpegQuality":80},"status":0}' "$out/my book.jsonl" || fail "with options: no report for my book"
grep -q '"status":255}' "$out/broken one.jsonl" || fail "with options: no report for broken one"
[ -s "$work/proofs/été/index.html" ] || fail "with options: no proof for été"
[ ! -e "$work/proofs/broken one" ] || fail "with options: a proof of a broken album"
# Mistakes on the command line end it before anything is made: an unknown
# option, a value vellomar does not take, an option after the directories, a
# word that is neither ORIGIN_FLAG nor after --.
for wrong in "--frobnicate $work/albums $out" "--resample lanczos $work/albums $out" \
  "--jpeg-quality=101 $work/albums $out" "$work/albums $out --report" "$work/albums $out 0 echo" \
  "--jobs 2000 $work/albums $out"; do
  status=0
  # shellcheck disable=SC2086
  "$script" $wrong >"$work/printed" 2>"$work/err" || status=$?
  [ "$status" = 255 ] || fail "$wrong: exit status $status, not 255"
  [ ! -s "$work/printed" ] || fail "$wrong: something printed"
done

# Resumed after the broken album is mended, it is prepared; the others are
# not run again.
rm -rf "$out"
albums -- --joblog "$work/log" --resume
[ "$status" = 1 ] || fail "first of a resumed run: exit status $status, not 1"
"$pictures" "$work/albums/broken one"
albums -- --joblog "$work/log" --resume
[ "$status" = 0 ] || fail "resumed run: exit status $status, not 0"
[ -s "$out/broken one/beach.jpg" ] || fail "the mended album not prepared"
[ "$(grep -c "broken one" "$work/log")" = 2 ] || fail "not only the failed album run again"
# Resumed over other albums, the log would take one for another: refused.
mkdir "$work/albums/added" && cp "$example" "$work/albums/added/album.desc"
albums -- --joblog "$work/log" --resume
[ "$status" = 255 ] || fail "resumed over other albums: exit status $status, not 255"
grep -q "log: its albums are not those under" "$work/err" || fail "other albums not said"

status=0
"$script" >"$work/printed" 2>"$work/err" || status=$?
[ "$status" = 255 ] || fail "no arguments: exit status $status, not 255"
"$script" --help >"$work/printed" 2>"$work/err" || fail "--help failed"
grep -q "^usage: vellomar-albums" "$work/printed" || fail "--help printed no usage"
echo "vellomar-albums: ok"
