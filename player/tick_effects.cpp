// Per-tick effects: on every tick after a row's first, each channel steps its envelopes and
// fade-out, repeats the volume column's continuous commands and runs its effect (slides,
// portamentos, arpeggio, vibrato, tremolo, tremor, retriggers, note cut, note delay), then
// ends with the auto-vibrato and the voice update. Pairs with row.cpp, which stores the
// effect memories on the first tick.

#include "player/rows.h"

namespace {

// The vibrato phase runs over -32..31, one cycle in 64 units: 31 + 15 wraps to -18.
void advanceVibratoPhase(Channel& channel) {
  std::int32_t pos = static_cast<std::int8_t>(
      static_cast<std::uint8_t>(channel.vibratoPos + channel.vibratoSpeed));
  if (pos > 31) pos -= 64;
  channel.vibratoPos = static_cast<std::int8_t>(pos);
}

// A, 5 and 6 share volumeSlideSpeed; the high nibble wins when both are set.
void volumeSlide(Channel& channel) {
  const std::int32_t up = channel.volumeSlideSpeed >> 4;
  const std::int32_t down = channel.volumeSlideSpeed & 0x0F;
  if (up != 0) {
    channel.volume = channel.volume + up > 64 ? 64 : channel.volume + up;
  } else {
    channel.volume = channel.volume - down < 0 ? 0 : channel.volume - down;
  }
  channel.updateFlags |= UPDATE_VOLUME;
}

void volumeColumnTick(Channel& channel, std::uint8_t volumeByte) {
  const std::int32_t v = volumeByte & 0x0F;
  switch (volumeByte >> 4) {
    case 0x6:
      channel.volume = channel.volume - v < 0 ? 0 : channel.volume - v;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case 0x7:
      channel.volume = channel.volume + v > 64 ? 64 : channel.volume + v;
      channel.updateFlags |= UPDATE_VOLUME;
      break;
    case 0xB:
      channel.vibratoDepth = static_cast<std::uint8_t>(v);
      applyVibrato(channel);
      advanceVibratoPhase(channel);
      break;
    case 0xD:
      slidePanning(channel, -v);
      break;
    case 0xE:
      slidePanning(channel, v);
      break;
    case 0xF:
      applyTonePortamento(channel);
      break;
    default:  // the others act on the first tick only
      break;
  }
}

// Ticks 1, 4, 7, ... add x semitones, ticks 2, 5, 8, ... add y; ticks 0, 3, 6, ... leave the
// offset as it is. The linear offset raises the pitch when positive; the Amiga one is the
// (negative) difference of the two periods.
void arpeggio(Channel& channel, const Sample& sample, std::uint8_t xy) {
  const PlayerContext& c = *playerContext;
  std::int32_t n = -1;
  switch (c.player.tick % 3) {
    case 1: n = xy >> 4; break;
    case 2: n = xy & 0x0F; break;
    default: break;
  }
  if (n >= 0) {
    if (c.song.flags & 1) {
      channel.periodDelta = n * 64;
    } else {
      channel.periodDelta =
          amigaPeriod(static_cast<std::uint8_t>(channel.realNote + n), sample.finetune) -
          amigaPeriod(channel.realNote, sample.finetune);
    }
  }
  channel.updateFlags |= UPDATE_FREQUENCY;
}

// Multi-retrigger volume change by retrigVolumeMode 0..15. Mode 0 leaves the volume and its
// flag alone; 6 and 14 divide truncating toward zero (64 -> 42, 50 -> 75 -> capped 64).
void retriggerVolume(Channel& channel) {
  std::int32_t volume = channel.volume;
  switch (channel.retrigVolumeMode & 0x0F) {
    case 0: return;
    case 1: volume -= 1; break;
    case 2: volume -= 2; break;
    case 3: volume -= 4; break;
    case 4: volume -= 8; break;
    case 5: volume -= 16; break;
    case 6: volume = (volume * 2) / 3; break;
    case 7: volume >>= 1; break;
    case 8: break;
    case 9: volume += 1; break;
    case 10: volume += 2; break;
    case 11: volume += 4; break;
    case 12: volume += 8; break;
    case 13: volume += 16; break;
    case 14: volume = (volume * 3) / 2; break;
    case 15: volume *= 2; break;
  }
  if (volume > 64) volume = 64;
  if (volume < 0) volume = 0;
  channel.volume = volume;
  channel.updateFlags |= UPDATE_VOLUME;
}

// EDy: the row's note starts on tick y; on every other tick the voice only follows the period.
void noteDelay(Channel& channel, const Sample& sample, const NoteCell& cell, std::uint8_t y) {
  if (playerContext->player.tick == y) {
    // The envelopes were stepped before this reset, so the note starts at levels 64 and 32.
    resetInstrumentState(channel, sample);
    channel.period = channel.notePeriod;
    channel.updateFlags |= UPDATE_FREQUENCY;
    if (cell.volume != 0) applyVolumeColumn(channel, cell.volume);
    channel.updateFlags |= UPDATE_TRIGGER;
  } else {
    clearFlags(channel, UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_TRIGGER);
  }
}

void extendedTick(Channel& channel, const Sample& sample, const NoteCell& cell) {
  const std::uint8_t y = cell.effectParam & 0x0F;
  const Player& player = playerContext->player;
  switch (cell.effectParam >> 4) {
    case fx::E_RETRIGGER:
      if (y != 0 && player.tick % y == 0) {
        channel.updateFlags |= UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_FREQUENCY;
      }
      break;
    case fx::E_NOTE_CUT:
      if (player.tick == y) {
        channel.volume = 0;
        channel.updateFlags |= UPDATE_VOLUME;
      }
      break;
    case fx::E_NOTE_DELAY:
      noteDelay(channel, sample, cell, y);
      break;
    default:
      break;
  }
}

void effectTick(Channel& channel, const Sample& sample, const NoteCell& cell) {
  const std::uint8_t xy = cell.effectParam;
  Player& player = playerContext->player;
  switch (cell.effect) {
    case fx::ARPEGGIO:
      if (xy != 0) arpeggio(channel, sample, xy);
      break;
    case fx::PORTA_UP:
      // Period 56 is as high as a slide up goes (about 509 kHz in the linear table, 256 kHz
      // in the Amiga one); a slide down has no limit.
      channel.period = slideWithoutLimit(channel.period, -4 * channel.portaUpSpeed);
      if (channel.period < 56) channel.period = 56;
      channel.periodDelta = 0;
      channel.updateFlags |= UPDATE_FREQUENCY;
      break;
    case fx::PORTA_DOWN:
      channel.period = slideWithoutLimit(channel.period, 4 * channel.portaDownSpeed);
      channel.periodDelta = 0;
      channel.updateFlags |= UPDATE_FREQUENCY;
      break;
    case fx::TONE_PORTA:
      channel.periodDelta = 0;
      applyTonePortamento(channel);
      break;
    case fx::VIBRATO:
      applyVibrato(channel);
      advanceVibratoPhase(channel);
      break;
    case fx::TONE_PORTA_VOLUME_SLIDE:
      channel.periodDelta = 0;
      applyTonePortamento(channel);
      volumeSlide(channel);
      break;
    case fx::VIBRATO_VOLUME_SLIDE:
      applyVibrato(channel);
      advanceVibratoPhase(channel);
      volumeSlide(channel);
      break;
    case fx::TREMOLO:
      applyTremolo(channel);
      break;
    case fx::VOLUME_SLIDE:
      volumeSlide(channel);
      break;
    case fx::EXTENDED:
      extendedTick(channel, sample, cell);
      break;
    case fx::GLOBAL_VOLUME_SLIDE: {
      // One memory for the whole player; raises no flag, so voices take the new global
      // volume at their next volume update.
      const std::int32_t up = player.globalVolumeSlideSpeed >> 4;
      const std::int32_t down = player.globalVolumeSlideSpeed & 0x0F;
      if (up != 0) {
        player.globalVolume = player.globalVolume + up > 64 ? 64 : player.globalVolume + up;
      } else if (down != 0) {
        player.globalVolume = player.globalVolume - down < 0 ? 0 : player.globalVolume - down;
      }
      break;
    }
    case fx::PANNING_SLIDE: {
      const std::int32_t right = channel.panSlideSpeed >> 4;
      const std::int32_t left = channel.panSlideSpeed & 0x0F;
      if (right != 0) {
        channel.pan = channel.pan + right > 255 ? 255 : channel.pan + right;
      } else if (left != 0) {
        channel.pan = channel.pan - left < 0 ? 0 : channel.pan - left;
      }
      channel.updateFlags |= UPDATE_PANNING;
      break;
    }
    case fx::MULTI_RETRIGGER:
      if (channel.retrigInterval != 0 && player.tick % channel.retrigInterval == 0) {
        retriggerVolume(channel);
        channel.updateFlags |= UPDATE_TRIGGER;
      }
      break;
    case fx::TREMOR:
      applyTremor(channel);
      break;
    default:  // 8, 9, B, C, D, F, G, K, L, X and the rest act on the first tick or not at all
      break;
  }
}

void channelTick(Channel& channel, const NoteCell& cell) {
  const ChannelSelection selection = selectInstrumentAndSample(channel);
  const Instrument& instrument = *selection.instrument;
  const Sample& sample = *selection.sample;

  channel.volumeDelta = 0;
  channel.periodDelta = 0;
  channel.updateFlags = 0;

  if ((instrument.volumeEnvelope.flags & ENVELOPE_ON) && !channel.volumeEnvelope.done) {
    stepEnvelope(channel, channel.volumeEnvelope, instrument.volumeEnvelope, UPDATE_VOLUME);
  }
  if ((instrument.panningEnvelope.flags & ENVELOPE_ON) && !channel.panningEnvelope.done) {
    stepEnvelope(channel, channel.panningEnvelope, instrument.panningEnvelope, UPDATE_PANNING);
  }
  if (channel.keyOff) stepFadeout(channel, instrument);

  // Before the effect, so an effect that sets periodDelta replaces a volume-column vibrato.
  volumeColumnTick(channel, cell.volume);
  effectTick(channel, sample, cell);

  applyAutoVibrato(channel, instrument);
  updateVoice(channel, sample);
}

}  // namespace

void processTickEffects() {
  const NoteCell* cells = currentRowCells();
  if (cells == nullptr) return;
  const int channelCount = activeChannelCount();
  Channel* const channels = playerContext->channels;
  for (int c = 0; c < channelCount; ++c) channelTick(channels[c], cells[c]);
}
