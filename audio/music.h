// The music player's two entry points, hooked into the dialog: startMusic at the head of
// onInitDialog, stopMusic at the head of onClose. Both run on the dialog's thread.
// The environment variable LEVEL_EDITOR_AUDIO=silent plays on the silent device (no sound, the
// real pace); otherwise the platform's device is used, or the silent one when it does not open.
#pragma once

#include "player/module.h"

// Loads the image, primes the ring and starts the device and the playback thread. A refused
// image, a missing device or a failed allocation mean no music; nothing is reported.
void startMusic(const ModuleImage& image);

// Stops the thread, closes the device and releases the buffers and the module's records.
void stopMusic();
