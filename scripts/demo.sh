#!/usr/bin/env bash
# Quick start: builds Quillmoray, installs it into a local folder, serves it with
# lighttpd on 127.0.0.1, gives it two weeks of history and a few hundred page views
# of today, parses them through the report program, prints the login page and the
# password, and serves until Ctrl-C (SIGINT) or SIGTERM, which stop the server.
# As root it lays out the installation as an owner would: the files are root's and
# the server runs the programs as the web server's user (www-data, else nobody);
# otherwise everything is yours and runs as you.
#
#   scripts/demo.sh [--port PORT] [--prefix DIR]
#   (defaults: 8080; as root /srv/quillmoray-demo, which that user can reach, else build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."

port=8080 prefix=build/demo user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  prefix=/srv/quillmoray-demo user=www-data
  id "$user" >/dev/null 2>&1 || user=nobody
fi
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    *) echo "usage: $0 [--port PORT] [--prefix DIR]" >&2; exit 2 ;;
  esac
done

# As root the programs run as the web server's user, who must reach the installation
# folder: checked before anything is built or installed, on the deepest folder of
# its way that is already there (to reach it, that user must be able to search every
# folder above it too; the install step makes the missing ones open to all).
if [ "$(id -u)" -eq 0 ]; then
  way=$(realpath -m "$prefix/www/quillmoray")
  while [ ! -d "$way" ]; do way=$(dirname "$way"); done
  echo "== checking that $user can reach $way"
  if ! runuser -u "$user" -- test -x "$way"; then
    echo "demo: the web server's user $user cannot reach $way: choose another --prefix" >&2
    exit 1
  fi
fi

# The build needs cmake, g++ and GoogleTest, lighttpd serves the installation, curl
# plays the visitors.
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ] || missing+=(lighttpd)
command -v curl >/dev/null || missing+=(curl)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo: install the Debian packages ${missing[*]} first (sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "== installing ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)

build=build/release
echo "== building (Release) in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 4 --target tracker parser report qm_images qm_hitlog_gen

# A new password each run.
password=$(od -An -N5 -tx1 /dev/urandom | tr -d ' \n')
bash scripts/install.sh --prefix "$prefix" --password "$password" --user "$user" --port "$port" --build "$build"
prefix=$(cd "$prefix" && pwd)
folder=$prefix/www/quillmoray
site=http://127.0.0.1:$port
url=$site/quillmoray
# What the programs do outside a request runs as their user too.
as_web_user() { if [ "$(id -u)" -eq 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi; }
# The demo's own settings: the site is this server, and one ad campaign. The files
# are the programs' user's, and that user writes them, in place, so that they stay
# its own and no write of root's goes where that user could lead it.
config=$(sed 's/^DMN .*/DMN 127.0.0.1/' "$folder/config.cfg")
printf '%s\n' "$config" | as_web_user tee "$folder/config.cfg" >/dev/null
if [ ! -s "$folder/dat_acp.cfg" ]; then
  echo "Spring newsletter | newsletter.example.com partner-shop.example" | as_web_user tee "$folder/dat_acp.cfg" >/dev/null
fi
bash scripts/demo-site.sh "$prefix/www" "$url"

echo "== starting lighttpd on $site"
"$lighttpd" -tt -f "$prefix/lighttpd/server.conf"
"$lighttpd" -D -f "$prefix/lighttpd/server.conf" 2>>"$prefix/lighttpd/error.log" &
server=$!
stop() {
  local status=$?
  trap - EXIT
  echo "== stopping lighttpd (pid $server)"
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  exit "$status"
}
trap stop EXIT
trap 'exit 0' INT TERM
for _ in $(seq 50); do
  curl -sf -o /dev/null "$url/login.html" && break
  kill -0 "$server" 2>/dev/null || { cat "$prefix/lighttpd/error.log" >&2; exit 1; }
  sleep 0.1
done

# History: two weeks before today from the hit-log generator, parsed as a scheduler
# would, once (a later run keeps the statistics it finds).
if [ ! -e "$folder/data/tmp.log" ]; then
  echo "== parsing 14 days of generated history"
  "$build/bench/qm_hitlog_gen" --days 14 --visitors 300 --seed 7 --start "$(date -d '-14 days' +%F)" 2>/dev/null |
    sed "s|http://www.example.com|$site|g" | as_web_user tee -a "$folder/data/qmy.log" >/dev/null
  (cd "$folder" && as_web_user env DOCUMENT_ROOT="$prefix/www" ./parser.cgi >/dev/null)
fi

# Today: visitors with addresses of their own, real browsers, and referrers from
# search engines, the campaign, other sites or none, each viewing a few pages.
echo "== sending today's page views through the tracker"
agents=(
  "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"
  "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0"
  "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.2 Safari/605.1.15"
  "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"
  "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)"
  "Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.2 Mobile/15E148 Safari/604.1"
)
referrers=(
  "http://www.google.com/search?hl=en&q=garden+spade"
  "http://www.google.de/search?q=blue+steel+rake"
  "http://www.bing.com/search?q=hand+hoe+review"
  "http://search.yahoo.com/search?p=garden+tools+shop"
  "http://newsletter.example.com/2024/spring.html"
  "http://www.partner-shop.example/links.html"
  "http://www.example-blog.net/2024/05/my-favourite-tools/"
  ""
)
pages=(/ /products.html /about.html /contact.html)
RANDOM=11
views=0
for visitor in $(seq 1 45); do
  address=127.0.0.$((20 + visitor))
  agent=${agents[RANDOM % ${#agents[@]}]}
  referrer=${referrers[RANDOM % ${#referrers[@]}]}
  for _ in $(seq 1 $((3 + RANDOM % 9))); do
    page=${pages[RANDOM % ${#pages[@]}]}
    curl -s -o /dev/null --interface "$address" -A "$agent" -e "$site$page" \
      --data-urlencode "ref=$referrer" -G "$url/tracker.cgi?dir=$url"
    referrer=$site$page
    views=$((views + 1))
  done
done
echo "== $views page views of 45 visitors sent"

echo "== parsing through report.cgi"
as_web_user truncate -s 0 "$folder/status.html"  # so that only this parse's page counts below
curl -s -o /dev/null --data-urlencode "pass=$password" -d type=parse "$url/report.cgi"
for _ in $(seq 600); do
  if grep -q "Finished parsing log file" "$folder/status.html" 2>/dev/null; then break; fi
  if grep -q "ERROR:" "$folder/status.html" 2>/dev/null; then
    echo "demo: the parse failed:" >&2
    sed 's/<[^>]*>//g' "$folder/status.html" | grep ERROR >&2
    exit 1
  fi
  sleep 0.2
done
grep -q "Finished parsing log file" "$folder/status.html" || { echo "demo: the parse did not finish" >&2; exit 1; }

echo
echo "Login page: $url/login.html"
echo "Password: $password"
echo "Demo site: $site/ (its pages are tracked; parse again to see your own visits)"
echo "Serving until Ctrl-C."
wait "$server"
