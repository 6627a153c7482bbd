// Audio output through SDL2.
//
// PLATFORM: desktops with SDL2 (Linux here).
// LIMITATIONS: SDL's "dummy" and "disk" drivers do not play in real time, so
//   they count as no device; SDL converts to whatever the hardware takes, so
//   the sink always sees frames at the requested rate. A device that SDL
//   reports removed (SDL_AUDIODEVICEREMOVED, seen by an event watch on SDL's
//   audio thread) is lost for good: it is not opened again. SDL says nothing
//   of what is queued, so a frame counts as playing once filled.
// DEPENDENCIES: SDL2's audio subsystem; ALSA's library, when SDL uses it, is
//   looked up at run time only to quiet its own complaints.
#include "platform/audio.h"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <cstring>

namespace plat {

namespace {

constexpr int kDeviceFrames = 512;  // one callback, ~11 ms at 48 kHz

struct State {
    bool sdlAudio = false;  // we hold a reference on SDL's audio subsystem
    SDL_AudioDeviceID device = 0;
    AudioSink sink;
    std::atomic<bool> gone{false};  // the device was removed and the sink told
};
State state;

void callback(void* user, Uint8* stream, int len) {
    const AudioSink& sink = *static_cast<const AudioSink*>(user);
    if (state.gone.load(std::memory_order_acquire)) {  // no sink call after `lost`
        std::memset(stream, 0, static_cast<size_t>(len));
        return;
    }
    const int frames = len / 4;
    sink.fill(sink.user, reinterpret_cast<int16_t*>(stream), frames);
    sink.consumed(sink.user, frames);
}

// SDL tells that an open device has gone (unplugged, its server gone) with an
// event, pushed from its audio thread: a watch sees it there, before any queue.
int watchRemoval(void*, SDL_Event* e) {
    if (e->type == SDL_AUDIODEVICEREMOVED && e->adevice.iscapture == 0 && state.device != 0 &&
        e->adevice.which == state.device && state.sink.lost != nullptr && !state.gone.exchange(true))
        state.sink.lost(state.sink.user, "SDL: the audio device was removed");
    return 1;
}

// ALSA's library prints its own complaints about a missing card on standard
// error; SDL reports the failure too, and that one line is enough.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietAlsaErrors(bool quiet) {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    static void* const alsa = dlopen("libasound.so.2", RTLD_LAZY);
    static const auto set =
        alsa != nullptr ? reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")) : nullptr;
    if (set != nullptr) set(quiet ? ignoreAlsaError : nullptr);
}

std::string openLoudly(int rate) {
    // Someone may have shut SDL down since (SDL_Quit): then our reference is gone.
    if (!state.sdlAudio || SDL_WasInit(SDL_INIT_AUDIO) == 0) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return SDL_GetError();
        state.sdlAudio = true;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    std::string why;
    if (driver == nullptr) {
        why = "no audio driver";
    } else if (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "disk") == 0) {
        why = std::string("the \"") + driver + "\" driver keeps no real time";
    } else {
        SDL_AudioSpec want{};
        SDL_AudioSpec have{};
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = kDeviceFrames;
        want.callback = callback;
        want.userdata = &state.sink;
        // No allowed changes: SDL converts, so the sink counts frames at `rate`.
        state.gone = false;
        state.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (state.device != 0) {
            SDL_AddEventWatch(watchRemoval, nullptr);
            SDL_PauseAudioDevice(state.device, 0);
            return {};
        }
        why = SDL_GetError();
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    state.sdlAudio = false;
    return why;
}

void closeDevice() {
    if (state.device != 0) {
        SDL_CloseAudioDevice(state.device);  // waits for the callback
        SDL_DelEventWatch(watchRemoval, nullptr);
    }
    state.device = 0;
}

const AudioOutputApi api = {
    .name = "sdl2",
    .open =
        [](int rate, const AudioSink& sink) {
            closeDevice();
            state.sink = sink;
            quietAlsaErrors(true);
            std::string why = openLoudly(rate);
            quietAlsaErrors(false);
            return why;
        },
    .close = closeDevice,
};

}  // namespace

const AudioOutputApi* sdl2AudioOutput() { return &api; }

}  // namespace plat
