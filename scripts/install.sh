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
# files or to change the password: the settings, campaigns and statistics stay. As
# root it refuses, before it makes or changes anything, a folder it would write into
# that others than root can write (scripts/safe-write.sh tells why).
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

# The checks, before anything is built, made or changed. The prefix as the path
# without links; missing folders are made only after all checks have passed.
source scripts/safe-write.sh
prefix=$(real_path "$prefix")
folder=$prefix/www/quillmoray
me=$(id -u)
# (Run without root, the prefix may be a shared folder of another's.)
top=$prefix
[ "$me" -eq 0 ] || top=$prefix/www
check_folders "$top" "$prefix/www" "$folder" "$folder/imgs" "$prefix/lighttpd" "$prefix/apache"
# data/ is the programs' (this step only makes it, and gives it to the web server's
# user); the three files the programs rewrite are rewritten or changed here by name,
# so none may be a link or a second name of another file.
data=$folder/data
if [ -e "$data" ] || [ -L "$data" ]; then
  owner=$(stat -c %U "$data")
  if [ -L "$data" ] || [ ! -d "$data" ] || { [ "$owner" != "$(id -un)" ] && [ "$owner" != "$user" ]; }; then
    refuse "$data must be a folder of $(id -un) or $user, not a link"
  fi
fi
for name in config.cfg dat_acp.cfg status.html; do
  file=$folder/$name
  if [ -L "$file" ] || { [ -e "$file" ] && { [ ! -f "$file" ] || [ "$(stat -c %h "$file")" -ne 1 ]; }; }; then
    refuse "$file is a link or not a file of its own: remove it (a link) and run again"
  fi
done

if [ -z "$build" ]; then
  build=build/release
  echo "== building (Release) in $build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 4 --target tracker parser report qm_images
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
echo "== installing into $prefix"
cmake --install "$build" --prefix "$stage" --component quillmoray >/dev/null

# The missing folders: the prefix and those on its way 755, data/ 700, the others 755.
missing=() dir=$prefix
while [ ! -e "$dir" ]; do missing=("$dir" "${missing[@]}"); dir=$(dirname "$dir"); done
for dir in "${missing[@]}" "$prefix/www" "$folder" "$folder/imgs" "$data" "$prefix/lighttpd" "$prefix/apache"; do
  mode=755
  [ "$dir" = "$data" ] && mode=700
  [ -e "$dir" ] || mkdir -m "$mode" "$dir"
done
# Programs, definition files, static files and rules: always the new ones, each
# replaced whole. data/ is the programs', and this step writes nothing into it.
for file in "$stage"/quillmoray/* "$stage"/quillmoray/.htaccess; do
  name=$(basename "$file")
  case "$name" in
    config.cfg | dat_acp.cfg | status.html | imgs) ;;
    *.cgi) put "$folder/$name" 755 < "$file" ;;
    *) put "$folder/$name" 644 < "$file" ;;
  esac
done
for file in "$stage"/quillmoray/imgs/*; do put "$folder/imgs/$(basename "$file")" 644 < "$file"; done
put "$prefix/lighttpd/quillmoray.conf" 644 < "$stage"/lighttpd/quillmoray.conf
# Earlier versions put Apache's rule for data/ into data/, where the programs' user
# could remove it; the folder's rules hold it now. (Removing a name follows no link.)
rm -f "$data/.htaccess" 2>/dev/null || true
# The server of its own: as root it starts as root and then runs as the user.
server_user=""
if [ "$me" -eq 0 ] && [ "$user" != root ]; then server_user="server.username = \"$user\""; fi
sed -e "s|@DOCROOT@|$prefix/www|" -e "s|@PORT@|$port|" \
  -e "s|@SERVER_USER@|$server_user|" -e "s|@RULES@|$prefix/lighttpd/quillmoray.conf|" \
  "$stage"/lighttpd/server.conf | put "$prefix/lighttpd/server.conf" 644
sed -e "s|@FOLDER@|$folder|" "$stage"/apache/quillmoray.conf | put "$prefix/apache/quillmoray.conf" 644
# The owner's settings, campaigns and last status page: only when missing.
for name in config.cfg dat_acp.cfg status.html; do
  [ -e "$folder/$name" ] || put "$folder/$name" 600 < "$stage/quillmoray/$name"
done

# The password, XORed byte by byte with 0xA7, as the programs store it.
scrambled=""
for ((i = 0; i < ${#password}; i++)); do
  printf -v code '%d' "'${password:i:1}"
  printf -v byte "\\$(printf '%03o' $((code ^ 0xA7)))"
  scrambled+=$byte
done
# Rewritten in place (the file keeps its owner and mode) under the lock the programs
# read it under, so that none of them sees it half written. It is the web server's
# user's file, but in root's folder: checked above to be no link, it cannot become one.
{
  flock -x 9
  { grep -av '^PSW\( \|$\)' "$folder/config.cfg" || true; printf 'PSW %s\n' "$scrambled"; } > "$stage/config.cfg"
  cat "$stage/config.cfg" > "$folder/config.cfg"
} 9<"$folder/config.cfg"
echo "== password set in $folder/config.cfg"

# Ownership and modes. Everything belongs to the installer and is read-only for the
# web server (the files written above are new, with their modes); the web server's
# user owns only what the programs write. Nothing in data/ is changed, only data/
# itself: a link or a hard link that the programs' user put there would pass a
# change on to another file.
chmod 600 "$folder/config.cfg" "$folder/dat_acp.cfg"
chmod 644 "$folder/status.html"
if [ "$me" -eq 0 ]; then
  chown -h root:root "$folder"
  chown -h "$user": "$folder/config.cfg" "$folder/dat_acp.cfg" "$folder/status.html" "$data"
  echo "== owner: root; the web server's user $user may write data/, config.cfg, dat_acp.cfg, status.html"
else
  echo "== owner: $user (not root): the web server must run as $user"
fi
echo "== Apache: the folder's .htaccess, or include $prefix/apache/quillmoray.conf in the server's configuration"
echo "== done: the login page is /quillmoray/login.html, the tracking code /quillmoray/tracking.html"
