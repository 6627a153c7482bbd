// audio.cpp - the chosen audio output and MP3 decoder, silent until a backend is chosen.
#include "platform/audio.h"

namespace plat {

namespace {

// Without a device the sound layer keeps time on the monotonic clock.
const AudioOutputApi silentOutput = {
    .name = "silent",
    .open = [](int, const AudioSink&) { return std::string("no audio output in this program"); },
    .close = [] {},
};

const Mp3DecoderApi noDecoder = {
    .name = "none",
    .open = [](const char*, int, std::string* why) -> Mp3Stream* {
        if (why) *why = "no MP3 decoder in this program";
        return nullptr;
    },
    .read = [](Mp3Stream*, int16_t*, long, std::string*) { return -1L; },
    .length = [](Mp3Stream*) { return int64_t{0}; },
    .close = [](Mp3Stream*) {},
};

struct State {
    const AudioOutputApi* output = &silentOutput;
    const Mp3DecoderApi* decoder = &noDecoder;
    const StreamEngineApi* engine = nullptr;
};
State state;

}  // namespace

const StreamEngineApi* streamEngine() { return state.engine; }
void setStreamEngine(const StreamEngineApi* api) { state.engine = api; }
const AudioOutputApi& audioOutput() { return *state.output; }
void setAudioOutput(const AudioOutputApi* api) { state.output = api ? api : &silentOutput; }
const Mp3DecoderApi& mp3Decoder() { return *state.decoder; }
void setMp3Decoder(const Mp3DecoderApi* api) { state.decoder = api ? api : &noDecoder; }

}  // namespace plat
