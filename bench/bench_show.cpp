// contrail_bench_show: the show's set-up and every one of its frames, timed offscreen.
//
// The demo's own initScene and drawScene run, in a process set up as the demo
// sets itself up (plat::tuneAllocator), in an offscreen 640x480 context
// (Mesa llvmpipe) on the capture's fixed-rate clock: frame n shows music
// position n * 1000 / fps ms. Nothing is written to disk and the mesh trace
// goes to /dev/null. A frame is drawScene() plus glFinish(); before each one
// an empty frame - the same context cleared and finished - is timed as the
// floor, so every figure has a peer measured at the same moment of the same
// run on a shared, noisy machine.
//
// It prints the set-up's steps in their order, each phase's frame times beside
// the floor's, the heap allocations made while drawing (the phase's first
// frame apart from the rest) and the peak resident set.
//
//   contrail_bench_show [--data DIR] [--fps N] [--set-up-only]

#include "tests/support/alloc_counter.h"

#include "demo/demo.h"
#include "platform/audio.h"
#include "platform/offscreen/offscreen_gl.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "show/show.h"
#include "sound/sound.h"
#include "demo/fixed_rate.h"

#include "platform/gl.h"

#include <fcntl.h>
#include <time.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
    std::string data = CONTRAIL_DATA_DIR;
    int fps = 60;
    bool setUpOnly = false;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--data" && i + 1 < argc) {
            o.data = argv[++i];
        } else if (a == "--set-up-only") {
            o.setUpOnly = true;
        } else if (a == "--fps" && i + 1 < argc) {
            o.fps = std::atoi(argv[++i]);
            if (o.fps < 1 || o.fps > 1000) o.fps = 60;
        } else {
            std::fprintf(stderr, "usage: contrail_bench_show [--data DIR] [--fps N] [--set-up-only]\n");
            std::exit(2);
        }
    }
    return o;
}

double peakRssMb() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// ---- set-up -------------------------------------------------------------------

// CPU time of this thread, and of the whole process (every thread), in ms.
double cpuMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Times {
    double wall = 0, thread = 0, process = 0;
    static Times now() {
        return {std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(),
                cpuMs(CLOCK_THREAD_CPUTIME_ID), cpuMs(CLOCK_PROCESS_CPUTIME_ID)};
    }
    Times operator-(const Times& o) const { return {wall - o.wall, thread - o.thread, process - o.process}; }
};

struct Step {
    const char* name;
    Times spent;
};
std::vector<Step> steps;
Times stepStart;

void noteStep(const char* name) {
    const Times now = Times::now();
    steps.push_back({name, now - stepStart});
    stepStart = now;
}

// initScene with the mesh trace sent to /dev/null.
Times timeSetUp() {
    std::fflush(stdout);
    const int saved = dup(1), devNull = open("/dev/null", O_WRONLY);
    if (saved >= 0 && devNull >= 0) dup2(devNull, 1);
    steps.reserve(16);
    initSceneStepDone = noteStep;
    const Times start = Times::now();
    stepStart = start;
    initScene();
    const Times total = Times::now() - start;
    initSceneStepDone = nullptr;
    std::fflush(stdout);
    if (saved >= 0 && devNull >= 0) dup2(saved, 1);
    if (devNull >= 0) close(devNull);
    if (saved >= 0) close(saved);
    return total;
}

// ---- frames -------------------------------------------------------------------

void ignoreEnd(int) {}

struct Spread {
    double median = 0, p99 = 0, worst = 0;
};

Spread spreadOf(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const size_t p99 = (n * 99 + 99) / 100 - 1;  // the smallest time at or above 99 % of the frames
    return {n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v[std::min(p99, n - 1)], v.back()};
}

struct PhaseRecord {
    explicit PhaseRecord(const char* phaseName) : name(phaseName) {}
    const char* name;
    std::vector<double> frame, floor;
    // Allocations in the phase's first frame and in every frame after it: the
    // program's and all of the drawing thread's, then those of every thread.
    alloccount::Counts first, later;
    uint64_t firstAllThreads = 0, laterAllThreads = 0;
    double cpuSpentMs = 0;  // every thread's CPU time while drawing (the driver's rasterising threads too)
};

double emptyFrameMs() {
    const auto start = Clock::now();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFinish();
    return msSince(start);
}

void runShow(int fps, std::vector<PhaseRecord>& phases) {
    const int64_t frames = fixedrate::firstFrameFrom(show::kEndMs, fps);
    for (auto& p : phases)
        p.frame.reserve(static_cast<size_t>(frames)), p.floor.reserve(static_cast<size_t>(frames));
    for (int64_t n = 0; n < frames; ++n) {
        fixedrate::beginFrame(n, fps);
        PhaseRecord& phase = phases[static_cast<size_t>(phaseAt(fixedrate::clockMs()))];
        phase.floor.push_back(emptyFrameMs());
        const bool first = phase.frame.empty();
        const alloccount::Counts mine = alloccount::ofThisThread();
        const uint64_t all = alloccount::ofAllThreads();
        const auto start = Clock::now();
        const double cpuStart = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
        {
            const alloccount::Watch watch;
            drawScene();
            glFinish();
        }
        phase.frame.push_back(msSince(start));
        phase.cpuSpentMs += cpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
        const alloccount::Counts now = alloccount::ofThisThread();
        alloccount::Counts& counts = first ? phase.first : phase.later;
        counts.program += now.program - mine.program;
        counts.all += now.all - mine.all;
        (first ? phase.firstAllThreads : phase.laterAllThreads) += alloccount::ofAllThreads() - all;
    }
}

// ---- report -------------------------------------------------------------------

void printSetUp(const Times& total, double floorMs) {
    std::printf("scene set-up (initScene): %.2f ms = %.2f x the 40 ms budget = %.0f empty frames\n",
                total.wall, total.wall / 40.0, total.wall / floorMs);
    std::printf("  %-12s %9s %7s %10s %10s\n", "step", "wall ms", "share", "CPU: this", "all threads");
    Times accounted;
    auto line = [&](const char* name, const Times& t) {
        std::printf("  %-12s %9.2f %6.1f%% %10.2f %10.2f\n", name, t.wall, 100.0 * t.wall / total.wall,
                    t.thread, t.process);
    };
    for (const Step& s : steps) {
        line(s.name, s.spent);
        accounted = {accounted.wall + s.spent.wall, accounted.thread + s.spent.thread,
                     accounted.process + s.spent.process};
    }
    line("the rest", total - accounted);
    line("total", total);
}

double sumOf(const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v) sum += x;
    return sum;
}

void printPhases(const std::vector<PhaseRecord>& phases, int fps) {
    std::printf(
        "\nframe times, ms (frame = drawScene + glFinish; floor = clear + glFinish, just before it)\n");
    std::printf("  %-16s %6s | %8s %8s %8s | %8s %8s %8s | %7s | %s\n", "phase", "frames", "median", "p99",
                "worst", "floor", "p99", "worst", "CPU s", "median / floor");
    for (const PhaseRecord& p : phases) {
        if (p.frame.empty()) continue;
        const Spread f = spreadOf(p.frame), e = spreadOf(p.floor);
        std::printf("  %-16s %6zu | %8.3f %8.3f %8.3f | %8.3f %8.3f %8.3f | %7.2f | %6.1f\n", p.name,
                    p.frame.size(), f.median, f.p99, f.worst, e.median, e.p99, e.worst, p.cpuSpentMs / 1e3,
                    f.median / e.median);
    }
    double drawn = 0, floor = 0, frames = 0;
    for (const PhaseRecord& p : phases)
        drawn += sumOf(p.frame) / 1e3, floor += sumOf(p.floor) / 1e3, frames += p.frame.size();
    const double shown = frames / fps;
    std::printf(
        "  all frames drawn in %.2f s, %.2f x as fast as the %.1f s they show (empty frames: %.2f s, %.1f "
        "x)\n",
        drawn, shown / drawn, shown, floor, shown / floor);
}

void printAllocations(const std::vector<PhaseRecord>& phases) {
    std::printf(
        "\nheap allocations while drawing: the program's / the drawing thread's (GL driver included)"
        " / every thread's\n");
    std::printf("  %-16s %26s %26s\n", "phase", "first frame", "later frames");
    auto counts = [](const alloccount::Counts& c, uint64_t all) {
        char text[64];
        std::snprintf(text, sizeof text, "%llu / %llu / %llu", static_cast<unsigned long long>(c.program),
                      static_cast<unsigned long long>(c.all), static_cast<unsigned long long>(all));
        return std::string(text);
    };
    for (const PhaseRecord& p : phases) {
        if (p.frame.empty()) continue;
        std::printf("  %-16s %26s %26s\n", p.name, counts(p.first, p.firstAllThreads).c_str(),
                    counts(p.later, p.laterAllThreads).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    plat::tuneAllocator();  // as the demo sets itself up
    if (chdir(o.data.c_str()) != 0) {
        std::fprintf(stderr, "contrail_bench_show: no data folder at %s (see --data)\n", o.data.c_str());
        return 1;
    }
    plat::setMp3Decoder(plat::mpg123Decoder());
    plat::OffscreenGl gl(show::kWidth, show::kHeight);
    if (!gl.ok()) {
        std::fprintf(stderr, "contrail_bench_show: no offscreen GL context (%s)\n",
                     gl.error() ? gl.error() : "?");
        return 1;
    }
    alloccount::mapCode();
    fixedrate::start();
    plat::setEndProcessHook(ignoreEnd);
    resizeScene(show::kWidth, show::kHeight);
    // The context's first frames warm the driver up; the floor before set-up is the median of a few.
    std::vector<double> warm;
    for (int i = 0; i < 31; ++i) warm.push_back(emptyFrameMs());
    const double contextRss = peakRssMb();

    const Times setUp = timeSetUp();
    std::vector<PhaseRecord> phases;
    for (const char* name : {"title card", "flight scene 1", "flight scene 2", "end card"})
        phases.emplace_back(name);
    if (!o.setUpOnly) runShow(o.fps, phases);

    std::printf("contrail_bench_show: %d fps, data from %s\n\n", o.fps, o.data.c_str());
    printSetUp(setUp, spreadOf(warm).median);
    if (!o.setUpOnly) {
        printPhases(phases, o.fps);
        printAllocations(phases);
    }
    const double peak = peakRssMb();
    std::printf("\npeak RSS %.1f MB = %.2f x the %.1f MB of the bare GL context\n", peak, peak / contextRss,
                contextRss);
    return 0;
}
