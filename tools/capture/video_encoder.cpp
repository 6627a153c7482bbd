// The MP4: ffmpeg reads raw RGB frames from a pipe and the WAV from the output folder.
#include "tools/capture/capture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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
    const char* args[] = {
        "ffmpeg",   "-y",        "-hide_banner", "-loglevel",  "error",      "-f",         "rawvideo",
        "-pix_fmt", "rgb24",     "-video_size",  size.c_str(), "-framerate", rate.c_str(), "-i",
        "pipe:0",   "-i",        wav.c_str(),    "-c:v",       "libx264",    "-preset",    "veryfast",
        "-crf",     "18",        "-pix_fmt",     "yuv420p",    "-c:a",       "aac",        "-b:a",
        "192k",     "-movflags", "+faststart",   mp4.c_str(),  nullptr};
    dup2(fds[0], 0);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (logFd >= 0) dup2(logFd, 1), dup2(logFd, 2);
    close(fds[0]), close(fds[1]);
    execvp("ffmpeg", const_cast<char* const*>(args));
    _exit(127);
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
    FramePtr f;
    while (queue_.pop(f))
        if (!failed_ && !writeAll(fd_, f->rgb->data(), f->rgb->size())) failed_ = true;
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
