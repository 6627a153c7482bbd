// MP3 decoding with libmpg123.
//
// PLATFORM: any with libmpg123 (Linux builds, the capture tool, the tests).
// LIMITATIONS: output is always stereo S16 at the requested rate; mpg123
//   resamples and doubles mono itself, and its gapless mode trims the encoder's
//   delay and padding, so the first frame out is the first frame of music.
// DEPENDENCIES: libmpg123, POSIX open/fstat.
#include "platform/audio.h"
#include "platform/whole_file.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

struct plat::Mp3Stream {
    mpg123_handle* mh = nullptr;
    int fd = -1;
};

namespace plat {

namespace {

void closeStream(Mp3Stream* s) {
    if (!s) return;
    if (s->mh) {
        mpg123_close(s->mh);
        mpg123_delete(s->mh);
    }
    if (s->fd >= 0) ::close(s->fd);
    delete s;
}

// A pipe, a socket or a device would block the reader or never end: only a
// regular file is music. O_NONBLOCK keeps the open itself from waiting on a pipe.
int openRegular(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = "not a regular file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Mp3Stream* openStream(const char* path, int rate, std::string* why) {
    static const int initialised = mpg123_init();  // once; a no-op on current libmpg123
    (void)initialised;
    std::string reason;
    auto* s = new Mp3Stream;
    s->fd = openRegular(nativePath(path), &reason);
    int err = MPG123_OK;
    if (s->fd >= 0) {
        s->mh = mpg123_new(nullptr, &err);
        if (!s->mh) reason = mpg123_plain_strerror(err);
    }
    if (s->mh) {
        mpg123_param(s->mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_STEREO, 0.0);
        mpg123_format_none(s->mh);
        long got = 0;
        int channels = 0, encoding = 0;
        if (mpg123_format(s->mh, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
            mpg123_open_fd(s->mh, s->fd) != MPG123_OK ||
            mpg123_getformat(s->mh, &got, &channels, &encoding) != MPG123_OK) {
            reason = mpg123_strerror(s->mh);
        } else if (got != rate || channels != 2 || encoding != MPG123_ENC_SIGNED_16) {
            reason = "no decoder output at the mix rate";
        } else {
            return s;
        }
    }
    closeStream(s);
    if (why) *why = reason.empty() ? "cannot decode" : reason;
    return nullptr;
}

long readStream(Mp3Stream* s, int16_t* out, long frames, std::string* why) {
    // A read may make no progress (a format change, a skipped frame); many in a
    // row mean a stream that goes nowhere.
    for (int idle = 0; idle <= 100; ++idle) {
        size_t bytes = 0;
        const int r = mpg123_read(s->mh, out, static_cast<size_t>(frames) * 4, &bytes);
        const long got = static_cast<long>(bytes / 4);
        if (got > 0 || r == MPG123_DONE) return got;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            if (why) *why = mpg123_strerror(s->mh);
            return -1;
        }
    }
    if (why) *why = "no progress";
    return -1;
}

const Mp3DecoderApi api = {
    .name = "mpg123",
    .open = openStream,
    .read = readStream,
    .length =
        [](Mp3Stream* s) {
            const off_t length = mpg123_length(s->mh);
            return length > 0 ? static_cast<int64_t>(length) : int64_t{0};
        },
    .close = closeStream,
};

}  // namespace

const Mp3DecoderApi* mpg123Decoder() { return &api; }

}  // namespace plat
