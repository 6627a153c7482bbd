// contrail-capture: records the show frame by frame, at a fixed rate.
//
// The real scene code runs in an offscreen 640x480 GL context while the music
// clock is replaced by one that advances exactly 1000 / fps ms per frame, so
// every run gives the same frames whatever the machine's speed. It writes
// numbered PNG frames, the soundtrack of the captured range as a WAV file
// (music position 0 is frame 0) and, when ffmpeg is installed, an MP4 of both.
// --at renders every frame before the moment too (the particles and the ship's
// tumble follow the frame count) and writes just the frame on screen then.
// The still title and end cards are drawn only until they prove still; their
// other frames repeat those pixels (--no-skip draws them all).
//
// Rendering and reading back stay on this thread, which owns the GL context;
// PNG compression runs on writer threads, and a feeder thread hands the frames
// to ffmpeg as YUV.

#include "tools/capture/capture.h"
#include "demo/fixed_rate.h"

#include "demo/demo.h"
#include "platform/audio.h"
#include "platform/offscreen/offscreen_gl.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "sound/sound.h"

#include "platform/gl.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

using namespace capture;
using namespace fixedrate;

namespace {

// Frames 0 to end - 1 are rendered, the ones wanted are written.
struct FrameRange {
    int64_t from = 0, end = 0;
    std::set<int64_t> atFrames;  // with --at, only these are written

    bool single() const { return !atFrames.empty(); }
    bool wanted(int64_t n) const { return single() ? atFrames.count(n) > 0 : n >= from; }
    int64_t written() const { return single() ? static_cast<int64_t>(atFrames.size()) : end - from; }
};

FrameRange frameRange(const Options& o) {
    FrameRange r;
    for (const int64_t ms : o.atMs) r.atFrames.insert(frameShownAt(ms, o.fps));
    const int64_t showEnd = firstFrameFrom(kShowEndMs, o.fps);
    r.from = r.single() ? *r.atFrames.begin() : firstFrameFrom(o.fromMs, o.fps);
    r.end = r.single() ? *r.atFrames.rbegin() + 1 : std::min(firstFrameFrom(o.toMs, o.fps), showEnd);
    if (r.from >= r.end) fail("no frame of the show lies in that range", 2);
    return r;
}

void writeSoundtrack(const std::string& out, const FrameRange& r, int fps) {
    const int64_t s0 = sampleOfFrame(r.from, fps, kAudioRate), s1 = sampleOfFrame(r.end, fps, kAudioRate);
    if (!writeWav(out + "/contrail.wav", s0, s1 - s0)) fail("cannot write " + out + "/contrail.wav");
}

// The clock that drawScene() reads instead of the music's play position.

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

void startScene(const plat::OffscreenGl& gl) {
    if (!gl.ok()) fail(std::string("no offscreen GL context (") + (gl.error() ? gl.error() : "?") + ")");
    fixedrate::start();
    plat::setEndProcessHook(noteShowOver);
    resizeScene(kWidth, kHeight);
    initSceneQuietly();
}

std::string clockText(double seconds) {
    const int s = static_cast<int>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

// A progress bar on standard error, when that is a terminal.
class Progress {
public:
    using Clock = std::chrono::steady_clock;

    void frameDone(int64_t done, int64_t total) {
        const auto now = Clock::now();
        if (!tty_ || (now - lastShown_ <= std::chrono::milliseconds(100) && done != total)) return;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? done / elapsed : 0.0;
        const int width = 30, filled = static_cast<int>(width * done / std::max<int64_t>(total, 1));
        std::fprintf(stderr, "\r[%s%s] %lld/%lld frames  %.1f fps  %s left ",
                     std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                     static_cast<long long>(done), static_cast<long long>(total), fps,
                     fps > 0 ? clockText((total - done) / fps).c_str() : "?:??");
        lastShown_ = now;
    }
    // Ends the bar's line; the seconds since the first frame.
    double end() const {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        if (tty_) std::fputc('\n', stderr);
        return seconds;
    }

private:
    const bool tty_ = isatty(2);
    const Clock::time_point start_ = Clock::now();
    Clock::time_point lastShown_ = start_;
};

// Draws frame n (a frame that is not kept draws one pixel only).
void drawFrame(int64_t n, int fps, bool keep) {
    fixedrate::beginFrame(n, fps, keep);
    drawScene();
}

// Reads the frame drawn; a frame equal to the one before shares its pixels and its PNG.
class FrameReader {
public:
    FramePtr read(const plat::OffscreenGl& gl, int64_t n) {
        std::shared_ptr<uint8_t> rgba = pool_.take();
        gl.readRgbaTopDown(rgba.get());
        sameAsLast_ = last_ && std::memcmp(rgba.get(), last_.get(), kFrameBytes) == 0;
        if (sameAsLast_) {
            rgba = last_;
        } else {
            last_ = rgba;
            lastPng_ = std::make_shared<EncodedPng>();
        }
        return std::make_shared<const Frame>(Frame{n, rgba, lastPng_});
    }
    // Whether the frame last read had the same pixels as the one read before it.
    bool sameAsLast() const { return sameAsLast_; }
    // Frame n as a copy of the frame last read, without drawing or reading anything.
    FramePtr repeat(int64_t n) const { return std::make_shared<const Frame>(Frame{n, last_, lastPng_}); }

private:
    PixelPool pool_;
    std::shared_ptr<uint8_t> last_;
    std::shared_ptr<EncodedPng> lastPng_;
    bool sameAsLast_ = false;
};

// The title and end cards are still pictures: drawing one reads nothing that
// changes from frame to frame, and leaves nothing behind that its next frame
// would draw differently. So once two kept frames of a card in a row come out
// identical, the rest of that card repeats them without drawing. A phase's
// first frame is always drawn (the end card's turns the flight's lighting off),
// and so is the second, to prove the point.
class StillCards {
public:
    explicit StillCards(bool enabled) : enabled_(enabled) {}
    bool canRepeat(Phase p) const { return enabled_ && still_ && p == phase_; }
    // After frame n in phase p was drawn; `same` if it was kept and equal to the frame before.
    void drawn(Phase p, bool kept, bool same) {
        still_ = (p == Phase::TitleCard || p == Phase::EndCard) && p == phase_ && kept && keptBefore_ && same;
        phase_ = p, keptBefore_ = kept;
    }

private:
    const bool enabled_;
    Phase phase_ = Phase::Over;
    bool keptBefore_ = false, still_ = false;
};

struct RenderCount {
    int64_t frames = 0, repeated = 0;
};

// Runs the show up to the range's end.
RenderCount renderFrames(const plat::OffscreenGl& gl, const FrameRange& range, const Options& o,
                         PngWriters& pngs, VideoEncoder& video, Progress& progress) {
    FrameReader reader;
    StillCards cards(o.skipStill);
    RenderCount count;
    int64_t& n = count.frames;
    for (; n < range.end && !showOver && !pngs.failed(); ++n) {
        const bool keep = range.wanted(n);
        const Phase phase = phaseAt(static_cast<int32_t>(clockOfFrame(n, o.fps)));
        FramePtr f;
        if (keep && cards.canRepeat(phase)) {
            f = reader.repeat(n);
            ++count.repeated;
        } else {
            drawFrame(n, o.fps, keep);
            if (keep)
                f = reader.read(gl, n);
            else
                glFinish();  // keeps the progress honest
            cards.drawn(phase, keep, keep && reader.sameAsLast());
        }
        if (f) {
            if (video.started()) video.push(f);
            pngs.push(std::move(f));
        }
        progress.frameDone(n + 1, range.end);
    }
    return count;
}

int report(RenderCount rendered, const FrameRange& range, const std::string& out, double seconds, bool video,
           bool videoOk) {
    std::fprintf(
        stderr,
        "%lld frames rendered (%lld repeating a still card), %lld written to %s in %.1f s (%.1f fps)%s\n",
        static_cast<long long>(rendered.frames), static_cast<long long>(rendered.repeated),
        static_cast<long long>(range.written()), out.c_str(), seconds, rendered.frames / seconds,
        video && videoOk ? ", with contrail.wav and contrail.mp4"
        : range.single() ? ""
                         : ", with contrail.wav");
    if (!videoOk) {
        std::fprintf(stderr, "contrail-capture: the MP4 failed; see %s/ffmpeg.log\n", out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    plat::setMp3Decoder(plat::mpg123Decoder());
    const Options o = parseOptions(argc, argv);
    const std::string out = absolute(o.out);
    prepareOutput(out);
    enterDataFolder(o.data);
    const FrameRange range = frameRange(o);
    if (!range.single()) writeSoundtrack(out, range, o.fps);

    signal(SIGPIPE, SIG_IGN);  // a dead encoder shows up as a failed write
    VideoEncoder video;
    if (!range.single() && o.video) video.start(out, o.fps);
    plat::OffscreenGl gl(kWidth, kHeight);
    startScene(gl);

    PngWriters pngs(out);
    Progress progress;
    const RenderCount rendered = renderFrames(gl, range, o, pngs, video, progress);
    pngs.finish();
    const bool videoOk = video.finish();
    const double seconds = progress.end();
    if (pngs.failed()) return 1;
    return report(rendered, range, out, seconds, video.started(), videoOk);
}
