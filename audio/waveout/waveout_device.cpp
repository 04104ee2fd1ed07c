// The Win32 wave-out device: one looping header over the whole ring, no callbacks, the
// position read in bytes. Pairs with device.h.
#include <windows.h>
#include <mmsystem.h>

#include "audio/device.h"

namespace {

HWAVEOUT device = nullptr;
WAVEHDR header = {};
// The driver's byte count is 32 bits wide and wraps after 2^32 bytes (6 h 45 min at 176400
// bytes per second); 2^32 is no whole number of rings, so a raw wrap would throw the block
// position 40 blocks off. These two extend the count to 64 bits on the playback thread.
DWORD lastRawBytes = 0;
std::uint64_t wrappedBytes = 0;

bool waveOutDeviceOpen(const WaveFormat& format) {
  WAVEFORMATEX wave = {};
  wave.wFormatTag = format.formatTag;
  wave.nChannels = format.channels;
  wave.nSamplesPerSec = format.samplesPerSec;
  wave.nAvgBytesPerSec = format.avgBytesPerSec;
  wave.nBlockAlign = format.blockAlign;
  wave.wBitsPerSample = format.bitsPerSample;
  wave.cbSize = format.extraSize;
  if (waveOutOpen(&device, WAVE_MAPPER, &wave, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    device = nullptr;
    return false;
  }
  return true;
}

// One header over the whole ring, both loop flags and a loop count of all ones: the driver
// replays the ring until it is reset.
bool waveOutDeviceStart(const std::uint8_t* ring, std::uint32_t ringBytes) {
  header = WAVEHDR{};
  header.lpData = reinterpret_cast<LPSTR>(const_cast<std::uint8_t*>(ring));
  header.dwBufferLength = ringBytes;
  header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  header.dwLoops = 0xFFFFFFFFu;
  if (waveOutPrepareHeader(device, &header, sizeof(header)) != MMSYSERR_NOERROR) return false;
  lastRawBytes = 0;
  wrappedBytes = 0;
  return waveOutWrite(device, &header, sizeof(header)) == MMSYSERR_NOERROR;
}

bool waveOutDevicePosition(std::uint64_t* bytesPlayed) {
  MMTIME time = {};
  time.wType = TIME_BYTES;
  if (waveOutGetPosition(device, &time, sizeof(time)) != MMSYSERR_NOERROR || time.wType != TIME_BYTES) {
    return false;
  }
  // Only a fall of more than half the range is a wrap; a driver that steps back a little
  // is taken as it says.
  if (time.u.cb < lastRawBytes && lastRawBytes - time.u.cb > 0x80000000u) wrappedBytes += 0x100000000ull;
  lastRawBytes = time.u.cb;
  *bytesPlayed = wrappedBytes + time.u.cb;
  return true;
}

void waveOutDeviceStop() {
  if ((header.dwFlags & WHDR_PREPARED) == 0) return;
  waveOutReset(device);
  waveOutUnprepareHeader(device, &header, sizeof(header));
  header.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
}

void waveOutDeviceClose() {
  waveOutClose(device);
  device = nullptr;
}

}  // namespace

const AudioDevice waveOutDevice = {
    "waveout", waveOutDeviceOpen, waveOutDeviceStart, waveOutDevicePosition, waveOutDeviceStop, waveOutDeviceClose,
};

const AudioDevice& platformAudioDevice() { return waveOutDevice; }
