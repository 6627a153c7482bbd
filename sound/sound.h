// sound.h - the music stream.
//
// Four calls in the shape of the classic stream API the demo was written
// against: initialise the output, open a stream, play it, and read its play
// position in milliseconds - the demo's only clock. Decoding is libmpg123,
// output is SDL2 audio at the initialised rate. The position is what is being
// heard: samples the device has consumed, interpolated between device callbacks
// on a monotonic clock, never going backwards.
//
// Nothing here stops the show: without an audio device the streams play
// silently against the monotonic clock; a missing or undecodable file gives a
// silent stream whose clock still runs; a stream that ends keeps its clock
// running. Each of these says so in one line on standard error.
#pragma once

struct FSOUND_STREAM;

constexpr unsigned int FSOUND_LOOP_OFF = 1;

// Starts the output. A second call stops and releases every stream of the first.
// Returns false only if not even the silent clock can run.
signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int flags);
// Never null after a successful FSOUND_Init.
FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int offset, int length);
// Returns the channel the stream plays on, or -1.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
// Play position in milliseconds from 0; 0 before play and for a null stream.
int FSOUND_Stream_GetTime(FSOUND_STREAM* stream);

// For tests and the capture tool: when set, every FSOUND_Stream_GetTime returns
// clock(user) instead of the stream's position, and FSOUND_Init opens no device.
using SoundClockOverride = int (*)(void* user);
void soundSetClockOverride(SoundClockOverride clock, void* user);
