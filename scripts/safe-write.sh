# Sourced by the install and demo scripts: their writes into folders of an
# installation, which root makes and the web server's user serves.
#
# Run as root, these scripts write only into folders that are root's and that nobody
# else can write, on a way up that nobody else can change (others may write a folder
# on the way only with the sticky bit, like /tmp, which keeps them from replacing
# root's entries). Then the web server's user can neither plant a link where root
# writes nor swap a folder or a file for one while root writes: that is what keeps
# root's writes where they belong. The checks come before anything is made or
# changed, so that a refused run leaves nothing behind.

# Stops with the reason (exit 2); nothing has been changed.
refuse() {
  echo "$(basename "$0" .sh): $*; nothing was changed" >&2
  exit 2
}

# real_path PATH: PATH as an absolute path without links (a missing end as given).
# As root, every link on the way must be root's: another user's could lead root's
# writes into a folder of that user's choosing, be it root's.
real_path() {
  if [ "$(id -u)" -eq 0 ] && namei -l -- "$1" 2>/dev/null | awk '$1 ~ /^l/ && $2 != "root" { bad = 1 } END { exit !bad }'; then
    refuse "a link on the way to $1 is not root's: choose another --prefix"
  fi
  realpath -m -- "$1"
}

# check_folders TOP DIR...: the folders to be written into, absolute and without
# links, TOP above all the others; a missing one is skipped (it is made later, by
# the one who runs this). Each that is there must be a real folder of the one who
# runs this, not a link; as root also writable by root alone (sticky or not), and
# every folder above TOP root's and writable by others only with the sticky bit.
check_folders() {
  local dir owner mode me
  me=$(id -u)
  for dir in "$@"; do
    [ -e "$dir" ] || [ -L "$dir" ] || continue
    if [ -L "$dir" ] || [ ! -d "$dir" ]; then refuse "$dir must be a folder, not a link"; fi
    read -r owner mode <<<"$(stat -c '%u %a' "$dir")"
    [ "$owner" -eq "$me" ] || refuse "$dir must be a folder of $(id -un): chown $(id -un) $dir, or choose another --prefix"
    if [ "$me" -eq 0 ] && (( 8#$mode & 022 )); then
      refuse "$dir can be written by others than root: chmod g-w,o-w $dir"
    fi
  done
  [ "$me" -eq 0 ] || return 0
  dir=$1
  while [ "$dir" != / ]; do
    dir=$(dirname "$dir")
    [ -e "$dir" ] || [ -L "$dir" ] || continue
    # (stat tells of a link itself, which shows as writable by all.)
    read -r owner mode <<<"$(stat -c '%u %a' "$dir")"
    [ "$owner" -eq 0 ] || refuse "$dir, on the way to $1, is not root's: choose another --prefix"
    if (( 8#$mode & 022 )) && ! (( 8#$mode & 01000 )); then
      refuse "$dir, on the way to $1, can be written by others than root: chmod g-w,o-w $dir, or choose another --prefix"
    fi
  done
}

# put FILE MODE: standard input becomes FILE with MODE. It is written to a new file
# beside FILE, under a name that no one else can have made, and renamed over FILE:
# a link or a folder at FILE is replaced or refused, never followed, and a program
# that runs FILE meanwhile sees the old file or the new one whole.
put() {
  local new
  new=$(mktemp "$1.XXXXXX")
  if ! { cat > "$new" && chmod "$2" "$new" && mv -fT "$new" "$1"; }; then
    rm -f "$new"
    return 1
  fi
}
