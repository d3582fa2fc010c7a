#!/bin/sh
# Installs the packages of testenv/packages.txt (and the i386 architecture) when any is missing.
# Quick and silent when everything is there. Needs root or sudo only when something is missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
packages=$(grep -vE '^\s*(#|$)' "$here/packages.txt")

missing=""
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    "install ok installed") ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
echo "Installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $as_root dpkg --add-architecture i386
fi
$as_root apt-get update -q
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -q --no-install-recommends $missing
