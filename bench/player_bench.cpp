// player-bench: renders the same modules with our player (the program's own load, reset and
// block fill) and with libxmp and libopenmpt as black-box peers, at 44100 Hz, 16-bit stereo,
// linear interpolation, song looped; then the priming of the ring and the playback thread's
// CPU share on the silent device; with --xm-render, that tool too as a whole process beside
// the in-process render. Pairs with bench_modules.h (the default modules).
//
// Index
//   [SECTION] Clocks and options
//   [SECTION] The three renderers
//   [SECTION] Throughput
//   [SECTION] Priming
//   [SECTION] Playback thread
//   [SECTION] Main
//
// Times are the CPU time of the rendering thread (CLOCK_THREAD_CPUTIME_ID), best of several
// runs: on a machine shared with builds, a thread that is preempted does not run up CPU time,
// so the figures move less than wall-clock ones. Loading and resetting are outside the timed
// part, as is an untimed warm-up render before the runs.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include "audio/device.h"
#include "audio/music.h"
#include "audio/output.h"
#include "bench/bench_modules.h"
#include "player/module.h"
#include "player/player.h"
#include "tools/xmwriter/xm_writer.h"

namespace {

//-----------------------------------------------------------------------------
// [SECTION] Clocks and options
//-----------------------------------------------------------------------------

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Options {
  double seconds = 60.0;        // audio rendered per timed run
  int runs = 5;                 // timed runs per player and module; the best counts
  int primingRuns = 20;
  double threadSeconds = 10.0;  // play time on the silent device; 0 skips it
  std::vector<BenchModule> modules;
  std::string firstModulePath;  // empty for the default set, whose first module is the theme
  std::string primeOnce;        // "ours", "libxmp" or "libopenmpt": one priming, then exit
  std::string xmRender;         // the xm-render program to time as a process; empty: none
  double processSeconds = 300.0;  // audio per xm-render run
};

// How a fresh process of this program is told to prime once, and which module to take.
constexpr const char* PRIME_ONCE = "--prime-once";
constexpr const char* BUILTIN_THEME = "--builtin-theme";

const char* const HELP =
    "Usage: player-bench [--seconds S] [--runs N] [--thread-seconds S] [--xm-render PATH]\n"
    "                    [--process-seconds S] [FILE.xm ...]\n"
    "\n"
    "Renders each module with Level Editor's player, libxmp and libopenmpt (44100 Hz, 16-bit\n"
    "stereo, linear interpolation, song looped) and prints x-realtime for each and the ratios,\n"
    "all from the same run. Without files: the built-in theme, busy modules of 4, 8, 16, 20\n"
    "and 32 channels and the real modules that scripts/setup.sh installs. Then the priming of\n"
    "the ring for the first module (in this process, and as the first start of fresh\n"
    "processes), and the playback thread's CPU share while it plays on the silent device.\n"
    "\n"
    "  --seconds S          audio per timed run (default 60)\n"
    "  --runs N             timed runs per player and module, best counts (default 5)\n"
    "  --thread-seconds S   play time for the thread's CPU share (default 10; 0 skips it)\n"
    "  --xm-render PATH     also run this xm-render on each module, as a whole process writing\n"
    "                       a WAV file, best of the same runs; its CPU time (user and system)\n"
    "                       beside ours in this process\n"
    "  --process-seconds S  audio per xm-render run (default 300)\n"
    "\n"
    "A module that a player cannot play shows 0 in its column and gives exit code 1; a wrong\n"
    "command line gives exit code 2.\n";

bool readFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

// 0 when the options are good, else the exit code.
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](double& into, double low) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      into = std::strtod(argv[++i], &end);
      return *end == '\0' && into >= low && into <= 3600.0;
    };
    auto usage = [](const char* what) {
      std::fprintf(stderr, "player-bench: %s\n", what);
      return 2;
    };
    double value = 0.0;
    if (arg == "--help") {
      std::fputs(HELP, stdout);
      return -1;
    } else if (arg == "--seconds") {
      if (!number(value, 0.1)) return usage("--seconds takes 0.1..3600");
      options.seconds = value;
    } else if (arg == "--runs") {
      if (!number(value, 1.0)) return usage("--runs takes 1..3600");
      options.runs = static_cast<int>(value);
    } else if (arg == "--thread-seconds") {
      if (!number(value, 0.0)) return usage("--thread-seconds takes 0..3600");
      options.threadSeconds = value;
    } else if (arg == "--xm-render" && i + 1 < argc) {
      options.xmRender = argv[++i];
    } else if (arg == "--process-seconds") {
      if (!number(value, 0.1)) return usage("--process-seconds takes 0.1..3600");
      options.processSeconds = value;
    } else if (arg == PRIME_ONCE && i + 2 < argc) {
      // internal: the fresh process of the first-start priming
      options.primeOnce = argv[++i];
      const std::string source = argv[++i];
      if (source == BUILTIN_THEME) {
        options.modules.push_back({"theme", std::vector<std::uint8_t>(
                                                builtinModuleImage.bytes,
                                                builtinModuleImage.bytes + builtinModuleImage.byteCount)});
      } else {
        BenchModule module{source, {}};
        if (!readFile(source.c_str(), module.bytes)) return usage("cannot read the module");
        options.modules.push_back(std::move(module));
      }
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "player-bench: unknown option %s\n", arg.c_str());
      return 2;
    } else {
      BenchModule module{arg.substr(arg.rfind('/') + 1), {}};
      if (!readFile(argv[i], module.bytes)) {
        std::fprintf(stderr, "player-bench: cannot read %s\n", argv[i]);
        return 1;
      }
      if (options.modules.empty()) options.firstModulePath = arg;
      options.modules.push_back(std::move(module));
    }
  }
  if (options.modules.empty()) {
    options.modules = defaultBenchModules();
    std::vector<std::string> missing;
    for (BenchModule& module : realBenchModules(missing)) options.modules.push_back(std::move(module));
    for (const std::string& path : missing) {
      std::fprintf(stderr, "player-bench: cannot read %s (scripts/setup.sh installs it)\n", path.c_str());
    }
    if (!missing.empty()) return 1;
  }
  return 0;
}

//-----------------------------------------------------------------------------
// [SECTION] The three renderers
//-----------------------------------------------------------------------------
// Each has an untimed open (load, reset, player set-up) and a timed render of whole 884-frame
// blocks, cycling through a ring of 100 blocks as the program does. A render returns false
// when the player stopped short or wrote nothing but silence; the check reads the ring after
// the timed part.

constexpr int OUTPUT_FRAMES_PER_SECOND = 44100;

bool ringHasSound(const std::int16_t* ring) {
  return std::any_of(ring, ring + RING_FRAMES * 2, [](std::int16_t s) { return s != 0; });
}

struct Ours {
  static constexpr const char* NAME = "ours";
  const BenchModule& module;
  const char* refusal = nullptr;

  explicit Ours(const BenchModule& m) : module(m) {
    refusal = loadModule(module.bytes.data(), module.bytes.size());
    resetPlayer();
    audioOutput->writeBlock = 0;
  }
  ~Ours() { releaseModule(); }
  bool ok() const { return refusal == nullptr; }
  bool render(std::uint32_t blocks) {
    for (std::uint32_t b = 0; b < blocks; ++b) fillBlock();
    return true;
  }
  bool sounded() const { return ringHasSound(reinterpret_cast<const std::int16_t*>(audioOutput->waveRing)); }
};

struct Libxmp {
  static constexpr const char* NAME = "libxmp";
  xmp_context context = xmp_create_context();
  bool loaded = false;
  bool started = false;
  std::vector<std::int16_t> ring = std::vector<std::int16_t>(RING_FRAMES * 2);

  explicit Libxmp(const BenchModule& module) {
    loaded = xmp_load_module_from_memory(context, module.bytes.data(),
                                         static_cast<long>(module.bytes.size())) == 0;
    started = loaded && xmp_start_player(context, OUTPUT_FRAMES_PER_SECOND, 0) == 0 &&
              xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR) == 0;
  }
  ~Libxmp() {
    if (started) xmp_end_player(context);
    if (loaded) xmp_release_module(context);
    xmp_free_context(context);
  }
  bool ok() const { return started; }
  bool render(std::uint32_t blocks) {
    for (std::uint32_t b = 0; b < blocks; ++b) {
      // loop 0: the song repeats for ever
      if (xmp_play_buffer(context, &ring[(b % RING_BLOCKS) * BLOCK_SAMPLES], BLOCK_BYTES, 0) != 0) {
        return false;
      }
    }
    return true;
  }
  bool sounded() const { return ringHasSound(ring.data()); }
};

struct Libopenmpt {
  static constexpr const char* NAME = "libopenmpt";
  openmpt_module* module = nullptr;
  bool configured = false;
  std::vector<std::int16_t> ring = std::vector<std::int16_t>(RING_FRAMES * 2);

  explicit Libopenmpt(const BenchModule& m) {
    module = openmpt_module_create_from_memory2(m.bytes.data(), m.bytes.size(), nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr);
    // Its default dither draws random numbers for every sample; the others do not dither.
    configured = module != nullptr && openmpt_module_set_repeat_count(module, -1) != 0 &&
                 openmpt_module_set_render_param(
                     module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2) != 0 &&
                 openmpt_module_ctl_set_integer(module, "dither", 0) != 0;
  }
  ~Libopenmpt() {
    if (module != nullptr) openmpt_module_destroy(module);
  }
  bool ok() const { return configured; }
  bool render(std::uint32_t blocks) {
    for (std::uint32_t b = 0; b < blocks; ++b) {
      if (openmpt_module_read_interleaved_stereo(module, OUTPUT_FRAMES_PER_SECOND, BLOCK_FRAMES,
                                                 &ring[(b % RING_BLOCKS) * BLOCK_SAMPLES]) != BLOCK_FRAMES) {
        return false;
      }
    }
    return true;
  }
  bool sounded() const { return ringHasSound(ring.data()); }
};

//-----------------------------------------------------------------------------
// [SECTION] Throughput
//-----------------------------------------------------------------------------

// x-realtime of one run (audio seconds per CPU second), or -1 after a failure, which is
// reported on stderr. The open is not timed.
// mustSound: the last ring's worth must hold sound; a long render may have reached the end
// of a song that stops.
template <class Renderer>
double runRealtime(const BenchModule& module, std::uint32_t blocks, bool mustSound = true) {
  Renderer renderer(module);
  if (!renderer.ok()) {
    std::fprintf(stderr, "player-bench: %s cannot play %s\n", Renderer::NAME, module.name.c_str());
    return -1.0;
  }
  const double start = threadSeconds();
  const bool rendered = renderer.render(blocks);
  const double spent = threadSeconds() - start;
  if (!rendered || (mustSound && !renderer.sounded())) {
    std::fprintf(stderr, "player-bench: %s %s %s\n", Renderer::NAME,
                 rendered ? "rendered only silence for" : "stopped early in", module.name.c_str());
    return -1.0;
  }
  return static_cast<double>(blocks) * BLOCK_FRAMES / OUTPUT_FRAMES_PER_SECOND / spent;
}

// xm-render as a user runs it: a fresh process that reads the module file and writes the WAV
// file. Its whole CPU time, user and system (exec, loading, rendering, the file's writes and
// exit), from the rusage of the child.
struct ProcessRender {
  std::string program;
  double seconds = 0.0;
  std::string modulePath;  // a temporary copy of the module
  std::string wavPath;     // the temporary output

  static std::string temporaryFile(const char* suffix, const std::vector<std::uint8_t>* bytes) {
    const char* directory = std::getenv("TMPDIR");
    std::string path = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
                       "/player-bench-XXXXXX" + suffix;
    const int fd = mkstemps(path.data(), static_cast<int>(std::strlen(suffix)));
    if (fd < 0) return {};
    bool written = true;
    for (std::size_t done = 0; bytes != nullptr && written && done < bytes->size();) {
      const ssize_t n = write(fd, bytes->data() + done, bytes->size() - done);
      written = n > 0;
      done += written ? static_cast<std::size_t>(n) : 0;
    }
    close(fd);
    if (!written) {
      std::remove(path.c_str());
      return {};
    }
    return path;
  }

  ProcessRender(const Options& options, const BenchModule& module)
      : program(options.xmRender), seconds(options.processSeconds) {
    if (program.empty()) return;
    modulePath = temporaryFile(".xm", &module.bytes);
    wavPath = temporaryFile(".wav", nullptr);
  }
  ~ProcessRender() {
    if (!modulePath.empty()) std::remove(modulePath.c_str());
    if (!wavPath.empty()) std::remove(wavPath.c_str());
  }
  bool wanted() const { return !program.empty(); }

  // x-realtime of one run of the process (audio seconds per CPU second), or -1 when it
  // could not start or failed. The WAV file is new for each run, as a first render makes it:
  // the release of the last run's pages is not the render's.
  double run() const {
    if (modulePath.empty() || wavPath.empty()) return -1.0;
    std::remove(wavPath.c_str());
    const std::string secondsText = std::to_string(seconds);
    const char* const argv[] = {program.c_str(), "--seconds", secondsText.c_str(),
                                modulePath.c_str(), wavPath.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, const_cast<char* const*>(argv),
                    environ) != 0) {
      return -1.0;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return -1.0;
    }
    const auto toSeconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds / (toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime));
  }
};

// What the file alone costs any process: CPU seconds (user and system) of writing a new WAV
// file of seconds of audio in writes of one ring, as xm-render does, best of runs.
double bestFileWriteSeconds(double seconds, int runs) {
  const std::string path = ProcessRender::temporaryFile(".wav", nullptr);
  if (path.empty()) return -1.0;
  const std::vector<std::uint8_t> ring(RING_BYTES, 0x55);
  const std::uint64_t total = 44 + static_cast<std::uint64_t>(seconds * OUTPUT_FRAMES_PER_SECOND + 0.5) * FRAME_BYTES;
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    std::remove(path.c_str());
    const double start = threadSeconds();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return -1.0;
    std::setvbuf(file, nullptr, _IONBF, 0);
    bool written = std::fwrite(ring.data(), 1, 44, file) == 44;
    for (std::uint64_t done = 44; written && done < total;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(RING_BYTES, total - done));
      written = std::fwrite(ring.data(), 1, n, file) == n;
      done += n;
    }
    written = std::fclose(file) == 0 && written;
    if (!written) return -1.0;
    best = std::min(best, threadSeconds() - start);
  }
  std::remove(path.c_str());
  return best;
}

// The three players take turns run by run, so that a burst of load elsewhere on the machine
// falls on all of them alike; each keeps its best run. Run 0 is an untimed warm-up of 500
// blocks (10 s). A player that fails once shows 0. False when any player failed. With
// --xm-render, ours renders the process's length in this process too, and then the process
// runs, both from run 1 on.
bool printThroughput(const Options& options) {
  bool allPlayed = true;
  const bool processes = !options.xmRender.empty();
  std::printf("Throughput: %.1f s of audio per run, best of %d runs, x-realtime (audio s / CPU s)\n",
              options.seconds, options.runs);
  double fileSeconds = 0.0;
  if (processes) {
    fileSeconds = bestFileWriteSeconds(options.processSeconds, options.runs);
    std::printf("%.0f s: ours in this process and xm-render as a whole process (user and system CPU\n"
                "time), each %.0f s of audio, the process writing a new WAV file. 'cost': the\n"
                "process's CPU time over ours, less 1; 'less file': the same after taking off\n"
                "%.1f ms, the CPU time of writing that file alone in the same writes\n",
                options.processSeconds, options.processSeconds, fileSeconds * 1e3);
  }
  std::printf("%-26s %8s %8s %10s %11s %15s", "module", "ours", "libxmp", "libopenmpt",
              "ours/libxmp", "ours/libopenmpt");
  if (processes) {
    std::printf(" %8s %9s %7s %9s", ("ours " + std::to_string(static_cast<int>(options.processSeconds)) + "s").c_str(),
                "xm-render", "cost", "less file");
  }
  std::printf("\n");
  const auto blocksFor = [](double seconds) {
    return static_cast<std::uint32_t>(seconds * OUTPUT_FRAMES_PER_SECOND / BLOCK_FRAMES + 0.999999);
  };
  const std::uint32_t blocks = blocksFor(options.seconds);
  // 0..2 the three players, 3 ours for the process's length, 4 the process
  constexpr int COLUMNS = 5;
  for (const BenchModule& module : options.modules) {
    const ProcessRender process(options, module);
    double best[COLUMNS] = {};
    bool failed[COLUMNS] = {false, false, false, !processes, !processes};
    for (int run = 0; run <= options.runs; ++run) {
      const std::uint32_t runBlocks = run == 0 ? std::min<std::uint32_t>(blocks, 500) : blocks;
      const bool timedProcess = run > 0 && processes;
      const double got[COLUMNS] = {
          failed[0] ? -1.0 : runRealtime<Ours>(module, runBlocks),
          failed[1] ? -1.0 : runRealtime<Libxmp>(module, runBlocks),
          failed[2] ? -1.0 : runRealtime<Libopenmpt>(module, runBlocks),
          failed[3] || !timedProcess ? 0.0 : runRealtime<Ours>(module, blocksFor(options.processSeconds), false),
          failed[4] || !timedProcess ? 0.0 : process.run()};
      for (int p = 0; p < COLUMNS; ++p) {
        if (got[p] < 0.0) {
          if (p == 4 && !failed[4]) {
            std::fprintf(stderr, "player-bench: %s failed on %s\n", options.xmRender.c_str(),
                         module.name.c_str());
          }
          failed[p] = true;
        }
        if (run > 0 && !failed[p]) best[p] = std::max(best[p], got[p]);
      }
    }
    for (int p = 0; p < COLUMNS; ++p) {
      if (failed[p]) best[p] = 0.0;
      allPlayed = allPlayed && (!failed[p] || (p >= 3 && !processes));
    }
    std::printf("%-26s %8.0f %8.0f %10.0f %11.2f %15.2f", module.name.c_str(), best[0], best[1],
                best[2], best[1] > 0 ? best[0] / best[1] : 0.0, best[2] > 0 ? best[0] / best[2] : 0.0);
    if (processes && best[3] > 0 && best[4] > 0) {
      const double oursSeconds = options.processSeconds / best[3];
      const double processSeconds = options.processSeconds / best[4];
      std::printf(" %8.0f %9.0f %6.1f%% %8.1f%%", best[3], best[4],
                  100.0 * (processSeconds / oursSeconds - 1.0),
                  100.0 * ((processSeconds - fileSeconds) / oursSeconds - 1.0));
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  return allPlayed;
}

//-----------------------------------------------------------------------------
// [SECTION] Priming
//-----------------------------------------------------------------------------
// Ours: the start's load, reset, the two buffers and the 100 blocks of the ring. The peers:
// their load and set-up, then the same 88400 frames. Wall-clock time, best of primingRuns.

struct OursPriming {
  static constexpr const char* NAME = "ours";
  // wall-clock seconds of the three parts: load and reset, the two buffers, the 100 blocks
  double partSeconds[3] = {};
  bool played = false;

  explicit OursPriming(const BenchModule& module) {
    const double start = wallSeconds();
    if (loadModule(module.bytes.data(), module.bytes.size()) != nullptr) return;
    played = true;
    resetPlayer();
    const double loaded = wallSeconds();
    allocateRing();
    allocateMixBuffer();
    const double allocated = wallSeconds();
    do {
      fillBlock();
    } while (audioOutput->writeBlock != 0);
    partSeconds[0] = loaded - start;
    partSeconds[1] = allocated - loaded;
    partSeconds[2] = wallSeconds() - allocated;
  }
  ~OursPriming() {
    releaseMixBuffer();
    releaseRing();
    releaseModule();
  }
};

template <class Renderer>
struct PeerPriming {
  Renderer renderer;
  bool played = false;
  explicit PeerPriming(const BenchModule& module) : renderer(module) {
    played = renderer.ok() && renderer.render(RING_BLOCKS);
  }
};

// The best run's time, or -1 when the player cannot play the module; parts, when given, gets
// the best run's partSeconds.
template <class Priming>
double bestPrimingSeconds(const BenchModule& module, int runs, double* parts = nullptr) {
  double best = 1e30;
  for (int run = -1; run < runs; ++run) {
    const double start = wallSeconds();
    {
      Priming priming(module);
      const double spent = wallSeconds() - start;  // the release is not part of it
      if (!priming.played) return -1.0;
      if (run >= 0 && spent < best) {
        best = spent;
        if constexpr (requires { priming.partSeconds; }) {
          if (parts != nullptr) std::copy(priming.partSeconds, priming.partSeconds + 3, parts);
        }
      }
    }
  }
  return best;
}

// One priming in this process, as the first start of a fresh process makes it: wall-clock
// seconds, or -1 when the player cannot play the module.
double primeOnce(const std::string& player, const BenchModule& module) {
  const double start = wallSeconds();
  bool played = false;
  if (player == "ours") {
    played = OursPriming(module).played;
  } else if (player == "libxmp") {
    played = PeerPriming<Libxmp>(module).played;
  } else if (player == "libopenmpt") {
    played = PeerPriming<Libopenmpt>(module).played;
  }
  return played ? wallSeconds() - start : -1.0;
}

// The best of runs first starts, each in a fresh process of this program: there the buffers'
// pages are touched for the first time, where the runs in this process reuse the allocator's.
std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

double bestFreshPrimingSeconds(const Options& options, const char* player, int runs) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return -1.0;
  self[length] = '\0';
  const std::string source =
      options.firstModulePath.empty() ? BUILTIN_THEME : shellQuoted(options.firstModulePath);
  const std::string command =
      shellQuoted(self) + " " + PRIME_ONCE + " " + player + " " + source;
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    std::FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) return -1.0;
    double seconds = -1.0;
    const bool read = std::fscanf(child, "%lf", &seconds) == 1;
    if (pclose(child) != 0 || !read || seconds < 0.0) return -1.0;
    best = std::min(best, seconds);
  }
  return best;
}

void printPriming(const Options& options, const BenchModule& module) {
  // The throughput runs own the buffers; priming allocates its own.
  releaseMixBuffer();
  releaseRing();
  audioOutput->writeBlock = 0;
  double parts[3] = {};
  const double ours = bestPrimingSeconds<OursPriming>(module, options.primingRuns, parts);
  const double xmp = bestPrimingSeconds<PeerPriming<Libxmp>>(module, options.primingRuns);
  const double mpt = bestPrimingSeconds<PeerPriming<Libopenmpt>>(module, options.primingRuns);
  constexpr int FRESH_RUNS = 10;
  const double fresh[3] = {bestFreshPrimingSeconds(options, "ours", FRESH_RUNS),
                           bestFreshPrimingSeconds(options, "libxmp", FRESH_RUNS),
                           bestFreshPrimingSeconds(options, "libopenmpt", FRESH_RUNS)};
  std::printf("\nPriming %s: load, set-up and the first %u frames, wall clock; best of %d in\n"
              "this process, and best of %d first starts, each in a fresh process\n",
              module.name.c_str(), RING_FRAMES, options.primingRuns, FRESH_RUNS);
  std::printf("%-12s %12s %12s\n", "", "here", "first start");
  const double here[3] = {ours, xmp, mpt};
  const char* const names[3] = {"ours", "libxmp", "libopenmpt"};
  for (int k = 0; k < 3; ++k) {
    if (here[k] < 0.0) continue;
    std::printf("%-12s %9.3f ms %9.3f ms", names[k], here[k] * 1e3, fresh[k] * 1e3);
    if (k == 0) {
      std::printf("   (here: load and reset %.3f, buffers %.3f, 100 blocks %.3f)", parts[0] * 1e3,
                  parts[1] * 1e3, parts[2] * 1e3);
    }
    std::printf("\n");
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Playback thread
//-----------------------------------------------------------------------------
// The platform's thread operations, with create wrapped so that the thread reads its own CPU
// clock just before it returns: the playback thread's CPU time alone, whatever else the
// process and the machine do meanwhile. Priming runs on the calling thread and is not in it.
// The sleep is wrapped to count the passes.

std::uint32_t (*wrappedProc)(void*) = nullptr;
std::atomic<std::int64_t> playbackThreadNanoseconds{-1};
std::atomic<std::uint32_t> passes{0};

// The calling thread's CPU time in nanoseconds.
std::int64_t threadNanoseconds() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return std::int64_t{used.tv_sec} * 1000000000 + used.tv_nsec;
}

std::uint32_t measuredProc(void* argument) {
  const std::uint32_t result = wrappedProc(argument);
  playbackThreadNanoseconds.store(threadNanoseconds());
  return result;
}

ThreadHandle measuredCreate(std::uint32_t (*proc)(void*)) {
  wrappedProc = proc;
  return platformThreadOps().create(measuredProc);
}

void countedSleep() {
  passes.fetch_add(1);
  platformThreadOps().sleepPollInterval();
}

struct ThreadShare {
  double playedSeconds = 0.0;
  double cpuSeconds = -1.0;  // below 0 when the thread did not run
  std::uint32_t blocks = 0;
  std::uint32_t passes = 0;
};

ThreadShare measurePlayback(const std::vector<std::uint8_t>& bytes, double seconds) {
  ThreadOps measured = platformThreadOps();
  measured.create = measuredCreate;
  measured.sleepPollInterval = countedSleep;
  useThreadOps(&measured);
  useAudioDevice(&silentAudioDevice);
  playbackThreadNanoseconds.store(-1);
  passes.store(0);

  ThreadShare share;
  startMusic(ModuleImage{bytes.data(), bytes.size()});
  const std::uint32_t publishedAtStart = audioOutput->blocksPublished.load();
  const double start = wallSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  share.blocks = audioOutput->blocksPublished.load() - publishedAtStart;
  stopMusic();
  share.playedSeconds = wallSeconds() - start;
  share.passes = passes.load();
  useThreadOps(nullptr);
  useAudioDevice(nullptr);
  const std::int64_t nanoseconds = playbackThreadNanoseconds.load();
  if (nanoseconds >= 0) share.cpuSeconds = static_cast<double>(nanoseconds) * 1e-9;
  return share;
}

// A thread that does nothing but the 5 ms sleeps of the poll for the same time: what the
// system charges for sleeping and waking up alone.
ThreadShare measureSleepsAlone(double seconds) {
  ThreadShare share;
  std::int64_t nanoseconds = 0;
  const double start = wallSeconds();
  std::thread sleeper([&] {
    std::uint32_t count = 0;
    while (wallSeconds() - start < seconds) {
      platformThreadOps().sleepPollInterval();
      ++count;
    }
    share.passes = count;
    nanoseconds = threadNanoseconds();
  });
  sleeper.join();
  share.playedSeconds = wallSeconds() - start;
  share.cpuSeconds = static_cast<double>(nanoseconds) * 1e-9;
  return share;
}

// A module of one channel and no notes: its thread polls, ticks, clears and converts blocks
// but mixes nothing, which is the floor under any module's share.
std::vector<std::uint8_t> silentModuleBytes() {
  XmModule m;
  m.channelCount = 1;
  m.orders = {0};
  m.patterns.push_back(xmPattern(m, 64));
  return writeXm(m);
}

void printPlaybackThread(const Options& options, const BenchModule& module) {
  if (options.threadSeconds <= 0.0) return;
  std::printf("\nPlayback thread on the silent device: its own CPU time over the play time\n");
  std::printf("%-24s %8s %7s %7s %10s %10s\n", "module", "played", "passes", "blocks",
              "thread CPU", "one core");
  const auto print = [](const char* name, const ThreadShare& share) {
    std::printf("%-24s %7.2fs %7u %7u %8.2fms %9.4f%%\n", name, share.playedSeconds,
                share.passes, share.blocks, share.cpuSeconds * 1e3,
                100.0 * share.cpuSeconds / share.playedSeconds);
  };
  const std::pair<const char*, std::vector<std::uint8_t>> runs[] = {
      {module.name.c_str(), module.bytes}, {"no notes (the floor)", silentModuleBytes()}};
  for (const auto& [name, bytes] : runs) {
    const ThreadShare share = measurePlayback(bytes, options.threadSeconds);
    if (share.cpuSeconds < 0.0) {
      std::fprintf(stderr, "player-bench: the playback thread did not run\n");
      return;
    }
    print(name, share);
  }
  print("5 ms sleeps alone", measureSleepsAlone(options.threadSeconds));
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] Main
//-----------------------------------------------------------------------------

int main(int argc, char** argv) {
  Options options;
  const int status = parseOptions(argc, argv, options);
  if (status != 0) return status < 0 ? 0 : status;
  if (!options.primeOnce.empty()) {
    const double seconds = primeOnce(options.primeOnce, options.modules.front());
    std::printf("%.9f\n", seconds);
    return seconds < 0.0 ? 1 : 0;
  }

  const char* openmptVersion = openmpt_get_string("library_version");
  std::printf("libxmp %s, libopenmpt %s\n", xmp_version, openmptVersion);
  openmpt_free_string(openmptVersion);
  if (!allocateRing() || !allocateMixBuffer()) {
    std::fputs("player-bench: no memory for the ring\n", stderr);
    return 1;
  }
  // A module that a player refuses gives 0 in its column and exit code 1.
  const bool allPlayed = printThroughput(options);
  printPriming(options, options.modules.front());
  const BenchModule& first = options.modules.front();
  if (loadModule(first.bytes.data(), first.bytes.size()) == nullptr) {
    printPlaybackThread(options, first);
  }
  releaseModule();
  return allPlayed ? 0 : 1;
}
