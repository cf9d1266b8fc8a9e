#!/bin/sh
# The Windows program under wine, as a print shop's script runs it: source
# directories with backslashes and with forward slashes, all processors and
# one worker, the two console messages byte for byte, the exit status, the
# source directory refused as the output directory, the directories swapped
# and a report aimed at the album refused, an output directory that cannot be
# created, Ctrl-C, and an album whose pictures lie in Chinese folders (two of
# one name, named apart), found under code page 936 and reported under any
# other.
# usage: windows_end_to_end_test.sh BUILD_DIR CODE_PAGE [LINUX_VELLOMAR]
#   BUILD_DIR holds vellomar.exe and examples/make_example_pictures.exe; run
#   with WINEPREFIX and the locale of CODE_PAGE set. With LINUX_VELLOMAR, the
#   Linux program's output must be the same, byte for byte.
set -eu
build=$(cd "$1" && pwd) codepage=$2 linux=${3:-}
exe=$build/vellomar.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "windows end-to-end, code page $codepage: $*" >&2
  for file in o e; do [ -f $file ] && sed 's/^/  /' $file >&2; done
  exit 1
}
# run ARGS...: the program's status in $status, its streams in o and e.
run() {
  status=0
  wine "$exe" "$@" >o 2>e || status=$?
}

mkdir -p books/summer
cp "$build/../examples/album.desc" books/summer/
wine "$build/examples/make_example_pictures.exe" 'books\summer' >/dev/null 2>&1 ||
  fail "the example pictures were not made"

# Backslashes, forward slashes and one worker give the same files.
for args in 'books\summer out-back' 'books/summer out-forward' '--jobs 1 books\summer out-one'; do
  # shellcheck disable=SC2086
  run $args 0
  [ "$status" = 0 ] && [ ! -s o ] && [ ! -s e ] || fail "$args: status $status"
done
[ -s out-back/beach.jpg ] && [ -s out-back/album.desc ] || fail "nothing written"
diff -r -x .vellomar-state out-back out-forward >/dev/null || fail "the separators differ"
diff -r -x .vellomar-state out-back out-one >/dev/null || fail "one worker differs"
if [ -n "$linux" ]; then
  "$linux" books/summer out-linux 0 || fail "the Linux program failed"
  diff -r -x .vellomar-state out-back out-linux >/dev/null || fail "Linux's output differs"
fi

# The console messages, in GBK whatever the code page, and the status -1.
printf '\316\304\274\376\264\362\277\252\264\355\316\363\243\241\r\n' >open-error
printf 'Json\316\304\274\376\275\342\316\366\264\355\316\363\243\254\275\342\316\366\275\341\271\373: 0\r\n' >parse-error
run missing out-missing 0
[ "$status" = 255 ] || fail "no album.desc: status $status"
cmp -s o open-error || fail "no album.desc: not the message"
mkdir broken && printf '{"photoBook":' >broken/album.desc
run broken out-broken 0
[ "$status" = 255 ] || fail "a broken album.desc: status $status"
cmp -s o parse-error || fail "a broken album.desc: not the message"

# The source directory, however it is spelled, is never the output directory:
# nothing is read, nothing written.
for spelling in 'books\summer' 'books/summer/' 'books\summer\..\summer'; do
  before=$(ls -lR books/summer | md5sum)
  run 'books\summer' "$spelling" 0
  [ "$status" = 255 ] && [ ! -s o ] || fail "$spelling as the output directory: status $status"
  grep -q ': is the source directory: nothing is written into it' e ||
    fail "$spelling as the output directory: not reported"
  [ "$(ls -lR books/summer | md5sum)" = "$before" ] || fail "$spelling: the source was changed"
done

# The directories swapped, or the report aimed at the album: nothing of the
# customer's is replaced.
before=$(ls -lR books/summer | md5sum)
run out-back 'books\summer' 0
[ "$status" = 255 ] || fail "the directories swapped: status $status"
grep -q 'album.desc: was not written by vellomar' e || fail "the directories swapped: not reported"
run --report 'books\summer\album.desc' 'books\summer' out-back 0
[ "$status" = 255 ] || fail "the report over album.desc: status $status"
grep -q 'would replace a file of the album' e || fail "the report over album.desc: not reported"
[ "$(ls -lR books/summer | md5sum)" = "$before" ] || fail "the source was changed"

# Only the last component of the output directory is created.
run 'books\summer' 'nowhere\deeper' 0
[ "$status" = 255 ] || fail "an output directory in a missing one: status $status"
grep -q 'nowhere\\deeper: cannot be created: No such file or directory' e ||
  fail "an output directory in a missing one: not reported"

# Ctrl-C (wine turns SIGINT into it) ends a run after it has removed its own
# temporary files and lock file: status 0xC000013A, of which a Linux parent
# sees the low byte, 58.
mkdir -p many/p
elements=""
for i in $(seq 1 300); do
  cp books/summer/photos/beach.jpg many/p/$i.jpg
  elements="$elements${elements:+,}{\"image\":{\"src\":\"p/$i.jpg\",\"width\":800,\"height\":600,\"mask\":{\"width\":400,\"height\":300}}}"
done
printf '{"photoBook":{"scale":0.5,"pages":[{"elements":[%s]}]}}' "$elements" >many/album.desc
(
  status=0
  wine "$exe" --jobs 1 many many-out 0 2>/dev/null || status=$?
  echo "$status" >interrupted
) &
for _ in $(seq 1 600); do
  ls -a many-out 2>/dev/null | grep -q '^\.vellomar-partial-' && break
  sleep 0.05
done
pkill -INT -x vellomar.exe || fail "Ctrl-C: the run ended before it could be interrupted"
wait
[ "$(cat interrupted)" = 58 ] || fail "Ctrl-C: status $(cat interrupted)"
# Only whole pictures stay: no temporary, no lock file, no album.desc.
left=$(ls -A many-out | grep -E '^[.]vellomar-(partial|run)-|^album[.]desc$' || true)
[ -z "$left" ] || fail "Ctrl-C: left $left"

# 照片/中文.png, named in UTF-8 in the album; on disk in the locale's
# character set, which is how wine hands names to Windows programs.
charset=$(locale charmap)
folder=$(printf '照片' | iconv -f UTF-8 -t "$charset")
file=$(printf '中文' | iconv -f UTF-8 -t "$charset")
mkdir -p "cn/$folder"
cp books/summer/photos/stamp.png "cn/$folder/$file.png"
cp books/summer/photos/logo.png "cn/$file.png"
printf '{"photoBook":{"scale":1,"pages":[{"elements":[{"image":{"src":"照片/中文.png"}},{"image":{"src":"中文.png"}}]}]}}' \
  >cn/album.desc
run cn cn-out 0
if [ "$codepage" = 936 ]; then
  [ "$status" = 0 ] || fail "Chinese names: status $status"
  grep -q 'its derived picture is named' e || fail "Chinese names: the second name not said"
  [ -s "cn-out/$file.png" ] && [ -s "cn-out/$file-2.png" ] || fail "Chinese names: not both made"
  LC_ALL=C grep -q '"src":"中文.png"' cn-out/album.desc || fail "Chinese names: src not rewritten"
  LC_ALL=C grep -q '"src":"中文-2.png"' cn-out/album.desc || fail "Chinese names: src not renamed"
else
  [ "$status" = 255 ] || fail "Chinese names under code page $codepage: status $status"
  grep -q 'photoBook.pages\[0\].elements\[0\]: the picture cannot be loaded' e ||
    fail "Chinese names under code page $codepage: not reported"
fi
echo "windows end-to-end, code page $codepage: ok"
