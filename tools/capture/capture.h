// capture.h - the parts of contrail-capture, one file each.
//
// options.cpp reads the command line and readies the folders, wav_writer.cpp
// writes the soundtrack, png_writer.cpp compresses and writes the frames on
// threads of its own, video_encoder.cpp feeds ffmpeg, and capture.cpp runs the
// show frame by frame and hands each kept frame to the writers.
#pragma once

#include "show/show.h"

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace capture {

constexpr int kWidth = show::kWidth, kHeight = show::kHeight;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 4;  // RGBA, top row first
constexpr int64_t kShowEndMs = show::kEndMs;
constexpr int kAudioRate = show::kMixRate;

// ---- options.cpp --------------------------------------------------------------

struct Options {
    std::string data = ".";
    std::string out = "capture";
    int fps = 60;
    int64_t fromMs = 0, toMs = kShowEndMs;
    std::vector<int64_t> atMs;
    bool video = true;
    bool skipStill = true;  // repeat the still cards' frames instead of drawing each one
};

// Says what went wrong on standard error and ends the process.
[[noreturn]] void fail(const std::string& what, int status = 1);
Options parseOptions(int argc, char** argv);
std::string absolute(const std::string& path);
// Makes the folder (and its parents) and proves that a file can be written there.
void prepareOutput(const std::string& dir);
// Enters the folder, after checking that it holds the show's files.
void enterDataFolder(const std::string& dir);

// ---- wav_writer.cpp -------------------------------------------------------------

// The soundtrack from sample `first` on, `count` stereo samples, silence after
// the music's end (or throughout when the music cannot be decoded).
bool writeWav(const std::string& path, int64_t first, int64_t count);

// ---- the frames between the renderer and the writers ------------------------------

// Frame buffers (kFrameBytes each) handed out again once the last holder lets
// go, so that reading a frame back touches no fresh memory.
class PixelPool {
public:
    std::shared_ptr<uint8_t> take();

private:
    struct Free {
        std::mutex m;
        std::vector<uint8_t*> buffers;
        ~Free();
    };
    std::shared_ptr<Free> free_ = std::make_shared<Free>();
};

// The cards stand still for seconds: a run of identical frames is compressed
// once and its bytes written under every frame's name.
struct EncodedPng {
    std::once_flag once;
    std::string bytes;
};

struct Frame {
    int64_t number;
    std::shared_ptr<const uint8_t> rgba;  // kFrameBytes
    std::shared_ptr<EncodedPng> png;
};
using FramePtr = std::shared_ptr<const Frame>;

// Blocks the renderer while `capacity` frames wait, so memory stays bounded.
class FrameQueue {
public:
    explicit FrameQueue(size_t capacity) : capacity_(capacity) {}
    void push(FramePtr f);
    bool pop(FramePtr& f);  // false once closed and empty
    void close();

private:
    const size_t capacity_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<FramePtr> q_;
    bool closed_ = false;
};

// ---- png_writer.cpp ---------------------------------------------------------------

// The PNG file (RGB) of one frame; empty if libpng failed.
std::string encodePng(const uint8_t* rgba);

// Threads that compress the frames pushed to them and write frame_NNNNN.png
// into `out`. After a failed write (said on standard error) they write no more.
class PngWriters {
public:
    explicit PngWriters(const std::string& out);
    ~PngWriters() { finish(); }
    void push(FramePtr f) { queue_.push(std::move(f)); }
    void finish();  // writes what is queued and stops the threads
    bool failed() const { return failed_; }

private:
    void run();
    const std::string out_;
    FrameQueue queue_{8};
    std::atomic<bool> failed_{false};
    std::vector<std::thread> threads_;
};

// ---- video_encoder.cpp -------------------------------------------------------------

// ffmpeg, reading the frames (as YUV) through a pipe and the WAV from `out`.
class VideoEncoder {
public:
    ~VideoEncoder() { finish(); }
    // Starts ffmpeg, or says on standard error that it is not installed.
    void start(const std::string& out, int fps);
    bool started() const { return started_; }
    void push(FramePtr f) { queue_.push(std::move(f)); }
    // Ends the input and waits for ffmpeg; true if the MP4 was made (or none was started).
    bool finish();

private:
    void feed();
    std::string out_;
    bool started_ = false;
    pid_t pid_ = -1;
    int fd_ = -1;
    bool failed_ = false;
    bool ok_ = true;
    FrameQueue queue_{8};
    std::thread feeder_;
};

}  // namespace capture
