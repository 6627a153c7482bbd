// MP3 decoding through the Audio Compression Manager.
//
// PLATFORM: Windows (and Wine), whose MPEG Layer-3 codec every installation has.
// LIMITATIONS: the codec decodes whatever frames it is fed and knows nothing of
//   the encoder's tag, so this file does what a gapless decoder would: the
//   frame that carries the Xing/Info tag is not fed at all, and the encoder
//   delay and end padding that a LAME tag records are cut (the start also
//   loses the layer III filter bank's own 529-sample delay, the end that much
//   less). Frames are found by their headers and fed one at a time, which
//   variable-bit-rate files need. Mono is doubled and other rates are brought
//   to the mix rate by linear interpolation. A codec other than Wine's may
//   delay its output differently; the length stays the same.
// DEPENDENCIES: msacm32 (acmStreamOpen, acmStreamConvert), kernel32 file mapping (WholeFile).
#include "platform/audio.h"
#include "platform/whole_file.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kDecoderDelay = 529;  // samples the layer III synthesis lags its input
constexpr size_t kSourceCapacity = 8192;

struct FrameInfo {
    size_t length = 0;
    int rate = 0;
    int channels = 0;
    int samples = 0;      // per frame
    int sideInfo = 0;     // bytes of side information after the 4-byte header
    int bitrate = 0;      // kbit/s
};

// The MPEG audio frame header at p (4 bytes), if it is a layer III one.
bool parseHeader(const uint8_t* p, FrameInfo* f) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version = (p[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    if (version == 1 || ((p[1] >> 1) & 3) != 1) return false;
    const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
    static const int kBitrates[2][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    f->bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex];
    f->rate = kRates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    f->channels = (p[3] >> 6) == 3 ? 1 : 2;
    f->samples = mpeg1 ? 1152 : 576;
    f->length = size_t(f->samples / 8) * size_t(f->bitrate) * 1000 / size_t(f->rate) + size_t(padding);
    f->sideInfo = mpeg1 ? (f->channels == 1 ? 17 : 32) : (f->channels == 1 ? 9 : 17);
    return true;
}

// Where the next frame starts at or after `at`: two headers in a row that
// agree, so that a stray sync pattern in the data is not taken for one.
size_t findFrame(const uint8_t* data, size_t end, size_t at, FrameInfo* f) {
    for (; at + 4 <= end; ++at) {
        if (!parseHeader(data + at, f)) continue;
        const size_t next = at + f->length;
        FrameInfo g;
        if (next + 4 > end || (parseHeader(data + next, &g) && g.rate == f->rate)) {
            if (next <= end) return at;
        }
    }
    return end;
}

size_t skipId3v2(const uint8_t* data, size_t size) {
    if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
    const size_t length = size_t(data[6] & 0x7F) << 21 | size_t(data[7] & 0x7F) << 14 |
                          size_t(data[8] & 0x7F) << 7 | size_t(data[9] & 0x7F);
    return std::min(size, 10 + length + ((data[5] & 0x10) ? 10 : 0));
}

}  // namespace

struct plat::Mp3Stream {
    std::unique_ptr<WholeFile> file;
    size_t at = 0, end = 0;  // next frame, end of the audio frames
    FrameInfo first;
    HACMSTREAM acm = nullptr;
    ACMSTREAMHEADER header{};
    bool prepared = false;
    bool started = false;
    bool finished = false;  // every frame fed and the codec flushed
    std::vector<uint8_t> source;
    size_t sourceFill = 0;
    std::vector<uint8_t> decoded;

    int64_t skip = 0;     // source frames still to drop at the start
    int64_t padding = 0;  // source frames never to hand out at the end
    std::vector<int16_t> pcm;  // stereo at the source rate, from pcmAt on
    size_t pcmAt = 0;
    double phase = 0;  // resampling position within pcm, in source frames
    int rate = 0;
    int64_t length = 0;

    ~Mp3Stream() {
        if (prepared) acmStreamUnprepareHeader(acm, &header, 0);
        if (acm) acmStreamClose(acm, 0);
    }

    size_t pcmFrames() const { return (pcm.size() - pcmAt) / 2; }

    void append(const int16_t* samples, size_t frames, int channels) {
        for (size_t i = 0; i < frames; ++i) {
            if (skip > 0) {
                --skip;
                continue;
            }
            pcm.push_back(samples[i * channels]);
            pcm.push_back(samples[i * channels + channels - 1]);
        }
    }

    // Feeds the next frame (or, at the end, the flush) to the codec.
    bool decodeMore(std::string* why) {
        if (finished) return false;
        DWORD flags = started ? 0 : ACM_STREAMCONVERTF_START;
        FrameInfo f;
        const size_t frameAt = at < end ? findFrame(file->data(), end, at, &f) : end;
        if (frameAt < end && frameAt + f.length <= end && sourceFill + f.length <= source.size()) {
            std::memcpy(source.data() + sourceFill, file->data() + frameAt, f.length);
            sourceFill += f.length;
            at = frameAt + f.length;
        } else {
            at = end;
            flags |= ACM_STREAMCONVERTF_END;
        }
        header.cbSrcLength = static_cast<DWORD>(sourceFill);
        header.cbSrcLengthUsed = header.cbDstLengthUsed = 0;
        const MMRESULT r = acmStreamConvert(acm, &header, flags);
        started = true;
        if (r != MMSYSERR_NOERROR) {
            if (why) *why = "acmStreamConvert failed (" + std::to_string(r) + ")";
            return false;
        }
        const size_t used = std::min<size_t>(header.cbSrcLengthUsed, sourceFill);
        std::memmove(source.data(), source.data() + used, sourceFill - used);
        sourceFill -= used;
        if (flags & ACM_STREAMCONVERTF_END) finished = true;
        const int channels = first.channels;
        append(reinterpret_cast<const int16_t*>(decoded.data()), header.cbDstLengthUsed / (2 * channels), channels);
        return true;
    }

    // Frames that may be handed out now: all but the end padding.
    size_t ready() const {
        const size_t n = pcmFrames();
        return n > size_t(padding) ? n - size_t(padding) : 0;
    }
};

namespace plat {

namespace {

void closeStream(Mp3Stream* s) { delete s; }

Mp3Stream* openStream(const char* path, int rate, std::string* why) {
    auto s = std::make_unique<Mp3Stream>();
    s->rate = rate;
    s->file = std::make_unique<WholeFile>(path);
    if (!s->file->ok()) {
        if (why) *why = "cannot open it (missing, empty or not a file on disk)";
        return nullptr;
    }
    const uint8_t* data = s->file->data();
    size_t end = s->file->size();
    if (end >= 128 && std::memcmp(data + end - 128, "TAG", 3) == 0) end -= 128;  // ID3v1 at the end
    s->end = end;
    s->at = findFrame(data, end, skipId3v2(data, end), &s->first);
    if (s->at >= end) {
        if (why) *why = "no MPEG layer III frames";
        return nullptr;
    }
    const FrameInfo& f = s->first;

    // A Xing/Info frame carries no music; a LAME tag in it tells the encoder's
    // delay and padding: two 12-bit numbers 21 bytes after the version string.
    int64_t delay = 0, padding = 0;
    const uint8_t* tag = data + s->at + 4 + f.sideInfo;
    if (s->at + 4 + size_t(f.sideInfo) + 4 <= end &&
        (std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0)) {
        const uint8_t* frame = data + s->at;
        for (size_t i = 0; i + 24 <= f.length; ++i) {
            if (std::memcmp(frame + i, "LAME", 4) == 0 || std::memcmp(frame + i, "Lavc", 4) == 0) {
                const uint8_t* d = frame + i + 21;
                delay = d[0] << 4 | d[1] >> 4;
                padding = (d[1] & 0x0F) << 8 | d[2];
                break;
            }
        }
        s->at += f.length;
    }
    if (delay > 0 || padding > 0) {
        s->skip = delay + kDecoderDelay;
        s->padding = std::max<int64_t>(0, padding - kDecoderDelay);
    }

    int64_t frames = 0;
    for (size_t at = s->at; at < end;) {
        FrameInfo g;
        at = findFrame(data, end, at, &g);
        if (at >= end) break;
        ++frames;
        at += g.length;
    }
    const int64_t sourceLength = std::max<int64_t>(0, frames * f.samples - delay - padding);
    s->length = sourceLength * rate / f.rate;

    MPEGLAYER3WAVEFORMAT mp3{};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = static_cast<WORD>(f.channels);
    mp3.wfx.nSamplesPerSec = static_cast<DWORD>(f.rate);
    mp3.wfx.nAvgBytesPerSec = static_cast<DWORD>(f.bitrate * 1000 / 8);
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.wBitsPerSample = 0;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    mp3.nBlockSize = static_cast<WORD>(f.length);
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = 0;
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = static_cast<WORD>(f.channels);
    pcm.nSamplesPerSec = static_cast<DWORD>(f.rate);
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<WORD>(2 * f.channels);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    MMRESULT r = acmStreamOpen(&s->acm, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, 0);
    if (r != MMSYSERR_NOERROR) {
        s->acm = nullptr;
        if (why) *why = "no MPEG layer III codec (acmStreamOpen: " + std::to_string(r) + ")";
        return nullptr;
    }
    DWORD decodedSize = 0;
    if (acmStreamSize(s->acm, kSourceCapacity, &decodedSize, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        decodedSize = 0;
    s->source.assign(kSourceCapacity, 0);
    s->decoded.assign(std::max<size_t>(decodedSize, size_t{1152} * 4 * 8), 0);
    s->header.cbStruct = sizeof(ACMSTREAMHEADER);
    s->header.pbSrc = s->source.data();
    s->header.cbSrcLength = static_cast<DWORD>(s->source.size());
    s->header.pbDst = s->decoded.data();
    s->header.cbDstLength = static_cast<DWORD>(s->decoded.size());
    r = acmStreamPrepareHeader(s->acm, &s->header, 0);
    if (r != MMSYSERR_NOERROR) {
        if (why) *why = "acmStreamPrepareHeader failed (" + std::to_string(r) + ")";
        return nullptr;
    }
    s->prepared = true;
    return s.release();
}

long readStream(Mp3Stream* s, int16_t* out, long frames, std::string* why) {
    const double step = double(s->first.rate) / double(s->rate);
    long written = 0;
    while (written < frames) {
        const size_t ready = s->ready();
        const size_t index = static_cast<size_t>(s->phase);
        // Interpolation wants the frame after too, unless nothing more will come.
        if (index + 1 < ready || (s->finished && index < ready)) {
            const int16_t* a = s->pcm.data() + s->pcmAt + index * 2;
            const int16_t* b = index + 1 < ready ? a + 2 : a;
            const double t = s->phase - double(index);
            out[written * 2] = static_cast<int16_t>(a[0] + (b[0] - a[0]) * t);
            out[written * 2 + 1] = static_cast<int16_t>(a[1] + (b[1] - a[1]) * t);
            ++written;
            s->phase += step;
            continue;
        }
        if (s->finished) break;
        // Drop what has been passed, then decode more.
        const size_t passed = std::min(index, s->pcmFrames());
        s->pcmAt += passed * 2;
        s->phase -= double(passed);
        if (s->pcmAt > (size_t{1} << 16)) {
            s->pcm.erase(s->pcm.begin(), s->pcm.begin() + std::ptrdiff_t(s->pcmAt));
            s->pcmAt = 0;
        }
        std::string reason;
        if (!s->decodeMore(&reason) && !s->finished) {
            if (written > 0) break;
            if (why) *why = reason;
            return -1;
        }
    }
    return written;
}

const Mp3DecoderApi api = {
    .name = "acm",
    .open = openStream,
    .read = readStream,
    .length = [](Mp3Stream* s) { return s->length; },
    .close = closeStream,
};

}  // namespace

const Mp3DecoderApi* acmDecoder() { return &api; }

}  // namespace plat
