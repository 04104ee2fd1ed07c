// The built-in theme, "Level Up", composed as XM writer records. Every sample is synthesised
// here in integer arithmetic and every note is written below, so the same bytes come out on every run and every machine: no libm, no
// unseeded randomness, no floating point.
//
// The piece: A minor at 125 BPM, tempo 6 (a row is a sixteenth note, 16 rows a bar, 4 bars a
// pattern). Pattern 0 is the intro (pad, bells and a riser; its first half repeats with a
// pattern loop), 1 the theme (Am F C G), 2 the answer (F G Em Am), 3 the bridge (Dm Em F E)
// whose last bar turns back to A minor, where the song restarts at order 1.
//
// Index
//   [SECTION] Integer synthesis
//   [SECTION] The twelve instruments
//   [SECTION] Notes and cells
//   [SECTION] Drums, bass, harmony, melody
//   [SECTION] The song

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/compose-theme/theme.h"

namespace {

//-----------------------------------------------------------------------------
// [SECTION] Integer synthesis
//-----------------------------------------------------------------------------
// Signals are int32 in 16-bit sample units (full scale 32767) until they are written as
// 8-bit frames. Phases are 32-bit unsigned: a full cycle is 2^32.

// Sine of a 32-bit phase, about 0.1 % off a true sine: a parabola through the quarter
// points, then the usual 0.225 correction towards the curve. Result -32767..32767.
std::int32_t sine(std::uint32_t phase) {
  const std::int64_t x = static_cast<std::int32_t>(phase) >> 16;  // -32768..32767 = -pi..pi
  const std::int64_t absX = x < 0 ? -x : x;
  std::int64_t y = (4 * x * (32768 - absX)) >> 15;  // parabola, -32768..32768
  const std::int64_t absY = y < 0 ? -y : y;
  y += ((y * absY >> 15) - y) * 225 / 1000;
  return static_cast<std::int32_t>(y > 32767 ? 32767 : (y < -32767 ? -32767 : y));
}

// Rising saw of a 32-bit phase, -32768..32767.
std::int32_t saw(std::uint32_t phase) { return static_cast<std::int32_t>(phase >> 16) - 32768; }

// xorshift32 with a fixed seed per instrument: the same noise on every run.
struct Noise {
  std::uint32_t state;
  std::int32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<std::int32_t>(state >> 16) - 32768;
  }
};

// Phase increment of one frame for a tone that completes a cycle every `framesPerCycle`
// frames, scaled by num / den (for detuning): 2^32 / framesPerCycle x num / den.
std::uint32_t phaseStep(std::uint32_t framesPerCycle, std::uint32_t num = 1, std::uint32_t den = 1) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << 32) * num / (std::uint64_t{framesPerCycle} * den));
}

// Exponential decay in 16.16 fixed point: the amplitude is multiplied by keep / 65536 per
// frame.
struct Decay {
  std::int64_t amplitude = 65536;  // 16.16, 1.0 at the start
  std::int64_t keep;
  std::int32_t apply(std::int32_t value) {
    const std::int32_t out = static_cast<std::int32_t>((value * amplitude) >> 16);
    amplitude = (amplitude * keep) >> 16;
    return out;
  }
};

// One-pole low-pass in 16.16: coefficient 65536 lets everything through.
struct LowPass {
  std::int64_t state = 0;
  std::int64_t coefficient;
  std::int32_t apply(std::int32_t value) {
    state += ((static_cast<std::int64_t>(value) << 16) - state) * coefficient >> 16;
    return static_cast<std::int32_t>(state >> 16);
  }
};

// A sample loop in frames. The type is the sample header's two loop bits: 1 forward,
// 2 ping-pong.
constexpr std::uint8_t LOOP_FORWARD = 1, LOOP_PING_PONG = 2;
struct Loop {
  std::uint8_t type = 0;  // 0: none
  std::uint32_t startFrame = 0;
  std::uint32_t frameCount = 0;
};

// An instrument of one sample, both called `name`: 16-bit-unit values to 8-bit frames,
// scaled by gainPercent and clipped; volume 0..64.
XmInstrument instrument(const std::vector<std::int32_t>& values, int gainPercent, const char* name,
                        std::uint8_t volume, Loop loop = {}, std::int8_t relativeNote = 0) {
  XmSample sample;
  sample.name = name;
  sample.frames.reserve(values.size());
  for (std::int32_t v : values) {
    std::int32_t scaled = v * gainPercent / 100 / 256;
    if (scaled > 127) scaled = 127;
    if (scaled < -128) scaled = -128;
    sample.frames.push_back(static_cast<std::int16_t>(scaled));
  }
  sample.volume = volume;
  sample.loopType = loop.type;
  sample.loopStart = loop.startFrame;
  sample.loopLength = loop.frameCount;
  sample.relativeNote = relativeNote;
  XmInstrument in = xmInstrument(sample);
  in.name = name;
  return in;
}

//-----------------------------------------------------------------------------
// [SECTION] The twelve instruments
//-----------------------------------------------------------------------------
// A pitched sample has a cycle of 32 frames, so that at C-4 (played at 8363 frames per
// second) it sounds C, 261 Hz. Drums are made for C-5 (16726 frames per second) and carry a
// relative note of +12, so that the patterns trigger them at C-4.

constexpr std::uint32_t CYCLE = 32;

enum InstrumentNumber : std::uint8_t {
  BASS = 1, LEAD, PAD, PLUCK, BELL, KICK, SNARE, HIHAT, RISER, STRINGS, TOM, CRASH,
  SAMPLED_INSTRUMENTS = CRASH,
  TOTAL_INSTRUMENTS = 47,  // the rest carry no sample: their names hold the credits
};

XmEnvelope envelope(std::vector<XmEnvelopePoint> points, std::uint8_t flags, std::uint8_t sustain = 0,
                    std::uint8_t loopStart = 0, std::uint8_t loopEnd = 0) {
  XmEnvelope e;
  e.points = std::move(points);
  e.flags = flags;
  e.sustainPoint = sustain;
  e.loopStartPoint = loopStart;
  e.loopEndPoint = loopEnd;
  return e;
}

constexpr std::uint8_t ENV_ON = 1, ENV_SUSTAIN = 2, ENV_LOOP = 4;

XmInstrument bass() {
  // Saw and square an octave apart through a low-pass: round, with some bite. 8 cycles,
  // looped whole.
  std::vector<std::int32_t> v;
  LowPass lp{0, 22000};
  std::uint32_t phase = 0;
  for (std::uint32_t i = 0; i < CYCLE * 8; ++i, phase += phaseStep(CYCLE)) {
    const std::int32_t square = (phase << 1) < 0x80000000u ? 20000 : -20000;
    v.push_back(lp.apply(saw(phase) * 3 / 4 + square / 2));
  }
  XmInstrument in = instrument(v, 150, "bass", 52, {LOOP_FORWARD, 0, static_cast<std::uint32_t>(v.size())});
  in.volumeEnvelope = envelope({{0, 64}, {3, 56}, {20, 44}, {40, 36}}, ENV_ON | ENV_SUSTAIN, 2);
  in.fadeout = 1536;
  return in;
}

XmInstrument lead() {
  // A pulse whose width sweeps over 16 cycles and back: the loop breathes on its own.
  std::vector<std::int32_t> v;
  for (std::uint32_t c = 0; c < 16; ++c) {
    const std::uint32_t width = 8 + (c < 8 ? c : 15 - c);  // 8..15 frames of 32 high
    for (std::uint32_t i = 0; i < CYCLE; ++i) v.push_back(i < width ? 24000 : -24000);
  }
  LowPass lp{0, 30000};
  for (auto& x : v) x = lp.apply(x);
  XmInstrument in = instrument(v, 100, "lead", 44, {LOOP_FORWARD, 0, static_cast<std::uint32_t>(v.size())});
  in.volumeEnvelope = envelope({{0, 0}, {2, 64}, {8, 52}, {30, 46}, {60, 30}}, ENV_ON | ENV_SUSTAIN, 3);
  in.fadeout = 2048;
  in.vibratoType = 0;  // sine
  in.vibratoSweep = 24;
  in.vibratoDepth = 6;
  in.vibratoRate = 12;
  return in;
}

XmInstrument pad() {
  // Three saws, slightly apart, softened; a ping-pong loop over the whole beating pattern.
  std::vector<std::int32_t> v;
  LowPass lp{0, 14000};
  std::uint32_t a = 0, b = 0x40000000, c = 0x90000000;
  for (std::uint32_t i = 0; i < 4096; ++i) {
    v.push_back(lp.apply((saw(a) + saw(b) + saw(c)) / 3));
    a += phaseStep(CYCLE);
    b += phaseStep(CYCLE, 1000, 1004);
    c += phaseStep(CYCLE, 1000, 997);
  }
  XmInstrument in = instrument(v, 170, "pad", 34, {LOOP_PING_PONG, 512, 3584});
  in.volumeEnvelope = envelope({{0, 0}, {16, 40}, {40, 64}, {80, 48}, {120, 40}}, ENV_ON | ENV_SUSTAIN, 3);
  // A slow sway between the sides while the note is held.
  in.panningEnvelope = envelope({{0, 32}, {40, 20}, {80, 44}, {120, 20}}, ENV_ON | ENV_LOOP, 0, 1, 3);
  in.fadeout = 384;
  return in;
}

XmInstrument pluck() {
  // Karplus-Strong: a 32-frame line of noise, averaged as it goes round. No loop: it dies.
  std::vector<std::int32_t> line(CYCLE);
  Noise noise{0x1234567u};
  for (auto& x : line) x = noise.next();
  std::vector<std::int32_t> v;
  for (std::uint32_t i = 0; i < 4000; ++i) {
    const std::uint32_t k = i % CYCLE;
    const std::int32_t out = line[k];
    line[k] = (line[k] + line[(k + 1) % CYCLE]) * 255 / 512;
    v.push_back(out);
  }
  return instrument(v, 120, "pluck", 40);
}

XmInstrument bell() {
  // Partials at 1, 2.76 and 5.40 times the fundamental, the higher ones dying sooner. The
  // tail loops on a plain cycle so that the envelope, not the sample, ends the note.
  std::vector<std::int32_t> v;
  std::uint32_t p1 = 0, p2 = 0, p3 = 0;
  Decay d1{65536, 65530}, d2{65536, 65500}, d3{65536, 65440};
  for (std::uint32_t i = 0; i < 6144; ++i) {
    v.push_back(d1.apply(sine(p1)) / 2 + d2.apply(sine(p2)) / 3 + d3.apply(sine(p3)) / 5);
    p1 += phaseStep(CYCLE);
    p2 += phaseStep(CYCLE, 276, 100);
    p3 += phaseStep(CYCLE, 540, 100);
  }
  XmInstrument in = instrument(v, 190, "bell", 40, {LOOP_FORWARD, 6144 - 1024, 1024});
  in.volumeEnvelope = envelope({{0, 64}, {10, 40}, {40, 20}, {100, 6}, {160, 0}}, ENV_ON);
  in.fadeout = 1024;
  return in;
}

// Drums are made at 16726 frames per second (C-5) and played at C-4 with relativeNote 12.
XmInstrument drum(const std::vector<std::int32_t>& v, int gainPercent, const char* name, std::uint8_t volume) {
  return instrument(v, gainPercent, name, volume, {}, 12);
}

XmInstrument kick() {
  // A sine whose pitch falls from about 150 Hz to 45 Hz, with a click at the start.
  std::vector<std::int32_t> v;
  std::uint32_t phase = 0;
  std::uint32_t step = phaseStep(16726 / 150);
  const std::uint32_t lowest = phaseStep(16726 / 45);
  Decay amp{65536, 65520};
  for (std::uint32_t i = 0; i < 5000; ++i) {
    const std::int32_t click = i < 24 ? (24 - static_cast<std::int32_t>(i)) * 600 : 0;
    v.push_back(amp.apply(sine(phase) + click));
    phase += step;
    if (step > lowest) step -= step / 1200;
  }
  return drum(v, 120, "kick", 60);
}

XmInstrument snare() {
  // Noise with a short body tone under it.
  std::vector<std::int32_t> v;
  Noise noise{0xBADC0DEu};
  std::uint32_t phase = 0;
  Decay noiseAmp{65536, 65480}, toneAmp{65536, 65400};
  LowPass lp{0, 40000};
  for (std::uint32_t i = 0; i < 4000; ++i) {
    v.push_back(noiseAmp.apply(lp.apply(noise.next())) * 3 / 4 + toneAmp.apply(sine(phase)) / 2);
    phase += phaseStep(16726 / 190);
  }
  return drum(v, 110, "snare", 48);
}

XmInstrument hihat() {
  // Noise through a first difference (a crude high-pass), very short.
  std::vector<std::int32_t> v;
  Noise noise{0xC0FFEEu};
  std::int32_t last = 0;
  Decay amp{65536, 65000};
  for (std::uint32_t i = 0; i < 1200; ++i) {
    const std::int32_t n = noise.next();
    v.push_back(amp.apply((n - last) / 2));
    last = n;
  }
  return drum(v, 100, "hihat", 32);
}

XmInstrument riser() {
  // Band-limited noise, looped; the patterns raise its pitch with portamento up.
  std::vector<std::int32_t> v;
  Noise noise{0x5EED5u};
  LowPass lp{0, 9000};
  for (std::uint32_t i = 0; i < 4096; ++i) v.push_back(lp.apply(noise.next()) * 2);
  XmInstrument in = instrument(v, 100, "riser", 28, {LOOP_FORWARD, 0, 4096});
  in.volumeEnvelope = envelope({{0, 8}, {90, 64}, {96, 0}}, ENV_ON);
  return in;
}

XmInstrument strings() {
  // Four detuned saws, darker than the pad, ping-pong looped; the envelope's loop adds a slow
  // swell while the key is held.
  std::vector<std::int32_t> v;
  LowPass lp{0, 9000};
  std::uint32_t ph[4] = {0, 0x30000000, 0x70000000, 0xB0000000};
  const std::uint32_t num[4] = {1000, 1000, 1000, 1000};
  const std::uint32_t den[4] = {1000, 1006, 995, 1003};
  for (std::uint32_t i = 0; i < 4096; ++i) {
    std::int32_t sum = 0;
    for (int k = 0; k < 4; ++k) {
      sum += saw(ph[k]) / 4;
      ph[k] += phaseStep(CYCLE, num[k], den[k]);
    }
    v.push_back(lp.apply(sum));
  }
  // Both loop bits set: played as a ping-pong loop.
  XmInstrument in = instrument(v, 220, "strings", 30, {LOOP_FORWARD | LOOP_PING_PONG, 1024, 3072});
  in.volumeEnvelope =
      envelope({{0, 0}, {24, 56}, {48, 44}, {72, 56}, {96, 44}}, ENV_ON | ENV_LOOP, 0, 2, 4);
  in.fadeout = 512;
  return in;
}

XmInstrument tom() {
  std::vector<std::int32_t> v;
  std::uint32_t phase = 0;
  std::uint32_t step = phaseStep(16726 / 220);
  Decay amp{65536, 65490};
  for (std::uint32_t i = 0; i < 4000; ++i) {
    v.push_back(amp.apply(sine(phase)));
    phase += step;
    step -= step / 4000;
  }
  return drum(v, 120, "tom", 50);
}

XmInstrument crash() {
  // Long bright noise; the volume envelope shortens it as an open hi-hat when the patterns
  // cut it with a key-off.
  std::vector<std::int32_t> v;
  Noise noise{0xFACADEu};
  std::int32_t last = 0;
  Decay amp{65536, 65522};
  for (std::uint32_t i = 0; i < 12000; ++i) {
    const std::int32_t n = noise.next();
    v.push_back(amp.apply((n - last / 2) / 2));
    last = n;
  }
  XmInstrument in = drum(v, 100, "crash", 30);
  in.volumeEnvelope = envelope({{0, 64}, {4, 48}, {60, 20}, {200, 0}}, ENV_ON);
  in.fadeout = 4096;
  return in;
}

//-----------------------------------------------------------------------------
// [SECTION] Notes and cells
//-----------------------------------------------------------------------------

// Notes as XM numbers: 1 is C-0, 49 is C-4.
enum : std::uint8_t { C = 0, Cs = 1, D = 2, Ds = 3, E = 4, F = 5, Fs = 6, G = 7, Gs = 8, A = 9, As = 10, B = 11 };
constexpr std::uint8_t note(std::uint8_t name, int octave) {
  return static_cast<std::uint8_t>(1 + octave * 12 + name);
}
constexpr std::uint8_t KEY_OFF = 97;

// Effect numbers as stored.
enum : std::uint8_t {
  FX_ARPEGGIO = 0x0, FX_PORTA_UP = 0x1, FX_PORTA_DOWN = 0x2, FX_TONE_PORTA = 0x3, FX_VIBRATO = 0x4,
  FX_TONE_PORTA_VOLSLIDE = 0x5, FX_VIBRATO_VOLSLIDE = 0x6, FX_TREMOLO = 0x7, FX_PAN = 0x8,
  FX_VOLSLIDE = 0xA, FX_SET_VOLUME = 0xC, FX_BREAK = 0xD, FX_EXTENDED = 0xE, FX_GLOBAL_VOLUME = 0x10,
  FX_KEY_OFF = 0x14, FX_PAN_SLIDE = 0x19, FX_MULTI_RETRIG = 0x1B,
};
constexpr std::uint8_t E_PATTERN_LOOP = 0x60, E_RETRIGGER = 0x90, E_NOTE_CUT = 0xC0, E_NOTE_DELAY = 0xD0;

// Volume-column bytes.
constexpr std::uint8_t vol(int v) { return static_cast<std::uint8_t>(0x10 + v); }  // 0..64
constexpr std::uint8_t volPan(int p) { return static_cast<std::uint8_t>(0xC0 + p); }  // 0..15

enum Channel : std::uint16_t {
  CH_KICK, CH_SNARE, CH_HIHAT, CH_CRASH, CH_TOM, CH_BASS, CH_PAD1, CH_PAD2, CH_PAD3, CH_STRINGS,
  CH_LEAD, CH_ECHO, CH_ARP, CH_BELL, CH_RISER, CH_STAB, CH_SUB, CH_STRINGS2, CH_BELL_ECHO,
  CH_CONTROL, CHANNEL_COUNT
};

constexpr std::uint16_t ROWS = 64;
constexpr std::uint16_t BAR = 16;

struct Writer {
  XmModule& module;
  std::size_t pattern;
  void put(std::uint16_t row, std::uint16_t channel, XmCell cell) {
    if (row < ROWS) xmCell(module, pattern, row, channel) = cell;
  }
  void fx(std::uint16_t row, std::uint16_t channel, std::uint8_t effect, std::uint8_t param) {
    if (row >= ROWS) return;
    XmCell& cell = xmCell(module, pattern, row, channel);
    cell.effect = effect;
    cell.effectParam = param;
  }
};

// A chord of the progression: its root for the bass and three tones for the pad.
struct Chord {
  std::uint8_t root;   // bass note, octave 2
  std::uint8_t tones[3];  // pad notes, octave 4
  std::uint8_t arpeggio;  // 0xy: the intervals above the root for the pluck
};

constexpr Chord Am = {note(A, 1), {note(A, 3), note(C, 4), note(E, 4)}, 0x37};
constexpr Chord Fmaj = {note(F, 1), {note(F, 3), note(A, 3), note(C, 4)}, 0x47};
constexpr Chord Cmaj = {note(C, 2), {note(G, 3), note(C, 4), note(E, 4)}, 0x47};
constexpr Chord Gmaj = {note(G, 1), {note(G, 3), note(B, 3), note(D, 4)}, 0x47};
constexpr Chord Em = {note(E, 2), {note(G, 3), note(B, 3), note(E, 4)}, 0x37};
constexpr Chord Dm = {note(D, 2), {note(F, 3), note(A, 3), note(D, 4)}, 0x37};
constexpr Chord Emaj = {note(E, 2), {note(Gs, 3), note(B, 3), note(E, 4)}, 0x47};

//-----------------------------------------------------------------------------
// [SECTION] Drums, bass, harmony, melody
//-----------------------------------------------------------------------------

// The basic beat for one bar: kick on 1 and 3 (and an extra push before 3), snare on 2 and
// 4, closed hi-hats on every eighth with the off-beats softer.
void beat(Writer& w, std::uint16_t bar, bool push, bool flam) {
  const std::uint16_t r = bar * BAR;
  for (std::uint16_t k : {0, 8}) w.put(r + k, CH_KICK, {note(C, 4), KICK, vol(64), 0, 0});
  if (push) w.put(r + 6, CH_KICK, {note(C, 4), KICK, vol(40), 0, 0});
  w.put(r + 4, CH_SNARE, {note(C, 4), SNARE, vol(56), 0, 0});
  // A late ghost hit on the last snare of a flam bar: the note starts 3 ticks into the row.
  w.put(r + 12, CH_SNARE, {note(C, 4), SNARE, vol(60), FX_EXTENDED, static_cast<std::uint8_t>(flam ? E_NOTE_DELAY | 3 : 0)});
  for (std::uint16_t h = 0; h < BAR; h += 2)
    w.put(r + h, CH_HIHAT, {note(C, 4), HIHAT, vol(h % 4 == 0 ? 44 : 26), FX_PAN, static_cast<std::uint8_t>(h % 4 == 0 ? 0x90 : 0x70)});
}

// Bass: root, root, octave, root, fifth pattern on the chord; the last note of a bar slides
// into the next root when `slideTo` is given.
void bassBar(Writer& w, std::uint16_t bar, const Chord& chord, std::uint8_t slideTo = 0) {
  const std::uint16_t r = bar * BAR;
  const std::uint8_t root = chord.root;
  const std::uint8_t steps[][2] = {{0, 0}, {3, 0}, {6, 12}, {8, 0}, {10, 7}, {12, 0}, {14, 12}};
  for (const auto& s : steps) {
    w.put(r + s[0], CH_BASS, {static_cast<std::uint8_t>(root + s[1]), BASS, 0, 0, 0});
    // A sub-octave pluck under the bass on the strong steps only, panned left.
    if (s[1] == 0 && s[0] % 8 == 0) w.put(r + s[0], CH_SUB, {root, PLUCK, volPan(3), 0, 0});
  }
  if (slideTo != 0) w.put(r + 15, CH_BASS, {slideTo, 0, 0, FX_TONE_PORTA, 0x20});
}

// Pad: the three chord tones held through the bar on three channels.
void padBar(Writer& w, std::uint16_t bar, const Chord& chord, std::uint8_t volume) {
  const std::uint16_t r = bar * BAR;
  for (int i = 0; i < 3; ++i)
    w.put(r, static_cast<std::uint16_t>(CH_PAD1 + i), {chord.tones[i], PAD, vol(volume), 0, 0});
}

// Pluck arpeggio: the chord's root retriggered every quarter beat, the arpeggio effect
// spelling the chord across the ticks of each row.
void arpBar(Writer& w, std::uint16_t bar, const Chord& chord) {
  const std::uint16_t r = bar * BAR;
  for (std::uint16_t k = 0; k < BAR; k += 4) {
    w.put(r + k, CH_ARP, {static_cast<std::uint8_t>(chord.tones[0] + 12), PLUCK, vol(k == 0 ? 40 : 28), FX_ARPEGGIO, chord.arpeggio});
    w.fx(r + k + 1, CH_ARP, FX_ARPEGGIO, chord.arpeggio);
    w.fx(r + k + 2, CH_ARP, FX_ARPEGGIO, chord.arpeggio);
  }
  // Off-beat stabs on the right: the chord's third an octave up, cut short.
  for (std::uint16_t k : {2, 10}) w.put(r + k, CH_STAB, {static_cast<std::uint8_t>(chord.tones[1] + 12), PLUCK, volPan(12), FX_EXTENDED, E_NOTE_CUT | 4});
}

// Strings: the chord's top tone and the root an octave above the pad, one note per bar.
void stringsBar(Writer& w, std::uint16_t bar, const Chord& chord) {
  const std::uint16_t r = bar * BAR;
  w.put(r, CH_STRINGS, {static_cast<std::uint8_t>(chord.tones[2] + 12), STRINGS, vol(40), FX_PAN, 0x50});
  w.put(r, CH_STRINGS2, {static_cast<std::uint8_t>(chord.tones[0] + 12), STRINGS, vol(32), FX_PAN, 0xB0});
}

// A melody note: pitch, row within the pattern, length in rows. The line plays on the lead
// channel; the echo channel repeats it three rows later, softer and on the other side.
struct MelodyNote {
  std::uint8_t pitch;
  std::uint16_t row;
  std::uint16_t rows;
};

void melody(Writer& w, const std::vector<MelodyNote>& line, bool echo) {
  for (const MelodyNote& n : line) {
    std::uint8_t effect = 0, param = 0;
    if (n.rows >= 8) {
      effect = FX_VIBRATO;  // long notes get a little vibrato, starting on the first tick
      param = 0x43;
    }
    w.put(n.row, CH_LEAD, {n.pitch, LEAD, vol(54), effect, param});
    if (n.rows >= 8) {
      for (std::uint16_t k = 1; k < n.rows - 1; ++k) w.fx(n.row + k, CH_LEAD, FX_VIBRATO, 0);
      w.put(n.row + n.rows - 1, CH_LEAD, {KEY_OFF, 0, 0, 0, 0});
    }
    if (echo) w.put(n.row + 3, CH_ECHO, {n.pitch, LEAD, vol(22), FX_PAN, 0xD0});
  }
}

//-----------------------------------------------------------------------------
// [SECTION] The song
//-----------------------------------------------------------------------------

// Pattern 0: intro. Pad and bells alone for two bars (played twice by the pattern loop),
// then the drums come in and a riser climbs into the theme.
void intro(XmModule& m) {
  Writer w{m, 0};
  w.put(0, CH_CONTROL, {0, 0, 0, FX_GLOBAL_VOLUME, 0x40});
  w.fx(0, CH_STRINGS2, FX_EXTENDED, E_PATTERN_LOOP | 0);  // loop start
  w.fx(31, CH_STRINGS2, FX_EXTENDED, E_PATTERN_LOOP | 1);  // play bars 1-2 twice
  const Chord chords[] = {Am, Fmaj, Cmaj, Gmaj};
  for (std::uint16_t bar = 0; bar < 4; ++bar) {
    padBar(w, bar, chords[bar], bar < 2 ? 36 : 48);
    // Bells pick out the chord, alternating sides with the panning effect.
    const std::uint8_t bells[] = {chords[bar].tones[2], chords[bar].tones[1], chords[bar].tones[0], chords[bar].tones[1]};
    for (std::uint16_t k = 0; k < 4; ++k)
      w.put(bar * BAR + k * 4, CH_BELL, {static_cast<std::uint8_t>(bells[k] + 12), BELL, vol(40), FX_PAN, static_cast<std::uint8_t>(k % 2 ? 0xC0 : 0x40)});
    w.put(bar * BAR + 2, CH_BELL_ECHO, {static_cast<std::uint8_t>(chords[bar].tones[2] + 24), BELL, vol(16), FX_PAN_SLIDE, 0x0F});
  }
  for (std::uint16_t h = 32; h < ROWS; h += 2) w.put(h, CH_HIHAT, {note(C, 4), HIHAT, vol(h % 4 ? 20 : 34), 0, 0});
  beat(w, 3, false, false);
  bassBar(w, 2, Cmaj);
  bassBar(w, 3, Gmaj, note(A, 1));
  stringsBar(w, 2, Cmaj);
  stringsBar(w, 3, Gmaj);
  // The riser: noise sliding up over the last bar, its envelope swelling then cut.
  w.put(48, CH_RISER, {note(C, 3), RISER, vol(40), FX_PORTA_UP, 0x0C});
  for (std::uint16_t k = 49; k < 63; ++k) w.fx(k, CH_RISER, FX_PORTA_UP, 0);
  w.put(63, CH_RISER, {KEY_OFF, 0, 0, 0, 0});
  // Tom fill into the theme, the last hits delayed into the off-ticks.
  const std::uint8_t toms[] = {note(A, 4), note(E, 4), note(C, 4), note(A, 3)};
  for (std::uint16_t k = 0; k < 4; ++k)
    w.put(56 + k * 2, CH_TOM, {toms[k], TOM, vol(44 + k * 4), FX_EXTENDED, static_cast<std::uint8_t>(k == 3 ? E_NOTE_DELAY | 2 : 0)});
}

// Pattern 1: the theme over Am F C G.
void theme(XmModule& m) {
  Writer w{m, 1};
  const Chord chords[] = {Am, Fmaj, Cmaj, Gmaj};
  const std::uint8_t slides[] = {0, 0, 0, note(F, 1)};
  for (std::uint16_t bar = 0; bar < 4; ++bar) {
    beat(w, bar, bar == 3, bar == 1);
    bassBar(w, bar, chords[bar], slides[bar]);
    padBar(w, bar, chords[bar], 44);
    arpBar(w, bar, chords[bar]);
  }
  w.put(0, CH_CRASH, {note(C, 4), CRASH, vol(44), 0, 0});
  melody(w,
         {{note(A, 4), 0, 4}, {note(C, 5), 4, 2}, {note(E, 5), 6, 6}, {note(D, 5), 12, 2}, {note(C, 5), 14, 2},
          {note(F, 5), 16, 6}, {note(E, 5), 22, 2}, {note(C, 5), 24, 4}, {note(A, 4), 28, 4},
          {note(G, 4), 32, 4}, {note(C, 5), 36, 2}, {note(E, 5), 38, 6}, {note(G, 5), 44, 4},
          {note(D, 5), 48, 8}, {note(B, 4), 56, 4}, {note(G, 4), 60, 4}},
         true);
  // The lead glides up into the last G instead of striking it.
  w.put(60, CH_LEAD, {note(G, 5), 0, 0, FX_TONE_PORTA, 0x30});
  for (std::uint16_t k = 61; k < 64; ++k) w.fx(k, CH_LEAD, FX_TONE_PORTA, 0);
}

// Pattern 2: the answer over F G Em Am, ending on a long A that fades.
void answer(XmModule& m) {
  Writer w{m, 2};
  const Chord chords[] = {Fmaj, Gmaj, Em, Am};
  for (std::uint16_t bar = 0; bar < 4; ++bar) {
    beat(w, bar, bar == 2, bar == 3);
    bassBar(w, bar, chords[bar]);
    padBar(w, bar, chords[bar], 44);
    stringsBar(w, bar, chords[bar]);
    arpBar(w, bar, chords[bar]);
  }
  w.put(0, CH_CRASH, {note(C, 4), CRASH, vol(40), 0, 0});
  // The open hi-hat on the last off-beats, cut by a key-off so its fade-out is heard.
  for (std::uint16_t k : {22, 38}) {
    w.put(k, CH_CRASH, {note(G, 4), CRASH, vol(30), 0, 0});
    w.put(k + 2, CH_CRASH, {KEY_OFF, 0, 0, 0, 0});
  }
  melody(w,
         {{note(A, 5), 0, 6}, {note(G, 5), 6, 2}, {note(F, 5), 8, 4}, {note(E, 5), 12, 4},
          {note(D, 5), 16, 6}, {note(E, 5), 22, 2}, {note(G, 5), 24, 8},
          {note(E, 5), 32, 4}, {note(G, 5), 36, 4}, {note(B, 5), 40, 6}, {note(A, 5), 46, 2},
          {note(A, 5), 48, 12}},
         true);
  // The long last A: vibrato with a gentle fade instead of plain vibrato.
  for (std::uint16_t k = 52; k < 59; ++k) w.fx(k, CH_LEAD, FX_VIBRATO_VOLSLIDE, k == 52 ? 0x03 : 0);
  // Bell counter-line over the answer, swinging across the stereo field.
  const std::uint8_t bells[] = {note(C, 6), note(D, 6), note(B, 5), note(C, 6)};
  for (std::uint16_t bar = 0; bar < 4; ++bar) {
    w.put(bar * BAR + 8, CH_BELL, {bells[bar], BELL, vol(30), FX_PAN, static_cast<std::uint8_t>(bar % 2 ? 0xE0 : 0x20)});
    w.put(bar * BAR + 10, CH_BELL_ECHO, {bells[bar], BELL, vol(14), FX_PAN, static_cast<std::uint8_t>(bar % 2 ? 0x20 : 0xE0)});
  }
  // The strings swell into the next pattern.
  w.fx(56, CH_STRINGS, FX_VOLSLIDE, 0x20);
  for (std::uint16_t k = 57; k < 64; ++k) w.fx(k, CH_STRINGS, FX_VOLSLIDE, 0);
}

// Pattern 3: the bridge over Dm Em F and E major, whose last bar rolls back into A minor.
void bridge(XmModule& m) {
  Writer w{m, 3};
  const Chord chords[] = {Dm, Em, Fmaj, Emaj};
  for (std::uint16_t bar = 0; bar < 3; ++bar) {
    beat(w, bar, bar == 1, bar == 2);
    arpBar(w, bar, chords[bar]);
  }
  for (std::uint16_t bar = 0; bar < 4; ++bar) {
    bassBar(w, bar, chords[bar], bar == 3 ? note(A, 1) : 0);
    padBar(w, bar, chords[bar], 40 + bar * 4);
    stringsBar(w, bar, chords[bar]);
  }
  w.put(0, CH_CRASH, {note(C, 4), CRASH, vol(40), 0, 0});
  melody(w,
         {{note(D, 5), 0, 4}, {note(F, 5), 4, 4}, {note(A, 5), 8, 4}, {note(G, 5), 12, 4},
          {note(E, 5), 16, 4}, {note(G, 5), 20, 4}, {note(B, 5), 24, 4}, {note(A, 5), 28, 4},
          {note(A, 5), 32, 4}, {note(C, 6), 36, 4}, {note(A, 5), 40, 4}, {note(F, 5), 44, 4},
          {note(E, 5), 48, 8}, {note(B, 4), 56, 4}, {note(Gs, 4), 60, 4}},
         false);
  // Last bar: the drums turn into a snare roll that speeds up (retrigger every 3 ticks, then
  // every 2, then multi-retrigger growing louder), with the riser under it.
  w.put(48, CH_KICK, {note(C, 4), KICK, vol(64), 0, 0});
  w.put(56, CH_KICK, {note(C, 4), KICK, vol(64), 0, 0});
  for (std::uint16_t k = 48; k < 56; k += 2) w.put(k, CH_SNARE, {note(C, 4), SNARE, vol(20 + (k - 48) * 2), FX_EXTENDED, E_RETRIGGER | 3});
  for (std::uint16_t k = 56; k < 60; ++k) w.put(k, CH_SNARE, {note(C, 4), SNARE, vol(36 + (k - 56) * 4), FX_EXTENDED, E_RETRIGGER | 2});
  w.put(60, CH_SNARE, {note(C, 4), SNARE, vol(44), FX_MULTI_RETRIG, 0x92});  // +1 volume each hit
  for (std::uint16_t k = 61; k < 64; ++k) w.fx(k, CH_SNARE, FX_MULTI_RETRIG, 0);
  for (std::uint16_t h = 48; h < ROWS; h += 2) w.put(h, CH_HIHAT, {note(C, 4), HIHAT, vol(30), 0, 0});
  w.put(48, CH_RISER, {note(C, 3), RISER, vol(36), FX_PORTA_UP, 0x10});
  for (std::uint16_t k = 49; k < 63; ++k) w.fx(k, CH_RISER, FX_PORTA_UP, 0);
  w.put(63, CH_RISER, {KEY_OFF, 0, 0, 0, 0});
  // The tom answers the lead's leading tone, and a slide down on the pads' release.
  w.put(62, CH_TOM, {note(E, 4), TOM, vol(48), FX_EXTENDED, E_NOTE_DELAY | 3});
  for (int i = 0; i < 3; ++i) w.put(62, static_cast<std::uint16_t>(CH_PAD1 + i), {KEY_OFF, 0, 0, FX_PORTA_DOWN, 0x02});
  w.fx(63, CH_CONTROL, FX_BREAK, 0x00);  // on to the next order's first row
}

}  // namespace

XmModule composeTheme() {
  XmModule m;
  m.name = "Level Up";
  m.trackerName = "compose-theme";
  m.channelCount = CHANNEL_COUNT;
  m.flags = 1;  // linear frequency table
  m.defaultTempo = 6;
  m.defaultBpm = 125;
  // Intro, theme, answer, theme, answer, bridge, theme, answer, bridge; then back to the theme.
  m.orders = {0, 1, 2, 1, 2, 3, 1, 2, 3};
  m.restartPosition = 1;

  m.instruments = {bass(), lead(), pad(), pluck(), bell(), kick(), snare(), hihat(),
                   riser(), strings(), tom(), crash()};
  static const char* const credits[] = {
      "Level Up", "the theme of", "Level Editor", "", "written note by note", "by compose-theme,",
      "samples made in", "integer arithmetic", "", "A minor, 125 BPM", "", "intro - theme -",
      "answer - bridge", "and round again", ""};
  for (std::uint8_t i = SAMPLED_INSTRUMENTS; i < TOTAL_INSTRUMENTS; ++i) {
    XmInstrument empty;
    const std::size_t k = i - SAMPLED_INSTRUMENTS;
    if (k < sizeof credits / sizeof credits[0]) empty.name = credits[k];
    m.instruments.push_back(empty);
  }

  for (int p = 0; p < 4; ++p) m.patterns.push_back(xmPattern(m, ROWS));
  intro(m);
  theme(m);
  answer(m);
  bridge(m);
  return m;
}
