#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/ or $BENCH_BUILD_DIR) and runs the side-by-side
# comparison with LibreOffice; extra arguments go to bench/bench_vs_libreoffice.py.
#   bash bench/run.sh                 10 runs of each
#   bash bench/run.sh --runs 30
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANTIS_BUILD_BENCH=ON -DCORVANTIS_BUILD_TESTS=OFF >/dev/null
nice -n 10 cmake --build "$BUILD" -j2 --target generation_road startup_time empty_window button_to_preview bench_engine
# Debian's python3-uno is seen only by the system Python.
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} /usr/bin/python3 bench/bench_vs_libreoffice.py --build "$BUILD" "$@"
