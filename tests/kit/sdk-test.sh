#!/bin/sh
# Unpacks the developer's kit into an empty folder and builds its examples the way a host
# developer does: in the kit's folder, with the build commands exactly as the kit's README.txt and
# the host guide give them, once per architecture the kit holds. The examples must need nothing
# but what the kit holds.
#   sdk-test.sh Zelvora-sdk.zip WORK_DIR "x86 x64"
set -eu
zip=$1
work=$2
archs=${3:-x86}
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cmake -E tar xf "$zip"
cd Zelvora-sdk
for f in include/Zelvora.h include/Zelvora_i.c docs/host-guide.md examples/CMakeLists.txt README.txt; do
  [ -s "$f" ] || { echo "the kit lacks $f"; exit 1; }
done
# The guide is the kit's only document: whatever it refers a host to must be in the kit.
for doc in $(grep -o 'docs/[A-Za-z0-9_.-]*\.md' docs/host-guide.md README.txt | sed 's/^[^:]*://' | sort -u); do
  [ -s "$doc" ] || { echo "the kit's documents name $doc, which the kit lacks"; exit 1; }
done
# Nothing of an architecture that this kit was not made with.
for dir in bin/* include/*/; do
  case " $archs " in *" $(basename "$dir") "*) ;; *) echo "the kit holds $dir, not one of: $archs"; exit 1;; esac
done

# The public header is plain C as well, and its success codes are what SUCCEEDED() takes for success.
cat >../header-check.c <<'CHECK'
#include <windows.h>
#include "Zelvora.h"
typedef char known[ZELVORA_S_NO_KNOWN_FORMAT == 7 && SUCCEEDED(ZELVORA_S_NO_KNOWN_FORMAT) ? 1 : -1];
typedef char size[ZELVORA_S_NO_FORMAT_AT_SIZE == 8 && SUCCEEDED(ZELVORA_S_NO_FORMAT_AT_SIZE) ? 1 : -1];
typedef char name[ZELVORA_S_NOT_WINDOWS_MEDIA_FILE == 10 && SUCCEEDED(ZELVORA_S_NOT_WINDOWS_MEDIA_FILE) ? 1 : -1];
typedef char message[WM_RENDER_FRAME == 0x13A8 && WM_ZELVORA_GRAPHNOTIFY == 0x8002 ? 1 : -1];
typedef char cell[sizeof(CallbackCell) == sizeof(void *) ? 1 : -1];
CHECK

for arch in $archs; do
  case $arch in
    x86) triple=i686-w64-mingw32 toolchain=mingw-i686 dir=build-examples pe=pei-i386 sxs=x86 ;;
    x64) triple=x86_64-w64-mingw32 toolchain=mingw-x86_64 dir=build-examples-x64 pe=pei-x86-64 sxs=amd64 ;;
    *) echo "unknown architecture $arch"; exit 1 ;;
  esac
  for f in bin/$arch/Zelvora.dll bin/$arch/Zelvora.sxs.manifest include/$arch/Zelvora.tlb cmake/$toolchain.cmake; do
    [ -s "$f" ] || { echo "the kit lacks $f"; exit 1; }
  done

  # Each DLL is of its folder's architecture, exports the four server entry points and imports
  # only system DLLs (no compiler runtime to ship beside it); its manifest names the same one.
  $triple-objdump -f bin/$arch/Zelvora.dll | grep -q "file format $pe$" \
    || { echo "bin/$arch/Zelvora.dll is not $pe"; exit 1; }
  grep -q "processorArchitecture=\"$sxs\"" bin/$arch/Zelvora.sxs.manifest \
    || { echo "bin/$arch/Zelvora.sxs.manifest does not name $sxs"; exit 1; }
  ! grep -o 'processorArchitecture="[^"]*"' bin/$arch/Zelvora.sxs.manifest | grep -qv "\"$sxs\"" \
    || { echo "bin/$arch/Zelvora.sxs.manifest names another architecture than $sxs"; exit 1; }
  dump=$($triple-objdump -p bin/$arch/Zelvora.dll)
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -o 'Dll[A-Za-z]*' | sort | tr '\n' ' ')
  [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] \
    || { echo "bin/$arch/Zelvora.dll exports: $exports"; exit 1; }
  for dll in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case $dll in
      kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|ole32.dll|oleaut32.dll|msvcrt.dll|gdiplus.dll|shell32.dll|shlwapi.dll\
      |winmm.dll|quartz.dll|comctl32.dll|comdlg32.dll|version.dll|uuid.dll|strmiids.dll|ws2_32.dll|api-ms-win-*) ;;
      *) echo "bin/$arch/Zelvora.dll imports $dll, not a system DLL"; exit 1 ;;
    esac
  done

  # The one header serves this architecture's C compiler too.
  $triple-gcc-posix -std=c99 -Wall -Werror -Wno-unused-local-typedefs -fsyntax-only -Iinclude ../header-check.c

  # Exactly as documented, from the kit's folder (relative paths).
  configure="cmake -S examples -B $dir -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/$toolchain.cmake"
  build="cmake --build $dir"
  for text in "$configure" "$build"; do
    for doc in README.txt docs/host-guide.md; do
      grep -qF -- "$text" "$doc" || { echo "$doc does not give the command: $text"; exit 1; }
    done
  done
  $configure >/dev/null
  CMAKE_BUILD_PARALLEL_LEVEL=2 $build
  for exe in zelvora_demo zelvora_preview zelvora_minimal zelvora_regfree; do
    [ -s "$dir/$exe.exe" ] || { echo "$arch: $exe.exe was not built"; exit 1; }
    $triple-objdump -f "$dir/$exe.exe" | grep -q "file format $pe$" || { echo "$dir/$exe.exe is not $pe"; exit 1; }
  done
  # The registration-free host asks for the assembly of its own architecture.
  grep -aq "processorArchitecture=\"$sxs\"" "$dir/zelvora_regfree.exe" \
    || { echo "$dir/zelvora_regfree.exe does not ask for an $sxs assembly"; exit 1; }
  echo "$arch: the kit's examples build against the kit alone, with the documented commands"
done
