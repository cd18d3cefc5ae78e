#!/usr/bin/env bash
# Lays out a working Quillmoray installation:
#
#   PREFIX/www/                    the web server's document root
#   PREFIX/www/quillmoray/         the installation folder ("DIR" /quillmoray/):
#                                  the programs, the configuration and definition
#                                  files, data/, the static files and imgs/
#   PREFIX/lighttpd/quillmoray.conf  the rules for lighttpd (include them in a server)
#   PREFIX/lighttpd/server.conf    a small lighttpd server of its own for the
#                                  installation, on 127.0.0.1:PORT
#
# and sets the program password (scrambled into config.cfg), the ownership and the
# modes: the web server's user may write data/, config.cfg, dat_acp.cfg and
# status.html, and nothing else. Run again to update the programs and the static
# files or to change the password: the settings, campaigns and statistics stay.
#
#   scripts/install.sh --prefix PREFIX --password PASSWORD [--user USER] [--port PORT] [--build BUILD]
#
# --user   the web server's user (default: www-data when run as root, else you)
# --port   the port of PREFIX/lighttpd/server.conf (default 8080)
# --build  a build folder that is already built (default: build/release, built here)
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

prefix="" password="" user="" build="" port=8080
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --password) password=$2; shift 2 ;;
    --user) user=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 --prefix PREFIX --password PASSWORD [--user USER] [--port PORT] [--build BUILD]" >&2; exit 2 ;;
  esac
done
if [ -z "$prefix" ] || [ -z "$password" ]; then
  echo "usage: $0 --prefix PREFIX --password PASSWORD [--user USER] [--port PORT] [--build BUILD]" >&2
  exit 2
fi
# The configuration holds 13 characters; printable ASCII survives the scrambling.
if [ ${#password} -gt 13 ] || [[ "$password" =~ [^\ -~] ]]; then
  echo "install: the password must be 1 to 13 printable ASCII characters" >&2
  exit 2
fi
if [ -z "$user" ]; then
  if [ "$(id -u)" -eq 0 ]; then user=www-data; else user=$(id -un); fi
fi
id "$user" >/dev/null
if [ "$(id -u)" -ne 0 ] && [ "$user" != "$(id -un)" ]; then
  echo "install: only root can give the files to $user; run as root, or leave out --user" >&2
  exit 2
fi

if [ -z "$build" ]; then
  build=build/release
  echo "== building (Release) in $build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 4 --target tracker parser report qm_images
fi

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
echo "== installing into $prefix"
cmake --install "$build" --prefix "$stage" --component quillmoray >/dev/null

folder=$prefix/www/quillmoray
mkdir -p "$folder/data" "$folder/imgs" "$prefix/lighttpd"
# Replaces a file whole, so that a program that runs meanwhile is not disturbed.
put() { cp "$1" "$2.new" && mv -f "$2.new" "$2"; }
# Programs, definition files, static files and rules: always the new ones.
for file in "$stage"/quillmoray/* "$stage"/quillmoray/.htaccess; do
  name=$(basename "$file")
  case "$name" in
    config.cfg | dat_acp.cfg | status.html | data | imgs) ;;
    *) put "$file" "$folder/$name" ;;
  esac
done
for file in "$stage"/quillmoray/imgs/*; do put "$file" "$folder/imgs/$(basename "$file")"; done
put "$stage"/quillmoray/data/.htaccess "$folder/data/.htaccess"
put "$stage"/lighttpd/quillmoray.conf "$prefix/lighttpd/quillmoray.conf"
# The server of its own: as root it starts as root and then runs as the user.
server_user=""
if [ "$(id -u)" -eq 0 ] && [ "$user" != root ]; then server_user="server.username = \"$user\""; fi
sed -e "s|@DOCROOT@|$prefix/www|" -e "s|@PORT@|$port|" \
  -e "s|@SERVER_USER@|$server_user|" -e "s|@RULES@|$prefix/lighttpd/quillmoray.conf|" \
  "$stage"/lighttpd/server.conf > "$prefix/lighttpd/server.conf"
# The owner's settings, campaigns and last status page: only when missing.
for name in config.cfg dat_acp.cfg status.html; do
  [ -e "$folder/$name" ] || cp "$stage/quillmoray/$name" "$folder/$name"
done

# The password, XORed byte by byte with 0xA7, as the programs store it.
scrambled=""
for ((i = 0; i < ${#password}; i++)); do
  printf -v code '%d' "'${password:i:1}"
  printf -v byte "\\$(printf '%03o' $((code ^ 0xA7)))"
  scrambled+=$byte
done
{ grep -av '^PSW\( \|$\)' "$folder/config.cfg" || true; printf 'PSW %s\n' "$scrambled"; } > "$stage/config.cfg"
cat "$stage/config.cfg" > "$folder/config.cfg"  # in place: the file keeps its owner and mode
echo "== password set in $folder/config.cfg"

# Ownership and modes. Everything belongs to the installer and is read-only for the
# web server; the web server's user owns only what the programs write.
chmod 755 "$prefix" "$prefix/www" "$folder" "$folder/imgs" "$prefix/lighttpd"
chmod 755 "$folder"/*.cgi
chmod 644 "$folder"/*.html "$folder"/*.css "$folder"/imgs/* "$folder"/.htaccess "$folder"/data/.htaccess \
  "$folder"/formats.cfg "$folder"/dat_cds.cfg "$folder"/dat_dom.cfg "$folder"/dat_eng.cfg "$folder"/dat_tps.cfg \
  "$prefix"/lighttpd/*
chmod 600 "$folder/config.cfg" "$folder/dat_acp.cfg"
chmod 644 "$folder/status.html"
chmod 700 "$folder/data"
if [ "$(id -u)" -eq 0 ]; then
  chown -R root:root "$prefix/www/quillmoray" "$prefix/lighttpd"
  chown "$user": "$folder/config.cfg" "$folder/dat_acp.cfg" "$folder/status.html"
  chown -R "$user": "$folder/data"
  chown root: "$folder/data/.htaccess"
  echo "== owner: root; the web server's user $user may write data/, config.cfg, dat_acp.cfg, status.html"
else
  echo "== owner: $user (not root): the web server must run as $user"
fi
echo "== done: the login page is /quillmoray/login.html, the tracking code /quillmoray/tracking.html"
