// Placeholder until the audio output lands: the editor runs without music.
#include "audio/music.h"

void startMusic(const ModuleImage&) {}
void stopMusic() {}
