/* An ALSA output plugin for the sound tests: plays 16-bit stereo at the real rate, paced by
 * the monotonic clock, and appends every frame the program writes to a raw PCM file. Built as
 * libasound_module_pcm_capture.so and named in an ALSA configuration as
 *   pcm.!default { type capture file "/path/out.raw" }
 * so that a program that plays to the default device can be heard byte for byte on a machine
 * without a sound card. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  snd_pcm_ioplug_t io;
  FILE *out;
  int timer;                          /* timerfd that wakes poll() once per period */
  struct timespec started;            /* monotonic time of the start */
  int running;
  snd_pcm_uframes_t reported;         /* frames played as last told to ALSA */
} Capture;

static snd_pcm_uframes_t elapsedFrames(const Capture *capture) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long ns = (now.tv_sec - capture->started.tv_sec) * 1000000000LL + (now.tv_nsec - capture->started.tv_nsec);
  return (snd_pcm_uframes_t)(ns / 1000 * (long long)capture->io.rate / 1000000);
}

/* Frames played: the clock's frames since the start, never past what was written (the
 * application pointer counts the frames written since the prepare). */
static snd_pcm_uframes_t playedFrames(const Capture *capture) {
  if (!capture->running) return 0;
  const snd_pcm_uframes_t elapsed = elapsedFrames(capture);
  return elapsed < capture->io.appl_ptr ? elapsed : capture->io.appl_ptr;
}

/* ALSA sees the pointer modulo the buffer, so one call may move it by less than a buffer: a
 * program that stalled for a whole buffer is told in two steps, not in none. */
static snd_pcm_sframes_t capturePointer(snd_pcm_ioplug_t *io) {
  Capture *capture = io->private_data;
  snd_pcm_uframes_t played = playedFrames(capture);
  if (played - capture->reported >= io->buffer_size) played = capture->reported + io->buffer_size - 1;
  capture->reported = played;
  return (snd_pcm_sframes_t)(played % io->buffer_size);
}

static snd_pcm_sframes_t captureTransfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                         snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  Capture *capture = io->private_data;
  const char *data = (const char *)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
  if (fwrite(data, 4, size, capture->out) != size) return -EIO;
  fflush(capture->out);
  return (snd_pcm_sframes_t)size;
}

/* Wakes poll() after ns and then every intervalNs; 0, 0 disarms. */
static int armTimer(Capture *capture, long long ns, long long intervalNs) {
  struct itimerspec wakeUp;
  wakeUp.it_value.tv_sec = ns / 1000000000LL;
  wakeUp.it_value.tv_nsec = ns % 1000000000LL;
  wakeUp.it_interval.tv_sec = intervalNs / 1000000000LL;
  wakeUp.it_interval.tv_nsec = intervalNs % 1000000000LL;
  return timerfd_settime(capture->timer, 0, &wakeUp, NULL);
}

/* Once per period while playing. */
static int armPeriodTimer(Capture *capture) {
  const long long ns = (long long)capture->io.period_size * 1000000000LL / capture->io.rate;
  return armTimer(capture, ns, ns);
}

static int captureStart(snd_pcm_ioplug_t *io) {
  Capture *capture = io->private_data;
  clock_gettime(CLOCK_MONOTONIC, &capture->started);
  capture->running = 1;
  capture->reported = 0;
  return armPeriodTimer(capture);
}

static int captureStop(snd_pcm_ioplug_t *io) {
  Capture *capture = io->private_data;
  capture->running = 0;
  return armTimer(capture, 0, 0);
}

static int capturePrepare(snd_pcm_ioplug_t *io) {
  Capture *capture = io->private_data;
  capture->running = 0;
  capture->reported = 0;
  /* Before the start, poll() must see room at once: a one-shot wake-up after 1 ms. */
  return armTimer(capture, 1000000, 0);
}

static int capturePollRevents(snd_pcm_ioplug_t *io, struct pollfd *pfd, unsigned int nfds, unsigned short *revents) {
  Capture *capture = io->private_data;
  (void)nfds;
  if (pfd[0].revents & POLLIN) {
    uint64_t expirations;
    if (read(capture->timer, &expirations, sizeof expirations) < 0 && errno != EAGAIN) return -errno;
  }
  const snd_pcm_uframes_t queued = io->appl_ptr - playedFrames(capture);
  *revents = queued < io->buffer_size ? POLLOUT : 0;
  if (!capture->running && *revents == 0) armPeriodTimer(capture);
  return 0;
}

static void freeCapture(Capture *capture) {
  if (capture->out) fclose(capture->out);
  if (capture->timer >= 0) close(capture->timer);
  free(capture);
}

static int captureClose(snd_pcm_ioplug_t *io) {
  freeCapture(io->private_data);
  return 0;
}

static const snd_pcm_ioplug_callback_t captureCallbacks = {
    .start = captureStart,
    .stop = captureStop,
    .pointer = capturePointer,
    .transfer = captureTransfer,
    .close = captureClose,
    .prepare = capturePrepare,
    .poll_revents = capturePollRevents,
};

SND_PCM_PLUGIN_DEFINE_FUNC(capture) {
  const char *path = NULL;
  snd_config_iterator_t i, next;
  (void)root;
  snd_config_for_each(i, next, conf) {
    snd_config_t *entry = snd_config_iterator_entry(i);
    const char *id;
    if (snd_config_get_id(entry, &id) == 0 && strcmp(id, "file") == 0) snd_config_get_string(entry, &path);
  }
  if (path == NULL || stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;

  Capture *capture = calloc(1, sizeof *capture);
  if (capture == NULL) return -ENOMEM;
  capture->out = fopen(path, "ab");
  capture->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (capture->out == NULL || capture->timer < 0) {
    freeCapture(capture);
    return -EIO;
  }
  capture->io.version = SND_PCM_IOPLUG_VERSION;
  capture->io.name = "capture to a file at the real rate";
  capture->io.callback = &captureCallbacks;
  capture->io.private_data = capture;
  capture->io.poll_fd = capture->timer;
  capture->io.poll_events = POLLIN;
  capture->io.mmap_rw = 0;  /* read/write access only: every frame passes through transfer */
  int err = snd_pcm_ioplug_create(&capture->io, name, stream, mode);
  if (err < 0) {
    freeCapture(capture);
    return err;
  }
  static const unsigned int accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE};
  if ((err = snd_pcm_ioplug_set_param_list(&capture->io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(&capture->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&capture->io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&capture->io, SND_PCM_IOPLUG_HW_RATE, 44100, 44100)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&capture->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 65536)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&capture->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
    snd_pcm_ioplug_delete(&capture->io);
    return err;
  }
  *pcmp = capture->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(capture);
