#!/bin/sh
# The registration-free host: zelvora_regfree.exe, Zelvora.dll and Zelvora.sxs.manifest copied
# into a folder of their own. The prefix has the build's Zelvora.dll registered, so the host
# passes only when COM took the class from the manifest beside it (the copy in its folder);
# without the manifest the same host must load the registered one and fail.
#   regfree-test.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
dir="$BUILD_DIR/regfree-host"
rm -rf "$dir"
mkdir -p "$dir"
cp "$BUILD_DIR/bin/zelvora_regfree.exe" "$BUILD_DIR/bin/Zelvora.dll" "$BUILD_DIR/bin/Zelvora.sxs.manifest" "$dir/"

# Windows binds a host only to an assembly of its own architecture (Wine does not check): the
# host's embedded manifest and the DLL's must name the architecture of the programs.
# (The PE header's offset is at 0x3C; its machine field follows the 4-byte signature.)
offset=$(od -An -tu4 -j60 -N4 "$dir/Zelvora.dll" | tr -d ' ')
machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$dir/Zelvora.dll" | tr -d ' ')
case "$machine" in
  8664) arch=amd64 ;;
  *) arch=x86 ;;
esac
for f in "$dir/Zelvora.sxs.manifest" "$dir/zelvora_regfree.exe"; do
  names=$(grep -ao 'processorArchitecture="[^"]*"' "$f" | sort -u)
  [ "$names" = "processorArchitecture=\"$arch\"" ] ||
    { echo "FAILED: $(basename "$f") names $names, not $arch"; exit 1; }
done

echo "== with the manifest"
"$SRC/testenv/winerun" "$BUILD_DIR" "$dir/zelvora_regfree.exe"
rc=$?
[ "$rc" -eq 0 ] || { echo "FAILED: the host did not use the copy beside it (rc $rc)"; exit 1; }

echo "== without the manifest"
rm "$dir/Zelvora.sxs.manifest"
"$SRC/testenv/winerun" "$BUILD_DIR" "$dir/zelvora_regfree.exe"
rc=$?
[ "$rc" -eq 2 ] || { echo "FAILED: without the manifest the registered copy should load (rc $rc)"; exit 1; }
echo "registration-free host passed"
