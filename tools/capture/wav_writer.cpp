// The soundtrack of the captured range as a 48 kHz stereo WAV file.
#include "tools/capture/capture.h"

#include "platform/audio.h"
#include "tools/common/files.h"

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

// Samples first .. first + count of the music, as the player decodes it: stereo
// S16 at the mix rate whatever the file, gapless. False if it cannot be decoded.
bool decodeMusic(int64_t first, std::vector<int16_t>& pcm) {
    const plat::Mp3DecoderApi& decoder = plat::mp3Decoder();
    plat::Mp3Stream* const mp3 = decoder.open(show::kMusicFile, kAudioRate, nullptr);
    if (mp3 == nullptr) return false;
    const int64_t count = static_cast<int64_t>(pcm.size() / 2);
    std::vector<int16_t> buf(8192);
    int64_t at = 0;  // sample position of buf[0]
    for (;;) {
        const long got = decoder.read(mp3, buf.data(), static_cast<long>(buf.size() / 2), nullptr);
        if (got <= 0) break;
        const int64_t lo = std::max(at, first), hi = std::min(at + got, first + count);
        if (lo < hi)
            std::copy(buf.begin() + (lo - at) * 2, buf.begin() + (hi - at) * 2,
                      pcm.begin() + (lo - first) * 2);
        at += got;
        if (at >= first + count) break;
    }
    decoder.close(mp3);
    return true;
}

std::string wavHeader(uint32_t dataBytes) {
    using files::put16, files::put32;
    std::string h = "RIFF";
    put32(h, 36 + dataBytes);
    h += "WAVEfmt ";
    put32(h, 16), put16(h, 1), put16(h, 2), put32(h, kAudioRate), put32(h, kAudioRate * 4), put16(h, 4),
        put16(h, 16);
    h += "data";
    put32(h, dataBytes);
    return h;
}

}  // namespace

bool writeWav(const std::string& path, int64_t first, int64_t count) {
    std::vector<int16_t> pcm(static_cast<size_t>(count) * 2, 0);
    if (!decodeMusic(first, pcm))
        std::fprintf(stderr, "contrail-capture: cannot decode music.mp3; the soundtrack is silent\n");
    const std::string h = wavHeader(static_cast<uint32_t>(pcm.size() * 2));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    ok = ok && std::fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();  // little-endian host
    return std::fclose(f) == 0 && ok;
}

}  // namespace capture
