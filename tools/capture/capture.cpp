// contrail-capture: records the show frame by frame, at a fixed rate.
//
// The real scene code runs in an offscreen 640x480 GL context while the music
// clock is replaced by one that advances exactly 1000 / fps ms per frame, so
// every run gives the same frames whatever the machine's speed. It writes
// numbered PNG frames, the soundtrack of the captured range as a WAV file
// (music position 0 is frame 0) and, when ffmpeg is installed, an MP4 of both.
// --at renders every frame before the moment too (the particles and the ship's
// tumble follow the frame count) and writes just the frame on screen then.
//
// Rendering and reading back stay on this thread, which owns the GL context;
// PNG compression runs on writer threads and the video encoder in ffmpeg.

#include "tools/capture/frame_clock.h"

#include "demo/demo.h"
#include "platform/audio.h"
#include "platform/mapped_file.h"
#include "platform/offscreen/offscreen_gl.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "show/show.h"
#include "sound/sound.h"

#include <png.h>
#include <zlib.h>

#include "platform/gl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = show::kWidth, kHeight = show::kHeight;
constexpr int64_t kShowEndMs = show::kEndMs;
constexpr int kAudioRate = show::kMixRate;

const char kUsage[] =
    "usage: contrail-capture [options]\n"
    "Records the show at a fixed frame rate into numbered PNG frames, a WAV of the\n"
    "soundtrack and, when ffmpeg is installed, an MP4 of both.\n"
    "\n"
    "  --data DIR   the data folder with music.mp3, the mesh and images/ (default: .)\n"
    "  --out DIR    where the files go, made if missing (default: capture)\n"
    "  --fps N      frames per second, 1..1000 (default: 60); frame n shows the\n"
    "               music position n * 1000 / N ms, rounded down\n"
    "  --from S     record from S seconds into the show (default: 0)\n"
    "  --to S       and up to S seconds, S excluded (default: 52, the end)\n"
    "  --at S       write only the frame on screen S seconds in (repeatable);\n"
    "               the frames before it are rendered but not written\n"
    "  --no-video   skip the MP4\n"
    "  --help       this text\n"
    "\n"
    "Files: frame_NNNNN.png (N is the frame number counted from the start of the\n"
    "show), contrail.wav (48 kHz stereo), contrail.mp4 (H.264 + AAC).\n";

struct Options {
    std::string data = ".";
    std::string out = "capture";
    int fps = 60;
    int64_t fromMs = 0, toMs = kShowEndMs;
    std::vector<int64_t> atMs;
    bool video = true;
};

[[noreturn]] void fail(const std::string& what, int status = 1) {
    std::fprintf(stderr, "contrail-capture: %s\n", what.c_str());
    std::exit(status);
}

int64_t parseSeconds(const char* option, const char* text) {
    char* end = nullptr;
    const double s = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(s >= 0.0) || s > 1e6)
        fail(std::string(option) + " needs seconds (0 or more), not \"" + text + "\"", 2);
    return std::llround(s * 1000.0);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (a == "--no-video") {
            o.video = false;
            continue;
        }
        if (a != "--data" && a != "--out" && a != "--fps" && a != "--from" && a != "--to" && a != "--at")
            fail("unknown option \"" + a + "\" (see --help)", 2);
        if (i + 1 >= argc) fail(a + " needs a value (see --help)", 2);
        const char* v = argv[++i];
        if (a == "--data") {
            o.data = v;
        } else if (a == "--out") {
            o.out = v;
        } else if (a == "--fps") {
            char* end = nullptr;
            const long fps = std::strtol(v, &end, 10);
            if (end == v || *end != '\0' || fps < 1 || fps > 1000)
                fail(std::string("--fps needs a whole number from 1 to 1000, not \"") + v + "\"", 2);
            o.fps = static_cast<int>(fps);
        } else if (a == "--from") {
            o.fromMs = parseSeconds("--from", v);
        } else if (a == "--to") {
            o.toMs = parseSeconds("--to", v);
        } else {
            const int64_t ms = parseSeconds("--at", v);
            if (ms >= kShowEndMs) fail(std::string("--at ") + v + " is after the end of the show (52 s)", 2);
            o.atMs.push_back(ms);
        }
    }
    if (o.fromMs >= o.toMs) fail("--from must come before --to", 2);
    if (!o.atMs.empty() && (o.fromMs != 0 || o.toMs != kShowEndMs)) fail("--at goes without --from and --to", 2);
    return o;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) fail("cannot read the current folder");
    return std::string(cwd) + "/" + path;
}

// Makes the folder (and its parents) and proves that a file can be written there.
void prepareOutput(const std::string& dir) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (!isDirectory(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            fail("cannot make the output folder " + dir + " (" + std::strerror(errno) + ")");
    }
    const std::string probe = dir + "/.contrail-capture-probe";
    FILE* f = isDirectory(dir) ? std::fopen(probe.c_str(), "wb") : nullptr;
    if (f == nullptr) fail("cannot write into the output folder " + dir);
    std::fclose(f);
    std::remove(probe.c_str());
}

void enterDataFolder(const std::string& dir) {
    if (!isDirectory(dir)) fail("no data folder at " + dir + " (see --data)");
    if (chdir(dir.c_str()) != 0) fail("cannot enter the data folder " + dir + " (" + std::strerror(errno) + ")");
    for (const char* file : {show::kMusicFile, show::kMeshFile, show::kMeshTextureFile}) {
        const std::string path = plat::nativePath(file);
        if (access(path.c_str(), R_OK) != 0) fail(dir + " is not a data folder: " + path + " is missing");
    }
}

// ---- writing ----------------------------------------------------------------

// The PNG file of one frame; empty if libpng failed.
std::string encodePng(const uint8_t* rgb) {
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(
            png, &bytes,
            [](png_structp p, png_bytep data, png_size_t n) {
                static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
            },
            nullptr);
        // Speed over size: a frame must be written faster than the show plays.
        // Run-length matches after the "sub" filter take half the time of
        // zlib's fastest level on the starry cards, and the black flight
        // frames shrink just as well.
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_RLE);
        png_set_filter(png, 0, PNG_FILTER_SUB);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < kHeight; ++y) png_write_row(png, rgb + static_cast<size_t>(y) * kWidth * 3);
        png_write_end(png, nullptr);
    } else {
        bytes.clear();
    }
    png_destroy_write_struct(&png, &info);
    return bytes;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void put16(std::string& s, uint32_t v) { s += char(v & 0xff), s += char(v >> 8 & 0xff); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xffff), put16(s, v >> 16); }

// The soundtrack from sample `first` on, `count` stereo samples, silence after
// the music's end (or throughout when the music cannot be decoded).
bool writeWav(const std::string& path, int64_t first, int64_t count) {
    std::vector<int16_t> pcm(static_cast<size_t>(count) * 2, 0);
    // As the player decodes it: stereo S16 at the mix rate whatever the file, gapless.
    const plat::Mp3DecoderApi& decoder = plat::mp3Decoder();
    plat::Mp3Stream* const mp3 = decoder.open(show::kMusicFile, kAudioRate, nullptr);
    const bool decoded = mp3 != nullptr;
    if (mp3 != nullptr) {
        std::vector<int16_t> buf(8192);
        int64_t at = 0;  // sample position of buf[0]
        for (;;) {
            const long got = decoder.read(mp3, buf.data(), static_cast<long>(buf.size() / 2), nullptr);
            if (got <= 0) break;
            const int64_t lo = std::max(at, first), hi = std::min(at + got, first + count);
            if (lo < hi)
                std::copy(buf.begin() + (lo - at) * 2, buf.begin() + (hi - at) * 2, pcm.begin() + (lo - first) * 2);
            at += got;
            if (at >= first + count) break;
        }
        decoder.close(mp3);
    }
    if (!decoded) std::fprintf(stderr, "contrail-capture: cannot decode music.mp3; the soundtrack is silent\n");

    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    std::string h = "RIFF";
    put32(h, 36 + dataBytes);
    h += "WAVEfmt ";
    put32(h, 16), put16(h, 1), put16(h, 2), put32(h, kAudioRate), put32(h, kAudioRate * 4), put16(h, 4), put16(h, 16);
    h += "data";
    put32(h, dataBytes);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    ok = ok && std::fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();  // little-endian host
    return std::fclose(f) == 0 && ok;
}

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

// ffmpeg reading raw RGB frames from a pipe; returns its pid and the pipe's end.
pid_t startEncoder(const std::string& out, int fps, int* pipeOut) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string rate = std::to_string(fps), wav = out + "/contrail.wav", mp4 = out + "/contrail.mp4",
                      log = out + "/ffmpeg.log";
    const char* args[] = {"ffmpeg", "-y", "-hide_banner", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-video_size", size.c_str(), "-framerate", rate.c_str(), "-i", "pipe:0",
                          "-i", wav.c_str(), "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
                          "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart",
                          mp4.c_str(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[0], 0);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (logFd >= 0) dup2(logFd, 1), dup2(logFd, 2);
        close(fds[0]), close(fds[1]);
        execvp("ffmpeg", const_cast<char* const*>(args));
        _exit(127);
    }
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return -1;
    }
    *pipeOut = fds[1];
    return pid;
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

// ---- the pipeline between the renderer and the writers -----------------------

// The cards stand still for seconds: a run of identical frames is compressed
// once and its bytes written under every frame's name.
struct EncodedPng {
    std::once_flag once;
    std::string bytes;
};

struct Frame {
    int64_t number;
    std::shared_ptr<const std::vector<uint8_t>> rgb;
    std::shared_ptr<EncodedPng> png;
};
using FramePtr = std::shared_ptr<const Frame>;

// Blocks the renderer while `capacity` frames wait, so memory stays bounded.
class FrameQueue {
public:
    explicit FrameQueue(size_t capacity) : capacity_(capacity) {}
    void push(FramePtr f) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return q_.size() < capacity_; });
        q_.push_back(std::move(f));
        cv_.notify_all();
    }
    bool pop(FramePtr& f) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return !q_.empty() || closed_; });
        if (q_.empty()) return false;
        f = std::move(q_.front());
        q_.pop_front();
        cv_.notify_all();
        return true;
    }
    void close() {
        std::lock_guard<std::mutex> lock(m_);
        closed_ = true;
        cv_.notify_all();
    }

private:
    const size_t capacity_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<FramePtr> q_;
    bool closed_ = false;
};

// The clock that drawScene() reads instead of the music's play position.
int32_t frameClockMs = 0;
int frameClock(void*) { return frameClockMs; }

bool showOver = false;
void noteShowOver(int) { showOver = true; }

// The mesh loader traces every triangle on stdout; the capture's terminal stays clean.
void initSceneQuietly() {
    std::fflush(stdout);
    const int saved = dup(1), devNull = open("/dev/null", O_WRONLY);
    if (saved >= 0 && devNull >= 0) dup2(devNull, 1);
    initScene();
    std::fflush(stdout);
    if (saved >= 0 && devNull >= 0) dup2(saved, 1);
    if (devNull >= 0) close(devNull);
    if (saved >= 0) close(saved);
}

std::string clockText(double seconds) {
    const int s = static_cast<int>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

void showProgress(int64_t done, int64_t total, double elapsed) {
    const double fps = elapsed > 0 ? done / elapsed : 0.0;
    const int width = 30, filled = static_cast<int>(width * done / std::max<int64_t>(total, 1));
    std::fprintf(stderr, "\r[%s%s] %lld/%lld frames  %.1f fps  %s left ", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), static_cast<long long>(done),
                 static_cast<long long>(total), fps, fps > 0 ? clockText((total - done) / fps).c_str() : "?:??");
}

}  // namespace

int main(int argc, char** argv) {
    plat::setMp3Decoder(plat::mpg123Decoder());
    const Options o = parseOptions(argc, argv);
    const std::string out = absolute(o.out);
    prepareOutput(out);
    enterDataFolder(o.data);

    // Frames 0 to end - 1 are rendered, the ones `wanted` are written.
    const int64_t showEnd = capture::firstFrameFrom(kShowEndMs, o.fps);
    const bool single = !o.atMs.empty();
    std::set<int64_t> atFrames;
    for (const int64_t ms : o.atMs) atFrames.insert(capture::frameShownAt(ms, o.fps));
    const int64_t from = single ? *atFrames.begin() : capture::firstFrameFrom(o.fromMs, o.fps);
    const int64_t end =
        single ? *atFrames.rbegin() + 1 : std::min(capture::firstFrameFrom(o.toMs, o.fps), showEnd);
    if (from >= end) fail("no frame of the show lies in that range", 2);
    auto wanted = [&](int64_t n) { return single ? atFrames.count(n) > 0 : n >= from; };

    if (!single) {
        const int64_t s0 = capture::sampleOfFrame(from, o.fps, kAudioRate);
        const int64_t s1 = capture::sampleOfFrame(end, o.fps, kAudioRate);
        if (!writeWav(out + "/contrail.wav", s0, s1 - s0)) fail("cannot write " + out + "/contrail.wav");
    }
    signal(SIGPIPE, SIG_IGN);  // a dead encoder shows up as a failed write
    int encoderFd = -1;
    pid_t encoder = -1;
    if (!single && o.video) {
        if (onPath("ffmpeg"))
            encoder = startEncoder(out, o.fps, &encoderFd);
        else
            std::fprintf(stderr, "contrail-capture: ffmpeg is not installed; no MP4\n");
    }

    plat::OffscreenGl gl(kWidth, kHeight);
    if (!gl.ok()) fail(std::string("no offscreen GL context (") + (gl.error() ? gl.error() : "?") + ")");
    soundSetClockOverride(frameClock, nullptr);
    plat::setEndProcessHook(noteShowOver);
    resizeScene(kWidth, kHeight);
    initSceneQuietly();

    std::atomic<bool> writeFailed{false}, videoFailed{false};
    FrameQueue pngQueue(8), videoQueue(8);
    std::vector<std::thread> writers;
    const unsigned writerCount = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < writerCount; ++i)
        writers.emplace_back([&] {
            FramePtr f;
            while (pngQueue.pop(f)) {
                char name[32];
                std::snprintf(name, sizeof name, "/frame_%05lld.png", static_cast<long long>(f->number));
                EncodedPng& png = *f->png;
                std::call_once(png.once, [&] { png.bytes = encodePng(f->rgb->data()); });
                if (!writeFailed && (png.bytes.empty() || !writeFile(out + name, png.bytes))) {
                    std::fprintf(stderr, "\ncontrail-capture: cannot write %s%s\n", out.c_str(), name);
                    writeFailed = true;
                }
            }
        });
    std::thread feeder;
    if (encoder > 0)
        feeder = std::thread([&] {
            FramePtr f;
            while (videoQueue.pop(f))
                if (!videoFailed && !writeAll(encoderFd, f->rgb->data(), f->rgb->size())) videoFailed = true;
            close(encoderFd);
        });

    const bool tty = isatty(2);
    const auto start = std::chrono::steady_clock::now();
    auto lastShown = start;
    std::shared_ptr<const std::vector<uint8_t>> lastRgb;
    std::shared_ptr<EncodedPng> lastPng;
    int64_t n = 0;
    for (; n < end && !showOver && !writeFailed; ++n) {
        frameClockMs = static_cast<int32_t>(capture::clockOfFrame(n, o.fps));
        // A frame that is not kept still has to run (its particles and the
        // ship's tumble carry over), but only one of its pixels is drawn. Every
        // frame clears the whole buffer, so no pixel carries over.
        const bool keep = wanted(n);
        if (keep) {
            glDisable(GL_SCISSOR_TEST);
        } else {
            glEnable(GL_SCISSOR_TEST);
            glScissor(0, 0, 1, 1);
        }
        drawScene();
        if (keep) {
            auto rgb = std::make_shared<const std::vector<uint8_t>>(gl.readRgbTopDown());
            if (lastRgb && *rgb == *lastRgb) {
                rgb = lastRgb;
            } else {
                lastRgb = rgb;
                lastPng = std::make_shared<EncodedPng>();
            }
            auto f = std::make_shared<const Frame>(Frame{n, rgb, lastPng});
            if (encoder > 0) videoQueue.push(f);
            pngQueue.push(std::move(f));
        } else {
            glFinish();  // keeps the progress honest
        }
        const auto now = std::chrono::steady_clock::now();
        if (tty && (now - lastShown > std::chrono::milliseconds(100) || n + 1 == end)) {
            showProgress(n + 1, end, std::chrono::duration<double>(now - start).count());
            lastShown = now;
        }
    }
    pngQueue.close();
    videoQueue.close();
    for (auto& w : writers) w.join();
    if (feeder.joinable()) feeder.join();
    bool videoOk = true;
    if (encoder > 0) {
        int status = 0;
        waitpid(encoder, &status, 0);
        videoOk = !videoFailed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (videoOk) std::remove((out + "/ffmpeg.log").c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (tty) std::fputc('\n', stderr);
    if (writeFailed) return 1;

    const int64_t written = single ? static_cast<int64_t>(atFrames.size()) : end - from;
    std::fprintf(stderr, "%lld frames rendered, %lld written to %s in %.1f s (%.1f fps)%s\n",
                 static_cast<long long>(n), static_cast<long long>(written), out.c_str(), seconds, n / seconds,
                 encoder > 0 && videoOk ? ", with contrail.wav and contrail.mp4"
                 : single              ? ""
                                       : ", with contrail.wav");
    if (!videoOk) {
        std::fprintf(stderr, "contrail-capture: the MP4 failed; see %s/ffmpeg.log\n", out.c_str());
        return 1;
    }
    return 0;
}
