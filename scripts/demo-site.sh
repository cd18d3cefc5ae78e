#!/usr/bin/env bash
# Puts the demo site (a few pages of an invented shop) into a document root, each
# page with the tracking code of the installation at URL, taken from the
# installation's tracking.html.
#
#   scripts/demo-site.sh DOCROOT URL      e.g. build/demo/www http://127.0.0.1:8080/quillmoray
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true  # an "&" in the code stays an "&"
# Each page is written as the install step writes, into a checked folder.
source "$(dirname "$0")/safe-write.sh"
docroot=$(real_path "$1") url=$2
check_folders "$docroot"
cd "$(dirname "$0")"
code=$(sed -n '/^<!-- Quillmoray tracking code -->$/,/^<!-- end of the Quillmoray tracking code -->$/p' \
  "$docroot/quillmoray/tracking.html")
code=${code//http:\/\/www.example.com\/quillmoray/$url}
# One page template; demo-site/pages.txt gives each page's file name, heading and text.
template=$(cat demo-site/page.html)
template=${template//<!-- tracking code -->/$code}
while IFS='|' read -r name heading text; do
  page=${template//<!-- heading -->/$heading}
  printf '%s\n' "${page//<!-- text -->/$text}" | put "$docroot/$name.html" 644
done < demo-site/pages.txt
echo "== demo site in $docroot, tracked by $url"
