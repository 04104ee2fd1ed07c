// The XM file writer: header, packed patterns, instruments, sample headers and delta-coded
// sample data, all little-endian. Pairs with xm_writer.h.
#include "tools/xmwriter/xm_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

void put8(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put8(out, value);
  put8(out, value >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value);
  put16(out, value >> 16);
}

// A text field of exactly fieldBytes bytes, cut or zero-padded.
void putText(std::vector<std::uint8_t>& out, const std::string& text, std::size_t fieldBytes) {
  for (std::size_t i = 0; i < fieldBytes; ++i) put8(out, i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
}

// Brings a block that began at `start` to exactly `blockBytes` bytes. A size beyond
// XM_MAX_PADDED_BYTES only goes into its field: the image then ends before the block does.
void fitBlock(std::vector<std::uint8_t>& out, std::size_t start, std::size_t blockBytes) {
  if (blockBytes <= XM_MAX_PADDED_BYTES) out.resize(start + blockBytes, 0);
}

void writeCell(std::vector<std::uint8_t>& out, const XmCell& cell, std::uint8_t coding) {
  const std::uint8_t fields[5] = {cell.note, cell.instrument, cell.volume, cell.effect, cell.effectParam};
  if (coding == XM_CODING_AUTO) {
    std::uint8_t mask = 0x80;
    for (int i = 0; i < 5; ++i)
      if (fields[i] != 0) mask |= static_cast<std::uint8_t>(1u << i);
    coding = (mask == 0x9F && cell.note < 0x80) ? XM_CODING_UNPACKED : mask;
  }
  if (coding & 0x80) {
    put8(out, coding);
    for (int i = 0; i < 5; ++i)
      if (coding & (1u << i)) put8(out, fields[i]);
  } else {
    for (std::uint8_t field : fields) put8(out, field);
  }
}

void writePattern(std::vector<std::uint8_t>& out, const XmPattern& pattern) {
  std::vector<std::uint8_t> packed;
  for (const XmCell& cell : pattern.cells)
    writeCell(packed, cell, cell.coding != XM_CODING_AUTO ? cell.coding : pattern.coding);
  put32(out, pattern.headerBytesField);
  put8(out, pattern.packingType);
  put16(out, pattern.rowCount);
  put16(out, pattern.packedBytesField.value_or(static_cast<std::uint16_t>(packed.size())));
  out.insert(out.end(), packed.begin(), packed.end());
}

void writeEnvelopePoints(std::vector<std::uint8_t>& out, const XmEnvelope& envelope) {
  for (std::size_t i = 0; i < 12; ++i) {
    const XmEnvelopePoint point = i < envelope.points.size() ? envelope.points[i] : XmEnvelopePoint{};
    put16(out, point.tick);
    put16(out, point.value);
  }
}

std::uint8_t envelopePointCount(const XmEnvelope& envelope) {
  return envelope.pointCountField.value_or(static_cast<std::uint8_t>(envelope.points.size()));
}

std::uint32_t bytesPerFrame(const XmSample& sample) { return sample.sixteenBit ? 2 : 1; }

void writeSampleHeader(std::vector<std::uint8_t>& out, const XmSample& sample) {
  const std::size_t start = out.size();
  const std::uint32_t scale = bytesPerFrame(sample);
  put32(out, sample.lengthBytesField.value_or(static_cast<std::uint32_t>(sample.frames.size()) * scale));
  put32(out, sample.loopStartBytesField.value_or(sample.loopStart * scale));
  put32(out, sample.loopLengthBytesField.value_or(sample.loopLength * scale));
  put8(out, sample.volume);
  put8(out, static_cast<std::uint8_t>(sample.finetune));
  put8(out, (sample.loopType & 3u) | (sample.sixteenBit ? 0x10u : 0u));
  put8(out, sample.panning);
  put8(out, static_cast<std::uint8_t>(sample.relativeNote));
  put8(out, 0);
  putText(out, sample.name, 22);
  fitBlock(out, start, 40);
}

void writeInstrument(std::vector<std::uint8_t>& out, const XmInstrument& instrument) {
  const std::size_t start = out.size();
  const bool withSamples = !instrument.samples.empty();
  const std::uint16_t sampleCount =
      instrument.sampleCountField.value_or(static_cast<std::uint16_t>(instrument.samples.size()));
  const std::uint32_t headerBytes = instrument.headerBytesField.value_or(withSamples ? 263 : 33);
  put32(out, headerBytes);
  putText(out, instrument.name, 22);
  put8(out, instrument.type);
  put16(out, sampleCount);
  put32(out, instrument.sampleHeaderBytesField);
  if (withSamples) {
    out.insert(out.end(), instrument.sampleMap.begin(), instrument.sampleMap.end());
    writeEnvelopePoints(out, instrument.volumeEnvelope);
    writeEnvelopePoints(out, instrument.panningEnvelope);
    const XmEnvelope& v = instrument.volumeEnvelope;
    const XmEnvelope& p = instrument.panningEnvelope;
    put8(out, envelopePointCount(v));
    put8(out, envelopePointCount(p));
    put8(out, v.sustainPoint);
    put8(out, v.loopStartPoint);
    put8(out, v.loopEndPoint);
    put8(out, p.sustainPoint);
    put8(out, p.loopStartPoint);
    put8(out, p.loopEndPoint);
    put8(out, v.flags);
    put8(out, p.flags);
    put8(out, instrument.vibratoType);
    put8(out, instrument.vibratoSweep);
    put8(out, instrument.vibratoDepth);
    put8(out, instrument.vibratoRate);
    put16(out, instrument.fadeout);
  }
  fitBlock(out, start, headerBytes);
  for (const XmSample& sample : instrument.samples) writeSampleHeader(out, sample);
  for (const XmSample& sample : instrument.samples) {
    const std::vector<std::uint8_t> data = xmSampleData(sample);
    out.insert(out.end(), data.begin(), data.end());
  }
}

}  // namespace

std::vector<std::uint8_t> xmSampleData(const XmSample& sample) {
  if (sample.rawData) return *sample.rawData;
  std::vector<std::uint8_t> out;
  out.reserve(sample.frames.size() * bytesPerFrame(sample));
  std::uint16_t previous = 0;  // deltas are taken modulo the frame width
  for (std::int16_t frame : sample.frames) {
    const std::uint16_t value = static_cast<std::uint16_t>(frame);
    const std::uint16_t delta = static_cast<std::uint16_t>(value - previous);
    previous = value;
    if (sample.sixteenBit)
      put16(out, delta);
    else
      put8(out, delta);
  }
  return out;
}

std::vector<std::uint8_t> writeXm(const XmModule& module) {
  std::vector<std::uint8_t> out;
  putText(out, "Extended Module: ", 17);
  putText(out, module.name, 20);
  put8(out, 0x1A);
  putText(out, module.trackerName, 20);
  put16(out, module.version);
  put32(out, module.headerBytesField);
  put16(out, module.songLengthField.value_or(static_cast<std::uint16_t>(module.orders.size())));
  put16(out, module.restartPosition);
  put16(out, module.channelCount);
  put16(out, module.patternCountField.value_or(static_cast<std::uint16_t>(module.patterns.size())));
  put16(out, module.instrumentCountField.value_or(static_cast<std::uint16_t>(module.instruments.size())));
  put16(out, module.flags);
  put16(out, module.defaultTempo);
  put16(out, module.defaultBpm);
  for (std::size_t i = 0; i < 256; ++i) put8(out, i < module.orders.size() ? module.orders[i] : 0);
  fitBlock(out, 60, module.headerBytesField);
  for (const XmPattern& pattern : module.patterns) writePattern(out, pattern);
  for (const XmInstrument& instrument : module.instruments) writeInstrument(out, instrument);
  return out;
}

bool saveXm(const XmModule& module, const char* path) {
  const std::vector<std::uint8_t> bytes = writeXm(module);
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

XmPattern xmPattern(const XmModule& module, std::uint16_t rowCount) {
  XmPattern pattern;
  pattern.rowCount = rowCount;
  pattern.cells.resize(static_cast<std::size_t>(rowCount) * module.channelCount);
  return pattern;
}

XmCell& xmCell(XmModule& module, std::size_t pattern, std::uint16_t row, std::uint16_t channel) {
  XmPattern& p = module.patterns.at(pattern);
  const std::size_t cellCount = static_cast<std::size_t>(p.rowCount) * module.channelCount;
  if (p.cells.size() < cellCount) p.cells.resize(cellCount);
  return p.cells.at(static_cast<std::size_t>(row) * module.channelCount + channel);
}

XmSample xmWaveSample(XmWave wave, std::uint32_t frameCount, std::uint32_t periodFrames,
                      bool sixteenBit) {
  XmSample sample;
  sample.sixteenBit = sixteenBit;
  sample.frames.resize(frameCount);
  const double amplitude = sixteenBit ? 32767.0 : 127.0;
  const std::uint32_t period = std::max<std::uint32_t>(periodFrames, 1);
  std::uint32_t noise = 0x12345678u;  // xorshift32 state
  for (std::uint32_t n = 0; n < frameCount; ++n) {
    const double phase = static_cast<double>(n % period) / period;  // 0..1
    double value = 0.0;
    switch (wave) {
      case XmWave::Sine: value = std::sin(phase * 6.283185307179586); break;
      case XmWave::Square: value = phase < 0.5 ? 1.0 : -1.0; break;
      case XmWave::Saw: value = 2.0 * phase - 1.0; break;
      case XmWave::Noise:
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        value = static_cast<double>(noise) / 2147483648.0 - 1.0;
        break;
    }
    sample.frames[n] = static_cast<std::int16_t>(std::lround(value * amplitude));
  }
  return sample;
}

XmInstrument xmInstrument(XmSample sample) {
  XmInstrument instrument;
  instrument.samples.push_back(std::move(sample));
  instrument.sampleMap.fill(0);
  return instrument;
}
