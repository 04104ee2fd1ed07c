#!/usr/bin/env bash
# Builds the benchmarks with the linux preset (optimised, RelWithDebInfo) and runs them:
#   player-bench  our player beside libxmp and libopenmpt on the same modules (by default the
#                 theme, the busy modules and the real modules that setup.sh installs, listed
#                 with their packages and licences in bench/bench_modules.cpp), xm-render as a
#                 whole process beside our in-process render of 300 s, the priming of the ring
#                 and the playback thread's CPU share on the silent device
#   mixer_bench   mixVoices alone: CPU time per second of audio for 0 to 64 sounding voices,
#                 portable, SSE2 and fastest frame loops (medians of 5 repetitions)
# Arguments go to player-bench (e.g. --runs 9, or module files). BUILD_DIR chooses the build
# folder (default build/linux). Every figure is CPU time, best of several runs, but a busy
# machine still slows them: close other work first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/linux}

bash scripts/setup.sh
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target player-bench mixer_bench xm-render -j "$(nproc 2>/dev/null || echo 2)"

echo "CPU: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -1), $(nproc) logical CPUs," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/player-bench" --xm-render "$build/tools/xm-render/xm-render" "$@"
echo
echo "mixVoices alone, 884-frame blocks (loops:0 portable, loops:1 SSE2, loops:2 fastest):"
"$build/bench/mixer_bench" --benchmark_filter='ramps:0' --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 2>/dev/null | grep -E '_median'
echo
echo "mixVoices alone, 8 voices at one step (0.3, 1.5 and 3 frames), fastest loops:"
"$build/bench/mixer_bench" --benchmark_filter='mixAtStep' --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 2>/dev/null | grep -E '_median'
