// The MP3 path as a stream opens it: the platform's decoder on a scratch file,
// decoded to the end at the show's mix rate as the stream's decoder thread
// would, then closed.
#include "fuzz_support.h"
#include "platform/audio.h"
#include "show/show.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const plat::Mp3DecoderApi& decoder = *plat::mpg123Decoder();
    std::string why;
    plat::Mp3Stream* const stream =
        decoder.open(fuzz::writeScratch(".mp3", data, size).c_str(), show::kMixRate, &why);
    if (!stream) {
        if (why.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    static std::vector<int16_t> pcm(4096 * 2);
    // A small file cannot hold more than a few minutes of music; a decoder that
    // keeps producing beyond that has lost its way.
    int64_t frames = 0;
    const int64_t limit = int64_t{show::kMixRate} * 600;
    for (;;) {
        const long got = decoder.read(stream, pcm.data(), 4096, &why);
        if (got < 0 && why.empty()) std::abort();
        if (got <= 0) break;
        if (got > 4096) std::abort();
        frames += got;
        if (frames > limit) std::abort();
    }
    if (decoder.length(stream) < 0) std::abort();
    decoder.close(stream);
    return 0;
}
