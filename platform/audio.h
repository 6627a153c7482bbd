// audio.h - the seams under the music stream: a stream engine, and the audio
// output and MP3 decoder the desktop's engine plays through.
//
// The sound layer (sound/) owns the stream rules, and on the desktop the
// mixer and the play clock; what it needs from the system is small enough to
// be tables of functions, filled by one backend each per platform and chosen
// by the executable:
//
// - an output: a pull device for interleaved stereo S16 at a given rate. Its
//   thread asks the sound layer for the next frames (`fill`) and tells it how
//   many frames the device has played (`consumed`), from which the play clock
//   is built. The headless default opens nothing, so every stream runs on the
//   monotonic clock in silence.
// - a decoder: opens an MP3 file, gives PCM as stereo S16 at the mix rate
//   (resampled and with mono doubled as needed, the encoder's delay and
//   padding trimmed), and tells the length when it knows it. The headless
//   default decodes nothing, so every stream is silent.
//
// Neither seam calls application code except through the sink it was handed.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// What an output plays from. Every call comes from the device's own thread.
struct AudioSink {
    void (*fill)(void* user, int16_t* out, int frames) = nullptr;  // the next `frames` frames
    void (*consumed)(void* user, int frames) = nullptr;            // frames the device has taken
    void* user = nullptr;
    // For an output that knows what is queued in front of the listener (in
    // itself, the system and the device): of all frames `consumed` so far,
    // `frames` are not heard yet, as of the moment of the call. Such an output
    // calls it once with 0 before its first `fill`, and then after each
    // `consumed` and whenever it learns more; the play clock is then the
    // frame being heard. Without it a frame counts as playing once consumed.
    void (*queued)(void* user, int64_t frames) = nullptr;
    // The device has stopped for good (removed, its server gone, a call that
    // failed): `why` is one line for standard error. No sink call follows it.
    // The play clock then carries on in real time from the last frame heard,
    // in silence, so the show still ends on time.
    void (*lost)(void* user, const char* why) = nullptr;
};

struct AudioOutputApi {
    const char* name;
    // Starts the device at `rate` frames per second, stereo S16. Returns empty
    // once it runs in real time; otherwise why not (no device, a driver that
    // keeps no real time), with nothing left open.
    std::string (*open)(int rate, const AudioSink& sink);
    // Stops the device; no sink call is made after it returns.
    void (*close)();
};

struct Mp3Stream;  // one open file, owned by the decoder

struct Mp3DecoderApi {
    const char* name;
    // Opens `path` ("\" or "/" between folders) for decoding at `rate`; null
    // and the reason in *why when it cannot. A file that is not a regular
    // file is refused without blocking.
    Mp3Stream* (*open)(const char* path, int rate, std::string* why);
    // Decodes up to `frames` frames into `out`. Returns the frames written; 0
    // at the end, -1 on a decoding error (reason in *why).
    long (*read)(Mp3Stream* stream, int16_t* out, long frames, std::string* why);
    // Frames the whole file decodes to at the rate; 0 when it does not tell.
    int64_t (*length)(Mp3Stream* stream);
    void (*close)(Mp3Stream* stream);
};

// A stream engine: decodes, plays and times the music streams that the sound
// layer's rules hand it (sound/fsound.cpp keeps the rules: argument checks,
// handles, channels, what a second start does, the clock override). Each
// build has its own: the desktop's is the sound layer's mixer on the output
// and decoder above (ring, decoder thread, play clock), the web page's the
// browser's Web Audio. All calls come under the sound layer's lock.
struct EngineStream;  // one stream, owned by the engine for the process's life

struct StreamEngineApi {
    const char* name;
    // A new start at `rate` with `channels` channels: every earlier stream
    // stops for good, its clock held, its music released. The output opens
    // unless `withOutput` is false (a replaced clock needs none).
    void (*start)(int rate, int channels, bool withOutput);
    // Never null: a stream whose file (null: none) cannot be played runs
    // silent on the monotonic clock once played, after one line saying why.
    EngineStream* (*open)(const char* path);
    // Starts the stream on the free `channel`; its clock starts from 0.
    void (*play)(EngineStream* stream, int channel);
    // Takes the stream off its channel for good, its clock held where it is.
    void (*stop)(EngineStream* stream);
    int (*positionMs)(EngineStream* stream);
    int (*lengthMs)(EngineStream* stream);  // 0 when silent or unknown
    // Mixes the next frames offline, when no output is open (false while one is).
    bool (*mix)(int16_t* out, int frames);
};

const StreamEngineApi* streamEngine();
void setStreamEngine(const StreamEngineApi* api);  // null: the build's own (tests set a fake)

const AudioOutputApi& audioOutput();
void setAudioOutput(const AudioOutputApi* api);  // null: the silent default
const Mp3DecoderApi& mp3Decoder();
void setMp3Decoder(const Mp3DecoderApi* api);  // null: the default that decodes nothing

// Raises the calling thread's priority as far as the system grants it
// unasked, for a thread that feeds sound (a decoder) and must not starve
// beside the renderer. Leaves it as it is where nothing is granted.
void raiseSoundThreadPriority();

// An output that opens `first` and, when that cannot start, `second`.
const AudioOutputApi* fallbackAudioOutput(const AudioOutputApi* first, const AudioOutputApi* second);

// Backends built into this program (each only where its library is linked).
const AudioOutputApi* sdl2AudioOutput();
const AudioOutputApi* pulseAudioOutput();
const Mp3DecoderApi* mpg123Decoder();
const AudioOutputApi* wasapiAudioOutput();
const AudioOutputApi* waveOutAudioOutput();
const Mp3DecoderApi* acmDecoder();
const StreamEngineApi* webStreamEngine();

}  // namespace plat
