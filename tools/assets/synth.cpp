// The synthesiser: band-limited oscillators, a state-variable filter, envelopes,
// drum voices, a ping-pong echo and a small reverb.
#include "tools/assets/assets.h"

#include <cmath>

namespace assets {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = kSampleRate;

// Deterministic white noise for the drums.
class Noise {
public:
    explicit Noise(uint32_t seed) : state(seed | 1u) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) * (2.0 / 4294967296.0) - 1.0;
    }
private:
    uint32_t state;
};

double polyBlep(double t, double dt) {
    if (t < dt) {
        const double x = t / dt;
        return x + x - x * x - 1;
    }
    if (t > 1 - dt) {
        const double x = (t - 1) / dt;
        return x * x + x + x + 1;
    }
    return 0;
}

// Saw without the aliasing of a naive ramp.
struct Saw {
    double phase = 0;
    double next(double hz) {
        const double dt = hz / kRate;
        const double v = 2 * phase - 1 - polyBlep(phase, dt);
        phase += dt;
        if (phase >= 1) phase -= 1;
        return v;
    }
};

// Zero-delay-feedback state-variable filter.
struct Svf {
    double ic1 = 0, ic2 = 0, a1 = 0, a2 = 0, a3 = 0, k = 1;
    void set(double hz, double q) {
        hz = std::fmin(std::fmax(hz, 20.0), kRate * 0.45);
        const double g = std::tan(kPi * hz / kRate);
        k = 1 / q;
        a1 = 1 / (1 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    double low = 0, band = 0, high = 0;
    void run(double x) {
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

// Attack, then hold at full level until the note ends, then an exponential release.
double envelope(double t, double length, double attack, double release) {
    if (t < 0) return 0;
    double level = t < attack ? t / attack : 1.0;
    if (t > length) level *= std::exp(-(t - length) / release);
    return level;
}

// Writes one note's samples into the bus at its place in the mix.
class Out {
public:
    Out(Bus& bus, const Place& place, long first, long count)
        : bus(bus), first(first), count(count), fade(std::lround(0.01 * kRate)) {
        const double angle = (place.pan + 1) * kPi / 4;   // constant-power pan
        left = place.gain * std::cos(angle);
        right = place.gain * std::sin(angle);
        reverb = place.gain * place.reverb;
        echo = place.gain * place.echo;
    }
    void put(long i, double sample) {
        const long index = first + i;
        if (index < 0 || index >= long(bus.left.size())) return;
        // The last few milliseconds fade out so that no voice stops with a click.
        if (count - i < fade) sample *= double(count - i) / double(fade);
        bus.left[size_t(index)] += float(sample * left);
        bus.right[size_t(index)] += float(sample * right);
        bus.reverb[size_t(index)] += float(sample * reverb);
        bus.echo[size_t(index)] += float(sample * echo);
    }
private:
    Bus& bus;
    long first, count, fade;
    double left, right, reverb, echo;
};

long sampleAt(double seconds) { return std::lround(seconds * kRate); }

}  // namespace

double midiHz(double note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

void padNote(Bus& bus, double start, double length, int note, double cutoff, const Place& place) {
    // Three detuned saws, spread left to right, through a soft low-pass.
    const double release = 1.2;
    Saw saws[3];
    saws[1].phase = 0.33;
    saws[2].phase = 0.71;
    const double hz[3] = {midiHz(note - 0.11), midiHz(note), midiHz(note + 0.12)};
    Svf filter;
    filter.set(cutoff, 0.7);
    const long count = sampleAt(length + release * 4);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        const double env = envelope(t, length, 0.8, release);
        double v = 0;
        for (int s = 0; s < 3; ++s) v += saws[s].next(hz[s]);
        if ((i & 31) == 0) filter.set(cutoff * (0.8 + 0.2 * std::sin(t * 1.3 + note)), 0.7);
        filter.run(v / 3);
        out.put(i, filter.low * env);
    }
}

void pluckNote(Bus& bus, double start, int note, double brightness, const Place& place) {
    const double hz = midiHz(note);
    Saw saw;
    Svf filter;
    const long count = sampleAt(0.6);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        if ((i & 15) == 0) filter.set(300 + brightness * 5000 * std::exp(-t / 0.08), 1.4);
        filter.run(saw.next(hz));
        const double env = std::exp(-t / 0.14) * std::fmin(1.0, t / 0.002);
        out.put(i, filter.low * env);
    }
}

void bassNote(Bus& bus, double start, double length, int note, double brightness, const Place& place) {
    const double hz = midiHz(note);
    Saw saw;
    Svf filter;
    double sub = 0;
    const long count = sampleAt(length + 0.2);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        if ((i & 15) == 0) filter.set(120 + brightness * 1400 * std::exp(-t / 0.09), 1.1);
        filter.run(saw.next(hz));
        sub += 2 * kPi * hz / kRate;
        const double env = envelope(t, length, 0.004, 0.03);
        out.put(i, (filter.low * 0.8 + 0.6 * std::sin(sub)) * env);
    }
}

void leadNote(Bus& bus, double start, double length, int note, const Place& place) {
    Saw a, b;
    b.phase = 0.5;
    Svf filter;
    const long count = sampleAt(length + 0.5);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        // Vibrato creeps in on held notes.
        const double vib = 0.18 * smoothstep(0.15, 0.5, t) * std::sin(2 * kPi * 5.2 * t);
        const double hz = midiHz(note + vib);
        if ((i & 15) == 0) filter.set(1400 + 2600 * std::exp(-t / 0.25), 0.9);
        filter.run(0.5 * a.next(hz * 1.003) + 0.5 * b.next(hz * 0.997));
        const double env = envelope(t, length, 0.012, 0.12) * (0.8 + 0.2 * std::exp(-t / 0.2));
        out.put(i, filter.low * env);
    }
}

void bellNote(Bus& bus, double start, int note, const Place& place) {
    // Two-operator FM: a bright strike that mellows as the index decays.
    const double hz = midiHz(note);
    const long count = sampleAt(3.0);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        const double index = 2.2 * std::exp(-t / 0.4);
        const double mod = std::sin(2 * kPi * hz * 3.5 * t);
        const double v = std::sin(2 * kPi * hz * t + index * mod);
        const double env = std::exp(-t / 0.9) * std::fmin(1.0, t / 0.003);
        out.put(i, v * env);
    }
}

void kick(Bus& bus, double start, const Place& place) {
    double phase = 0;
    const long count = sampleAt(0.9);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        const double hz = 45 + 110 * std::exp(-t / 0.035);
        phase += 2 * kPi * hz / kRate;
        const double body = std::sin(phase) * std::exp(-t / 0.22);
        const double click = std::exp(-t / 0.003) * 0.4;
        out.put(i, std::tanh(1.5 * (body + click)));
    }
}

void snare(Bus& bus, double start, const Place& place) {
    Noise noise(uint32_t(sampleAt(start)) * 2654435761u + 7u);
    Svf filter;
    filter.set(3200, 0.8);
    double phase = 0;
    const long count = sampleAt(0.3);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        filter.run(noise.next());
        phase += 2 * kPi * (180 + 60 * std::exp(-t / 0.02)) / kRate;
        const double v = filter.band * 1.4 * std::exp(-t / 0.07) + std::sin(phase) * 0.6 * std::exp(-t / 0.04);
        out.put(i, v);
    }
}

void hat(Bus& bus, double start, double decay, const Place& place) {
    Noise noise(uint32_t(sampleAt(start)) * 2246822519u + 3u);
    Svf filter;
    filter.set(8000, 0.9);
    const long count = sampleAt(decay * 6);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        filter.run(noise.next());
        out.put(i, filter.high * std::exp(-t / decay));
    }
}

void crash(Bus& bus, double start, const Place& place) {
    Noise noise(uint32_t(sampleAt(start)) * 3266489917u + 11u);
    Svf filter;
    filter.set(5000, 0.6);
    const long count = sampleAt(3.5);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        filter.run(noise.next());
        out.put(i, filter.high * std::exp(-t / 0.9) * std::fmin(1.0, t / 0.002));
    }
}

void riser(Bus& bus, double start, double length, const Place& place) {
    // Noise through a band-pass that sweeps up, swelling into the downbeat.
    Noise noise(uint32_t(sampleAt(start)) * 668265263u + 5u);
    Svf filter;
    const long count = sampleAt(length);
    Out out(bus, place, sampleAt(start), count);
    for (long i = 0; i < count; ++i) {
        const double x = double(i) / double(count);
        if ((i & 15) == 0) filter.set(300 * std::pow(30.0, x), 3.0);
        filter.run(noise.next());
        out.put(i, filter.band * x * x);
    }
}

Stereo mixDown(Bus& bus, double echoSeconds) {
    const size_t n = bus.left.size();
    // Ping-pong echo: left first, then right, each repeat darker and quieter.
    const size_t d = size_t(std::lround(echoSeconds * kRate));
    std::vector<float> lineL(n), lineR(n), outL(n), outR(n);
    double damp = 0;
    for (size_t i = 0; i < n; ++i) {
        outL[i] = i >= d ? lineL[i - d] : 0.0f;
        outR[i] = i >= d ? lineR[i - d] : 0.0f;
        damp += 0.4 * (outR[i] - damp);
        lineL[i] = float(bus.echo[i] + 0.45 * damp);
        lineR[i] = outL[i];
        bus.left[i] += 0.5f * outL[i];
        bus.right[i] += 0.5f * outR[i];
        bus.reverb[i] += 0.2f * (outL[i] + outR[i]);
    }
    // Reverb: eight damped combs and four all-passes per side, the right side
    // slightly longer for width.
    const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    const int passes[4] = {556, 441, 341, 225};
    Stereo out;
    out.left.assign(n, 0.0f);
    out.right.assign(n, 0.0f);
    for (int side = 0; side < 2; ++side) {
        std::vector<float> wet(n, 0.0f);
        const int spread = side * 23;
        for (int c = 0; c < 8; ++c) {
            const size_t len = size_t((combs[c] + spread) * kRate / 44100.0);
            std::vector<float> buf(len, 0.0f);
            size_t pos = 0;
            double filt = 0;
            for (size_t i = 0; i < n; ++i) {
                const double y = buf[pos];
                filt = y * 0.75 + filt * 0.25;
                buf[pos] = float(bus.reverb[i] * 0.015 + filt * 0.86);
                wet[i] += float(y);
                if (++pos == len) pos = 0;
            }
        }
        for (int a = 0; a < 4; ++a) {
            const size_t len = size_t((passes[a] + spread) * kRate / 44100.0);
            std::vector<float> buf(len, 0.0f);
            size_t pos = 0;
            for (size_t i = 0; i < n; ++i) {
                const double b = buf[pos];
                const double x = wet[i];
                buf[pos] = float(x + b * 0.5);
                wet[i] = float(b - x);
                if (++pos == len) pos = 0;
            }
        }
        std::vector<float>& dst = side == 0 ? out.left : out.right;
        const std::vector<float>& dry = side == 0 ? bus.left : bus.right;
        for (size_t i = 0; i < n; ++i) dst[i] = dry[i] + 3.0f * wet[i];
    }
    return out;
}

}  // namespace assets
