#!/bin/sh
# Unpacks the developer's kit into an empty folder and builds its examples with the kit's own
# toolchain file: they must need nothing but what the kit holds.
#   sdk-test.sh Zelvora-sdk.zip WORK_DIR
set -eu
zip=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cmake -E tar xf "$zip"
kit="$work/Zelvora-sdk"
for f in bin/Zelvora.dll bin/Zelvora.sxs.manifest include/Zelvora.h include/Zelvora_i.c include/Zelvora.tlb \
         docs/host-guide.md examples/CMakeLists.txt README.txt; do
  [ -s "$kit/$f" ] || { echo "the kit lacks $f"; exit 1; }
done
cmake -S "$kit/examples" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$kit/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$work/build" -j 2
for exe in zelvora_demo zelvora_preview zelvora_minimal zelvora_regfree; do
  [ -s "$work/build/$exe.exe" ] || { echo "$exe.exe was not built"; exit 1; }
done
echo "the kit's examples build against the kit alone"
