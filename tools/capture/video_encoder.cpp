// The MP4: ffmpeg reads raw YUV frames from a pipe and the WAV from the output folder.
//
// The frames are turned into the encoder's YUV 4:2:0 here, once per distinct
// picture (the cards stand still for seconds), so ffmpeg neither converts
// colours nor reads more than half a frame's RGBA bytes for each frame.
#include "tools/capture/capture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace capture {

namespace {

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// In the child: stdin from the pipe, stdout and stderr to the log, then ffmpeg.
[[noreturn]] void runFfmpeg(const std::string& out, int fps, const int fds[2]) {
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string rate = std::to_string(fps), wav = out + "/contrail.wav", mp4 = out + "/contrail.mp4",
                      log = out + "/ffmpeg.log";
    // The encoder's fastest settings: the MP4 must not hold the capture up.
    // clang-format off
    const char* args[] = {
        "ffmpeg", "-y", "-hide_banner", "-loglevel", "error",
        "-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size", size.c_str(), "-framerate", rate.c_str(),
        "-i", "pipe:0", "-i", wav.c_str(),
        "-c:v", "libx264", "-preset", "ultrafast", "-crf", "18",
        "-c:a", "aac", "-aac_coder", "fast", "-b:a", "192k",
        "-movflags", "+faststart", mp4.c_str(), nullptr};
    // clang-format on
    dup2(fds[0], 0);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (logFd >= 0) dup2(logFd, 1), dup2(logFd, 2);
    close(fds[0]), close(fds[1]);
    execvp("ffmpeg", const_cast<char* const*>(args));
    _exit(127);
}

constexpr size_t kYuvBytes = size_t{kWidth} * kHeight * 3 / 2;

// BT.601 studio range (the encoder's default reading of YUV), chroma the
// mean of each 2 x 2 block: integer weights over 256, rounded.
void toYuv420(const uint8_t* rgba, uint8_t* yuv) {
    uint8_t* luma = yuv;
    uint8_t* cb = yuv + size_t{kWidth} * kHeight;
    uint8_t* cr = cb + size_t{kWidth} * kHeight / 4;
    for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i) {
        const uint8_t* p = rgba + i * 4;
        luma[i] = static_cast<uint8_t>(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
    }
    const size_t stride = size_t{kWidth} * 4;
    for (int y = 0; y < kHeight; y += 2) {
        const uint8_t* top = rgba + y * stride;
        const uint8_t* bottom = top + stride;
        for (int x = 0; x < kWidth / 2; ++x, top += 8, bottom += 8) {
            const int r = top[0] + top[4] + bottom[0] + bottom[4];
            const int g = top[1] + top[5] + bottom[1] + bottom[5];
            const int b = top[2] + top[6] + bottom[2] + bottom[6];
            *cb++ = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 512) >> 10) + 128);
            *cr++ = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 512) >> 10) + 128);
        }
    }
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w, n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

void VideoEncoder::start(const std::string& out, int fps) {
    if (!onPath("ffmpeg")) {
        std::fprintf(stderr, "contrail-capture: ffmpeg is not installed; no MP4\n");
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) return;
#ifdef F_SETPIPE_SZ
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 19);  // a whole frame per write, not 64 KB at a time
#endif
    const pid_t pid = fork();
    if (pid == 0) runFfmpeg(out, fps, fds);
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return;
    }
    out_ = out, pid_ = pid, fd_ = fds[1], started_ = true;
    feeder_ = std::thread([this] { feed(); });
}

void VideoEncoder::feed() {
    std::vector<uint8_t> yuv(kYuvBytes);
    std::shared_ptr<const uint8_t> converted;  // the picture in `yuv`, held so its buffer is not reused
    FramePtr f;
    while (queue_.pop(f)) {
        if (failed_) continue;
        if (f->rgba != converted) {
            toYuv420(f->rgba.get(), yuv.data());
            converted = f->rgba;
        }
        failed_ = !writeAll(fd_, yuv.data(), yuv.size());
    }
    close(fd_);
}

bool VideoEncoder::finish() {
    queue_.close();
    if (feeder_.joinable()) feeder_.join();
    if (pid_ <= 0) return ok_;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    ok_ = !failed_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ok_) std::remove((out_ + "/ffmpeg.log").c_str());
    return ok_;
}

}  // namespace capture
