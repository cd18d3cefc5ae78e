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
#   PREFIX/apache/quillmoray.conf  the rules for Apache in the server's configuration
#                                  (the installation folder's .htaccess holds them too)
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

# A missing prefix is made (755); an existing one keeps its mode.
if [ ! -d "$prefix" ]; then
  mkdir -p "$prefix"
  chmod 755 "$prefix"
fi
prefix=$(cd "$prefix" && pwd -P)
me=$(id -u)
# As root, the web server's user must not be able to lead a write of this step
# elsewhere through a link: no folder on the way to the installation may be another
# user's, or writable by others without the sticky bit (which keeps them from
# replacing what root puts there).
if [ "$me" -eq 0 ]; then
  dir=$prefix
  while :; do
    read -r owner mode <<<"$(stat -c '%u %a' "$dir")"
    if [ "$owner" -ne 0 ] || { (( 8#$mode & 022 )) && ! (( 8#$mode & 01000 )); }; then
      echo "install: $dir is not root's alone (owner or mode): choose another --prefix" >&2
      exit 2
    fi
    [ "$dir" = / ] && break
    dir=$(dirname "$dir")
  done
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
echo "== installing into $prefix"
cmake --install "$build" --prefix "$stage" --component quillmoray >/dev/null

folder=$prefix/www/quillmoray
# The folders: made when missing (data/ 700, the others 755), else kept with their
# mode; each must be a real folder of the installer's (data/: also of the web
# server's user), never a link.
for dir in "$prefix/www" "$folder" "$folder/imgs" "$folder/data" "$prefix/lighttpd" "$prefix/apache"; do
  mode=755
  [ "$dir" = "$folder/data" ] && mode=700
  [ -e "$dir" ] || [ -L "$dir" ] || mkdir -m "$mode" "$dir"
  owner=$(stat -c %U "$dir")
  if [ -L "$dir" ] || [ ! -d "$dir" ] || { [ "$owner" != "$(id -un)" ] && [ "$dir:$owner" != "$folder/data:$user" ]; }; then
    echo "install: $dir must be a folder of $(id -un), not a link" >&2
    exit 2
  fi
done
# Replaces a file whole, so that a program that runs meanwhile is not disturbed. Only
# in the installer's own folders: data/ is the programs', and this step writes
# nothing into it.
put() { cp "$1" "$2.new" && mv -f "$2.new" "$2"; }
# Programs, definition files, static files and rules: always the new ones.
for file in "$stage"/quillmoray/* "$stage"/quillmoray/.htaccess; do
  name=$(basename "$file")
  case "$name" in
    config.cfg | dat_acp.cfg | status.html | imgs) ;;
    *) put "$file" "$folder/$name" ;;
  esac
done
for file in "$stage"/quillmoray/imgs/*; do put "$file" "$folder/imgs/$(basename "$file")"; done
put "$stage"/lighttpd/quillmoray.conf "$prefix/lighttpd/quillmoray.conf"
# Earlier versions put Apache's rule for data/ into data/, where the programs' user
# could remove it; the folder's rules hold it now. (Removing a name follows no link.)
rm -f "$folder/data/.htaccess" 2>/dev/null || true
# The server of its own: as root it starts as root and then runs as the user.
server_user=""
if [ "$me" -eq 0 ] && [ "$user" != root ]; then server_user="server.username = \"$user\""; fi
sed -e "s|@DOCROOT@|$prefix/www|" -e "s|@PORT@|$port|" \
  -e "s|@SERVER_USER@|$server_user|" -e "s|@RULES@|$prefix/lighttpd/quillmoray.conf|" \
  "$stage"/lighttpd/server.conf > "$prefix/lighttpd/server.conf"
sed -e "s|@FOLDER@|$folder|" "$stage"/apache/quillmoray.conf > "$prefix/apache/quillmoray.conf"
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
# Rewritten in place (the file keeps its owner and mode) under the lock the programs
# read it under, so that none of them sees it half written.
{
  flock -x 9
  { grep -av '^PSW\( \|$\)' "$folder/config.cfg" || true; printf 'PSW %s\n' "$scrambled"; } > "$stage/config.cfg"
  cat "$stage/config.cfg" > "$folder/config.cfg"
} 9<"$folder/config.cfg"
echo "== password set in $folder/config.cfg"

# Ownership and modes. Everything belongs to the installer and is read-only for the
# web server; the web server's user owns only what the programs write. Nothing in
# data/ is changed, only data/ itself: a link or a hard link that the programs' user
# put there would pass a change on to another file.
chmod 755 "$folder"/*.cgi
chmod 644 "$folder"/*.html "$folder"/*.css "$folder"/imgs/* "$folder"/.htaccess \
  "$folder"/formats.cfg "$folder"/dat_cds.cfg "$folder"/dat_dom.cfg "$folder"/dat_eng.cfg "$folder"/dat_tps.cfg \
  "$prefix"/lighttpd/* "$prefix"/apache/*
chmod 600 "$folder/config.cfg" "$folder/dat_acp.cfg"
chmod 644 "$folder/status.html"
if [ "$me" -eq 0 ]; then
  chown root:root "$folder"
  for entry in "$folder"/* "$folder"/.htaccess "$prefix/lighttpd" "$prefix/apache"; do
    case "$entry" in
      "$folder"/data | "$folder"/config.cfg | "$folder"/dat_acp.cfg | "$folder"/status.html) ;;
      *) chown -hR root:root "$entry" ;;
    esac
  done
  chown "$user": "$folder/config.cfg" "$folder/dat_acp.cfg" "$folder/status.html"
  chown -h "$user": "$folder/data"
  echo "== owner: root; the web server's user $user may write data/, config.cfg, dat_acp.cfg, status.html"
else
  echo "== owner: $user (not root): the web server must run as $user"
fi
echo "== Apache: the folder's .htaccess, or include $prefix/apache/quillmoray.conf in the server's configuration"
echo "== done: the login page is /quillmoray/login.html, the tracking code /quillmoray/tracking.html"
