# Environment for running Wine in the prefix of one build tree. Source it with BUILD_DIR set.
: "${BUILD_DIR:?BUILD_DIR must name the build tree}"
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko prompts; a crash ends the process (exit code 5) instead of starting the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Null ALSA device: gives Wine an audio input, outputs and a mixer on machines without sound.
export HOME="$BUILD_DIR/winehome"
export GTEST_COLOR=no
