# Environment for running Wine in the prefix of one build tree. Source it with BUILD_DIR set.
: "${BUILD_DIR:?BUILD_DIR must name the build tree}"
# Wine takes only an absolute prefix path.
case "$BUILD_DIR" in
  /*) ;;
  *) BUILD_DIR="$PWD/$BUILD_DIR" ;;
esac
export WINEPREFIX="$BUILD_DIR/wineprefix"
# A 64-bit prefix, for the programs of either architecture: 64-bit ones run natively, 32-bit ones
# under WoW64 (C:\windows\syswow64 holds the 32-bit system DLLs and tools, and their registry view
# is the 32-bit one: HKCR\CLSID of a 32-bit process is HKLM\Software\Classes\Wow6432Node\CLSID).
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko prompts; a crash ends the process (exit code 5) instead of starting the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Null ALSA device: gives Wine an audio input, outputs and a mixer on machines without sound.
export HOME="$BUILD_DIR/winehome"
export GTEST_COLOR=no
