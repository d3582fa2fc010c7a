#!/bin/sh
# The long hardening runs, apart from the default test run (which runs short fixed-seed versions):
#   tests/hardening/longrun.sh [BUILD_DIR]
# - soak: 1,000 component objects created and destroyed, 500 camera load/release cycles with
#   snapshots and short recordings mixed in (figures printed before and after);
# - random call sequences: ZELVORA_MODEL_SEEDS seeds (default 10) of ZELVORA_MODEL_STEPS calls
#   (default 3,000) from ZELVORA_MODEL_SEED (default 1);
# - the format choice and name fuzzer for 10,000,000 executions on one core (native, Clang).
# Expects a built tree; registers the DLL and the virtual devices and makes the media first.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

ctest --test-dir "$build" -R "register_dll|register_devices|playback_media" >/dev/null

echo "== soak"
ZELVORA_SOAK_OBJECTS=${ZELVORA_SOAK_OBJECTS:-1000} ZELVORA_SOAK_LOADS=${ZELVORA_SOAK_LOADS:-500} ZELVORA_TIMEOUT=1800 ZELVORA_TEST_LIMIT=1800 \
  "$root/testenv/winerun" "$build" "$build/bin/zelvora_hardening_tests.exe" --gtest_filter='Soak.*'

echo "== random call sequences"
ZELVORA_MODEL_SEEDS=${ZELVORA_MODEL_SEEDS:-10} ZELVORA_MODEL_SEED=${ZELVORA_MODEL_SEED:-1} \
  ZELVORA_MODEL_STEPS=${ZELVORA_MODEL_STEPS:-3000} ZELVORA_TIMEOUT=3600 ZELVORA_TEST_LIMIT=3600 \
  "$root/testenv/winerun" "$build" "$build/bin/zelvora_hardening_tests.exe" --gtest_filter='RandomCalls.*'

echo "== fuzzing: format choice and names, 10,000,000 executions"
native="$build/native-fuzz-long"
cmake -S "$root/tests/native" -B "$native" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DZELVORA_SANITIZE=ON -DZELVORA_FUZZ=ON >/dev/null
cmake --build "$native" -j 2 --target zelvora_formatchoice_fuzz >/dev/null
mkdir -p "$native/corpus"
"$native/zelvora_formatchoice_fuzz" -seed=${ZELVORA_FUZZ_SEED:-20261208} -runs=${ZELVORA_FUZZ_RUNS:-10000000} -max_len=4096 \
  -rss_limit_mb=2048 -print_final_stats=1 "$native/corpus" "$root/fuzz/corpus/formatchoice" 2>&1 |
  grep -E "^(Done|stat::|==[0-9]+==|SUMMARY)|INFO: seed"
