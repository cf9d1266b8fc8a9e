#!/bin/sh
# The hot folder's example units: systemd-analyze verifies them, and the
# service's command, run in a folder of its own, prepares the books dropped
# into incoming/ (a good one and a broken one, then the good one dropped
# again broken, then good), leaves incoming/ empty (what is not a book is
# moved to rejected/), and keeps each book's source in done/, its output,
# report and proof in outgoing/ and proofs/. A book dropped again loses its
# earlier report and proof; a batch vellomar-albums could not prepare stays.
# usage: hotfolder_test.sh UNITS_DIR VELLOMAR VELLOMAR_PROOF VELLOMAR_ALBUMS
#                          MAKE_EXAMPLE_PICTURES EXAMPLE_ALBUM
set -eu
units=$1 pictures=$5 example=$6
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The programs on PATH, as installed.
bin=$work/bin
mkdir -p "$bin"
ln -s "$2" "$bin/vellomar"
ln -s "$3" "$bin/vellomar-proof"
ln -s "$4" "$bin/vellomar-albums"
fail() {
  echo "hot folder: $*"
  exit 1
}
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no "$units/vellomar-hotfolder.path" \
    "$units/vellomar-hotfolder.service" || fail "the units do not verify"
fi
# The service's command as systemd runs it: continued lines joined, $$ and %%
# unescaped.
command=$(sed -n '/^ExecStart=/,/[^\\]$/p' "$units/vellomar-hotfolder.service" |
  sed 's/^ExecStart=//; s/\\$//' | tr -d '\n' | sed 's/\$\$/$/g; s/%%/%/g')
command=${command#/bin/sh -c \'}
command=${command%\'}
# One book's drop: made elsewhere, then moved in whole.
drop() {
  mkdir -p "$work/staging/$1"
  cp "$example" "$work/staging/$1/album.desc"
  [ "$2" = broken ] || "$pictures" "$work/staging/$1"
  mv "$work/staging/$1" "$work/srv/incoming/$1"
}
mkdir -p "$work/srv/incoming" "$work/staging"
drop "summer 2026" good
drop "winter" broken
echo "not a book" >"$work/srv/incoming/README.txt"
mkdir "$work/srv/incoming/.upload"
service() {
  (cd "$work/srv" && mkdir -p batch done outgoing proofs rejected &&
    PATH="$bin:$PATH" VELLOMAR="$bin/vellomar" VELLOMAR_PROOF="$bin/vellomar-proof" \
      sh -c "$command") >"$work/out" 2>&1
}
run() { service || fail "the service failed: $(cat "$work/out")"; }
run
[ -z "$(ls -A "$work/srv/incoming")" ] || fail "incoming/ is not empty"
[ "$(ls -A "$work/srv/rejected" | grep -c -e '^\.upload\.' -e '^README\.txt\.')" = 2 ] ||
  fail "rejected/ holds $(ls -A "$work/srv/rejected")"
grep -q 'incoming/README.txt: not the folder of a book' "$work/out" || fail "README.txt not named"
[ -z "$(ls -A "$work/srv/batch")" ] || fail "batch/ is not empty"
grep -q '"status":0}' "$work/srv/outgoing/summer 2026.jsonl" || fail "summer 2026 not prepared"
grep -q '"status":255}' "$work/srv/outgoing/winter.jsonl" || fail "winter's failure not reported"
[ -s "$work/srv/proofs/summer 2026/index.html" ] || fail "no proof of summer 2026"
[ -s "$work/srv/done/winter/album.desc" ] || fail "winter's source not kept"
grep -q 'vellomar-albums: .*winter: failed' "$work/out" || fail "winter not named"
# Dropped again broken: its earlier report and proof go.
drop "summer 2026" broken
run
grep -q '"status":255}' "$work/srv/outgoing/summer 2026.jsonl" || fail "summer 2026 still ready"
[ ! -e "$work/srv/proofs/summer 2026" ] || fail "summer 2026's earlier proof kept"
# vellomar-albums cannot run: the service fails, the book stays in batch/.
drop "autumn" good
mv "$bin/vellomar-albums" "$bin/albums"
printf '#!/bin/sh\nexit 255\n' >"$bin/vellomar-albums" && chmod +x "$bin/vellomar-albums"
! service || fail "the service did not fail"
[ -d "$work/srv/batch/autumn" ] || fail "autumn not left in batch/"
mv "$bin/albums" "$bin/vellomar-albums"
# Dropped again: its earlier source is replaced, its book made again.
drop "summer 2026" good
run
grep -q '"status":0}' "$work/srv/outgoing/autumn.jsonl" || fail "autumn not prepared"
grep -q '"status":0}' "$work/srv/outgoing/summer 2026.jsonl" || fail "summer 2026 not prepared"
[ "$(ls "$work/srv/done")" = "autumn
summer 2026
winter" ] || fail "done/ holds $(ls "$work/srv/done")"
echo "hot folder: ok"
