// Row processing: a row's first tick turns each cell into channel state (note, instrument,
// volume column, key-off, envelopes, first-tick effects) and ends with the voice update.
// Pairs with player.h and rows.h.
//
// Index
//   [SECTION] First-tick effects
//   [SECTION] processRow

#include "player/rows.h"

//-----------------------------------------------------------------------------
// [SECTION] First-tick effects
//-----------------------------------------------------------------------------

namespace {

// The channel's period, volume and pan as they stood before the row, for EDy.
struct BeforeRow {
  std::int32_t period;
  std::int32_t volume;
  std::int32_t pan;
};

// Stores value in memory unless it is 0, so that a zero parameter reuses the last one.
void remember(std::uint8_t& memory, std::uint8_t value) {
  if (value != 0) memory = value;
}

// Lxy: put the volume envelope at tick p. This replaces the step that the row already took.
void setVolumeEnvelopePosition(EnvelopeState& state, const Envelope& envelope, std::int32_t p) {
  // The loader keeps pointCount within the 12 stored points; the clamp keeps a bad count
  // from reading past them. An envelope that is on has at least two points.
  const int n = envelope.pointCount > MAX_ENVELOPE_POINTS ? MAX_ENVELOPE_POINTS
                                                           : envelope.pointCount;
  if (n == 0) return;
  int i = 0;
  while (i < n - 1 && p > envelope.points[i + 1].tick) ++i;
  if (i >= n - 1) {
    state.level = envelopePointValue(envelope.points[n - 1]);
    state.done = 1;
    state.point = i;
    return;
  }
  const std::int32_t x0 = envelope.points[i].tick;
  const std::int32_t y0 = envelopePointValue(envelope.points[i]);
  const std::int32_t x1 = envelope.points[i + 1].tick;
  const std::int32_t y1 = envelopePointValue(envelope.points[i + 1]);
  state.done = 0;
  state.tick = p;
  // 16.16 fixed point, the step truncated toward zero as the envelope step does it. The
  // products are formed in 64 bits: values above 64 would overflow 32.
  state.step = x1 == x0 ? 0
                        : static_cast<std::int32_t>(
                              (static_cast<std::int64_t>(y1 - y0) * 65536) / (x1 - x0));
  state.levelFixed = static_cast<std::int32_t>(
      static_cast<std::int64_t>(y0) * 65536 +
      static_cast<std::int64_t>(p - x0) * state.step);
  state.level = envelopeLevel(state.levelFixed);
  state.point = i + 1;
}

void firstTickExtended(Channel& channel, Sample& sample, std::uint8_t xy,
                       const BeforeRow& before) {
  const std::uint8_t y = xy & 0x0F;
  switch (xy >> 4) {
    case fx::E_FINE_PORTA_UP:
      remember(channel.finePortaUpSpeed, y);
      channel.period = slideWithoutLimit(channel.period, -4 * channel.finePortaUpSpeed);
      break;
    case fx::E_FINE_PORTA_DOWN:
      remember(channel.finePortaDownSpeed, y);
      channel.period = slideWithoutLimit(channel.period, 4 * channel.finePortaDownSpeed);
      break;
    case fx::E_VIBRATO_WAVEFORM:
      channel.waveControl = static_cast<std::uint8_t>((channel.waveControl & 0xF0) | y);
      break;
    case fx::E_SET_FINETUNE:
      // The sample record is shared: later notes from it, in any channel, use the new
      // finetune; this row's period is already worked out. emptySample stays all zero.
      if (&sample != &playerContext->emptySample) sample.finetune = static_cast<std::int8_t>(y);
      break;
    case fx::E_PATTERN_LOOP:
      effectPatternLoop(channel, y);
      break;
    case fx::E_TREMOLO_WAVEFORM:
      channel.waveControl = static_cast<std::uint8_t>((channel.waveControl & 0x0F) | (y << 4));
      break;
    case fx::E_SET_PANNING:
      channel.pan = 16 * y;
      channel.updateFlags |= UPDATE_PANNING;
      break;
    case fx::E_FINE_VOLUME_UP:
      remember(channel.fineVolumeSlideSpeed, y);
      channel.volume += channel.fineVolumeSlideSpeed;
      if (channel.volume > 64) channel.volume = 64;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case fx::E_FINE_VOLUME_DOWN:
      remember(channel.fineVolumeSlideSpeed, y);
      channel.volume -= channel.fineVolumeSlideSpeed;
      if (channel.volume < 0) channel.volume = 0;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case fx::E_NOTE_DELAY:
      // The note waits for tick y; until then the voice keeps what it had. An instrument in
      // the cell has still reset the envelopes and the fade-out.
      channel.period = before.period;
      channel.volume = before.volume;
      channel.pan = before.pan;
      clearFlags(channel, UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_TRIGGER);
      break;
    case fx::E_PATTERN_DELAY:
      effectPatternDelay(y);
      break;
    default:  // E0, E3 glissando, E9 retrigger, EC note cut, EF: nothing on the first tick
      break;
  }
}

void firstTickEffect(Channel& channel, const ChannelSelection& selection, const NoteCell& cell,
                     const BeforeRow& before) {
  const std::uint8_t xy = cell.effectParam;
  const std::uint8_t x = xy >> 4;
  const std::uint8_t y = xy & 0x0F;
  switch (cell.effect) {
    case fx::PORTA_UP:
      remember(channel.portaUpSpeed, xy);
      break;
    case fx::PORTA_DOWN:
      remember(channel.portaDownSpeed, xy);
      break;
    case fx::TONE_PORTA:
      remember(channel.portaSpeed, xy);
      channel.portaTarget = channel.notePeriod;
      clearFlags(channel, UPDATE_TRIGGER | UPDATE_FREQUENCY);
      break;
    case fx::VIBRATO:
      remember(channel.vibratoSpeed, x);
      remember(channel.vibratoDepth, y);
      applyVibrato(channel);  // the phase advances on the later ticks only
      break;
    case fx::TONE_PORTA_VOLUME_SLIDE:
      channel.portaTarget = channel.notePeriod;
      remember(channel.volumeSlideSpeed, xy);
      clearFlags(channel, UPDATE_TRIGGER | UPDATE_FREQUENCY);
      break;
    case fx::VIBRATO_VOLUME_SLIDE:
      remember(channel.volumeSlideSpeed, xy);
      applyVibrato(channel);
      break;
    case fx::TREMOLO:
      remember(channel.tremoloSpeed, x);
      remember(channel.tremoloDepth, y);
      break;
    case fx::SET_PANNING:
      channel.pan = xy;
      channel.updateFlags |= UPDATE_PANNING;
      break;
    case fx::SAMPLE_OFFSET: {
      if (xy != 0) channel.sampleOffset = xy;
      // In frames; at most 255 x 256, so no overflow.
      const std::uint32_t offset = static_cast<std::uint32_t>(channel.sampleOffset) * 256u;
      const std::uint64_t loopEnd =
          static_cast<std::uint64_t>(selection.sample->loopStart) + selection.sample->loopLength;
      if (offset >= loopEnd) {
        // Past the loop end the note does not start: the voice is rewound to frame 0 and
        // plays on with the sample it has.
        clearFlags(channel, UPDATE_TRIGGER);
        channel.updateFlags |= UPDATE_REWIND;
      } else if (channel.voice != nullptr) {
        // Waits on the voice for its next trigger, on this row or a later one.
        channel.voice->startOffset = offset;
      }
      break;
    }
    case fx::VOLUME_SLIDE:
      remember(channel.volumeSlideSpeed, xy);
      break;
    case fx::POSITION_JUMP:
      effectPositionJump(xy);
      break;
    case fx::SET_VOLUME:  // not limited to 64: C50 gives 80
      channel.volume = xy;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case fx::PATTERN_BREAK:
      effectPatternBreak(xy);
      break;
    case fx::EXTENDED:
      firstTickExtended(channel, *selection.sample, xy, before);
      break;
    case fx::SPEED_TEMPO:
      effectSetSpeedOrTempo(xy);
      break;
    case fx::SET_GLOBAL_VOLUME:
      effectSetGlobalVolume(channel, xy);
      break;
    case fx::GLOBAL_VOLUME_SLIDE:
      effectGlobalVolumeSlideMemory(xy);
      break;
    case fx::SET_ENVELOPE_POSITION:
      if (selection.instrument->volumeEnvelope.flags & ENVELOPE_ON) {
        setVolumeEnvelopePosition(channel.volumeEnvelope, selection.instrument->volumeEnvelope,
                                  xy);
      }
      break;
    case fx::PANNING_SLIDE:
      if (xy != 0) {
        channel.panSlideSpeed = xy;
        channel.updateFlags |= UPDATE_PANNING;
      }
      break;
    case fx::MULTI_RETRIGGER:
      if (xy != 0) {
        channel.retrigVolumeMode = x;
        channel.retrigInterval = y;
      }
      break;
    case fx::TREMOR:
      if (xy != 0) {
        channel.tremorOnTicks = static_cast<std::uint8_t>(x + 1);
        channel.tremorOffTicks = static_cast<std::uint8_t>(y + 1);
      }
      applyTremor(channel);  // the count runs on every tick of a tremor row
      break;
    case fx::EXTRA_FINE_PORTA:
      // One period unit per step, a quarter of what E1y/E2y move.
      if (x == 1) {
        remember(channel.extraFinePortaUp, y);
        channel.period = slideWithoutLimit(channel.period, -channel.extraFinePortaUp);
      } else if (x == 2) {
        remember(channel.extraFinePortaDown, y);
        channel.period = slideWithoutLimit(channel.period, channel.extraFinePortaDown);
      }
      break;
    default:  // 0 arpeggio, K (taken as key-off earlier), and every effect without a meaning
      break;
  }
}

// A cell note that starts or changes a note: 1..96. 0 is none, 255 key-off, and 97..254 do
// not occur in a well-formed module (the loader turns 97 into a key-off); they are taken as
// no note, so an instrument beside one acts as an instrument without a note.
bool isPlayableNote(std::uint8_t cellNote) { return cellNote >= 1 && cellNote <= NOTE_MAP_SIZE; }

void processChannelRow(Channel& channel, const NoteCell& cell) {
  const bool tonePorta = cell.effect == fx::TONE_PORTA || cell.effect == fx::TONE_PORTA_VOLUME_SLIDE;
  const bool hasNote = isPlayableNote(cell.note);

  // Tone portamento slides the playing note toward the new one: instrument and note stay.
  if (cell.instrument != 0 && !tonePorta) {
    channel.instrumentIndex = static_cast<std::uint8_t>(cell.instrument - 1);
  }
  if (hasNote && !tonePorta) channel.note = static_cast<std::uint8_t>(cell.note - 1);
  const ChannelSelection selection = selectInstrumentAndSample(channel);
  const Instrument& instrument = *selection.instrument;
  const Sample& sample = *selection.sample;

  const BeforeRow before{channel.period, channel.volume, channel.pan};
  // A tremolo that has ended leaves its last offset in the volume.
  if (channel.effect == fx::TREMOLO && cell.effect != fx::TREMOLO) {
    channel.volume += channel.volumeDelta;
  }
  channel.volumeDelta = 0;
  channel.effect = cell.effect;
  channel.updateFlags = 0;

  if (hasNote) {
    // Taken from the cell's note even under tone portamento, where it becomes the target.
    channel.realNote = static_cast<std::uint8_t>(sample.relativeNote + cell.note - 1);
    channel.notePeriod = notePeriodOf(channel.realNote, sample.finetune);
    if (!tonePorta) channel.period = channel.notePeriod;
    channel.updateFlags = UPDATE_TRIGGER;
  }
  channel.periodDelta = 0;
  channel.updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;

  if (cell.instrument != 0) resetInstrumentState(channel, sample);
  if (cell.volume != 0) applyVolumeColumn(channel, cell.volume);
  if (cell.note == NOTE_KEY_OFF || cell.effect == fx::KEY_OFF) channel.keyOff = 1;

  if (instrument.volumeEnvelope.flags & ENVELOPE_ON) {
    if (!channel.volumeEnvelope.done) {
      stepEnvelope(channel, channel.volumeEnvelope, instrument.volumeEnvelope, UPDATE_VOLUME);
    }
  } else if (channel.keyOff) {
    channel.volumeEnvelope.level = 0;  // a released note without a volume envelope stops at once
  }
  if ((instrument.panningEnvelope.flags & ENVELOPE_ON) && !channel.panningEnvelope.done) {
    stepEnvelope(channel, channel.panningEnvelope, instrument.panningEnvelope, UPDATE_PANNING);
  }
  // Every first tick while the key is off, not only on the key-off row.
  if (channel.keyOff) stepFadeout(channel, instrument);

  firstTickEffect(channel, selection, cell, before);

  applyAutoVibrato(channel, instrument);
  updateVoice(channel, sample);
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] processRow
//-----------------------------------------------------------------------------

void processRow() {
  PlayerContext& context = *playerContext;
  context.player.nextOrder = -1;
  context.player.nextRow = -1;
  context.jumpSeen = false;
  const NoteCell* cells = currentRowCells();
  if (cells == nullptr) return;
  const int channelCount = activeChannelCount();
  for (int c = 0; c < channelCount; ++c) processChannelRow(context.channels[c], cells[c]);
}
