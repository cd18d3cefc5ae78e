#!/usr/bin/env bash
# Runs two builds on the same hit logs and compares everything they write: every
# file of data/, the status page and the report page of every time frame. The
# moments they show (a page's "Generated on" time, the parser's speed, the time
# of each error-log line) are left out, and so is the parser's place in the hit
# log (data/pos.log, which holds inode numbers and which older builds do not write).
#
#   bash bench/compare_outputs.sh OLD_BUILD NEW_BUILD LOG...
#
# Each log is parsed in a fresh folder per build (with the definition files of
# install/); the frames are taken the same minute, so that both see one today.
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/qm-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT
password=bench
scrambled=$(printf '%s' "$password" | perl -pe 's/(.)/chr(ord($1) ^ 0xA7)/ge')
frames="custom cday pday cweek pweek cmonth pmonth cyear pyear ssumm lsumm"
failures=0

report() {  # build folder, body: the page without its time of generation
  local body=$1
  REQUEST_METHOD=POST CONTENT_TYPE=application/x-www-form-urlencoded CONTENT_LENGTH=${#body} \
    "$build/report/report.cgi" <<<"$body" | sed 's/Generated on [0-9/]* @ [0-9:]* by/Generated on/'
}

for log in "$@"; do
  first=$(head -c 10 "$log")  # MM/DD/YYYY of the first line
  one_day="ys=${first:6:4}&ms=${first:0:2}&ds=${first:3:2}&ye=${first:6:4}&me=${first:0:2}&de=${first:3:2}"
  for side in old new; do
    build=${!side}
    dir=$work/$side
    rm -rf "$dir"
    mkdir -p "$dir/data" "$dir/pages"
    printf 'PSW %s\n' "$scrambled" >"$dir/config.cfg"
    : >"$dir/formats.cfg"
    : >"$dir/dat_acp.cfg"
    cp "$here"/install/dat_*.cfg "$dir/"
    cp "$log" "$dir/data/qmy.log"
    (cd "$dir" && REQUEST_METHOD=POST "$build/parser/parser.cgi" >/dev/null 2>&1) || echo "parser exit $? ($side)"
    sed '/Processing speed/,+2d' "$dir/status.html" >"$dir/status.page"
    for frame in $frames; do
      (cd "$dir" && report "pass=$password&type=$frame") >"$dir/pages/$frame.html"
    done
    (cd "$dir" && report "pass=$password&type=custom&ys=1990&ms=1&ds=1&ye=2040&me=12&de=31") >"$dir/pages/wide.html"
    (cd "$dir" && report "pass=$password&type=custom&$one_day") >"$dir/pages/first-day.html"
    if [ -f "$dir/data/err.log" ]; then
      cut -c21- "$dir/data/err.log" >"$dir/errors"
      rm "$dir/data/err.log"
    fi
  done
  if diff -r -q -x pos.log "$work/old/data" "$work/new/data" >/dev/null && cmp -s "$work/old/status.page" "$work/new/status.page" &&
    diff -r -q "$work/old/pages" "$work/new/pages" >/dev/null &&
    { [ ! -f "$work/old/errors" ] && [ ! -f "$work/new/errors" ] || cmp -s "$work/old/errors" "$work/new/errors"; }; then
    echo "same: $log ($(ls "$work/new/data" | wc -l) data files, $(cat "$work"/new/data/* | wc -c) bytes;" \
      "$(ls "$work/new/pages" | wc -l) pages, $(cat "$work"/new/pages/* | wc -c) bytes)"
  else
    echo "DIFFERENT: $log"
    diff -r -q -x pos.log "$work/old/data" "$work/new/data" || true
    cmp "$work/old/status.page" "$work/new/status.page" || true
    cmp "$work/old/errors" "$work/new/errors" || true
    diff -r -q "$work/old/pages" "$work/new/pages" || true
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
