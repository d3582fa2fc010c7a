#!/bin/sh
# Unpacks the developer's kit into an empty folder and builds its examples the way a host
# developer does: in the kit's folder, with the build commands exactly as the kit's README.txt and
# the host guide give them. The examples must need nothing but what the kit holds.
#   sdk-test.sh Zelvora-sdk.zip WORK_DIR
set -eu
zip=$1
work=$2
configure='cmake -S examples -B build-examples -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake'
build='cmake --build build-examples'
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cmake -E tar xf "$zip"
cd Zelvora-sdk
for f in bin/Zelvora.dll bin/Zelvora.sxs.manifest include/Zelvora.h include/Zelvora_i.c include/Zelvora.tlb \
         docs/host-guide.md examples/CMakeLists.txt cmake/mingw-i686.cmake README.txt; do
  [ -s "$f" ] || { echo "the kit lacks $f"; exit 1; }
done
# The guide is the kit's only document: whatever it refers a host to must be in the kit.
for doc in $(grep -o 'docs/[A-Za-z0-9_.-]*\.md' docs/host-guide.md README.txt | sed 's/^[^:]*://' | sort -u); do
  [ -s "$doc" ] || { echo "the kit's documents name $doc, which the kit lacks"; exit 1; }
done
for text in "$configure" "$build"; do
  for doc in README.txt docs/host-guide.md; do
    grep -qF -- "$text" "$doc" || { echo "$doc does not give the command: $text"; exit 1; }
  done
done

# The public header is plain C as well, and its success codes are what SUCCEEDED() takes for success.
cat >../header-check.c <<'CHECK'
#include <windows.h>
#include "Zelvora.h"
typedef char known[ZELVORA_S_NO_KNOWN_FORMAT == 7 && SUCCEEDED(ZELVORA_S_NO_KNOWN_FORMAT) ? 1 : -1];
typedef char size[ZELVORA_S_NO_FORMAT_AT_SIZE == 8 && SUCCEEDED(ZELVORA_S_NO_FORMAT_AT_SIZE) ? 1 : -1];
typedef char name[ZELVORA_S_NOT_WINDOWS_MEDIA_FILE == 10 && SUCCEEDED(ZELVORA_S_NOT_WINDOWS_MEDIA_FILE) ? 1 : -1];
typedef char message[WM_RENDER_FRAME == 0x13A8 && WM_ZELVORA_GRAPHNOTIFY == 0x8002 ? 1 : -1];
CHECK
i686-w64-mingw32-gcc-posix -std=c99 -Wall -Werror -Wno-unused-local-typedefs -fsyntax-only -Iinclude ../header-check.c

# Exactly as documented, from the kit's folder (relative paths).
$configure >/dev/null
CMAKE_BUILD_PARALLEL_LEVEL=2 $build
for exe in zelvora_demo zelvora_preview zelvora_minimal zelvora_regfree; do
  [ -s "build-examples/$exe.exe" ] || { echo "$exe.exe was not built"; exit 1; }
done
echo "the kit's examples build against the kit alone, with the documented commands"
