// The title and end cards, the particle sprite and the hull texture.
#include "tools/assets/assets.h"

#include <cmath>

namespace assets {
namespace {

struct Rgb {
    double r, g, b;
};
Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Deep-space backdrop shared by both cards: a gradient, a wash of nebula and stars.
void paintSpace(Picture& pic, const Rgb& nebulaA, const Rgb& nebulaB, uint32_t seed) {
    const int w = pic.width, h = pic.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            Rgb c = mix({0.01, 0.015, 0.05}, {0.04, 0.01, 0.07}, v);
            const double n = fbm3(u * 3.0, v * 3.0, 0.5, 6, seed);
            const double wisp = smoothstep(0.42, 0.72, n) * (0.6 + 0.4 * std::sin(u * 4.0 + v * 2.0));
            const double tint = fbm3(u * 2.0 + 7.0, v * 2.0, 1.5, 3, seed + 9);
            const Rgb neb = mix(nebulaA, nebulaB, smoothstep(0.3, 0.7, tint));
            c.r += neb.r * wisp * 0.55;
            c.g += neb.g * wisp * 0.55;
            c.b += neb.b * wisp * 0.55;
            float* p = pic.at(x, y);
            p[0] = float(c.r);
            p[1] = float(c.g);
            p[2] = float(c.b);
        }
    Rng rng(seed);
    for (int i = 0; i < 900; ++i) {
        const double sx = rng.range(0, w), sy = rng.range(0, h);
        const double m = std::pow(rng.uniform(), 6.0);        // mostly faint stars
        const double bright = 0.25 + 1.6 * m;
        const double radius = 0.6 + 1.4 * m;
        const double hue = rng.uniform();
        const Rgb col = hue < 0.3 ? Rgb{1.0, 0.85, 0.7} : (hue < 0.7 ? Rgb{0.9, 0.95, 1.0} : Rgb{0.7, 0.8, 1.0});
        const int r = int(radius * 3) + 1;
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                const int px = int(sx) + dx, py = int(sy) + dy;
                const double ddx = px + 0.5 - sx, ddy = py + 0.5 - sy;
                double a = std::exp(-(ddx * ddx + ddy * ddy) / (radius * radius)) * bright;
                if (m > 0.3) {   // the brightest get a faint cross flare
                    a += 0.35 * bright * std::exp(-std::fabs(ddx) * 1.5) * std::exp(-ddy * ddy * 2.0) *
                         std::exp(-std::fabs(ddx) / (radius * 4));
                    a += 0.35 * bright * std::exp(-std::fabs(ddy) * 1.5) * std::exp(-ddx * ddx * 2.0) *
                         std::exp(-std::fabs(ddy) / (radius * 4));
                }
                pic.add(px, py, col.r, col.g, col.b, a);
            }
    }
}

// A glowing streak along a quadratic Bezier curve: thin and hot at the head (t = 1),
// wide, red and fading toward the tail.
void paintContrail(Picture& pic, double x0, double y0, double cx, double cy, double x1, double y1,
                   double strength) {
    const int steps = 1400;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double px = (1 - t) * (1 - t) * x0 + 2 * (1 - t) * t * cx + t * t * x1;
        const double py = (1 - t) * (1 - t) * y0 + 2 * (1 - t) * t * cy + t * t * y1;
        const double width = 1.2 + 9.0 * (1 - t) * (1 - t);
        const double a = strength * 0.05 * std::pow(t, 1.5) * (1.0 + 0.3 * std::sin(t * 60.0));
        const Rgb col = mix({1.0, 0.15, 0.05}, {1.0, 0.8, 0.5}, t * t);
        const int r = int(width * 2.5) + 1;
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                const double ddx = int(px) + dx + 0.5 - px, ddy = int(py) + dy + 0.5 - py;
                const double g = std::exp(-(ddx * ddx + ddy * ddy) / (width * width));
                pic.add(int(px) + dx, int(py) + dy, col.r, col.g, col.b, a * g);
            }
    }
    // The ship itself is a white-hot point with a soft halo.
    for (int dy = -40; dy <= 40; ++dy)
        for (int dx = -40; dx <= 40; ++dx) {
            const double d2 = dx * dx + dy * dy;
            const double a = strength * (1.4 * std::exp(-d2 / 6.0) + 0.25 * std::exp(-d2 / 300.0));
            pic.add(int(x1) + dx, int(y1) + dy, 1.0, 0.9, 0.8, a);
        }
}

void blurMask(std::vector<float>& m, int w, int h, int radius) {
    std::vector<float> tmp(m.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int xx = x + k;
                    if (xx >= 0 && xx < w) s += m[size_t(y) * w + xx];
                }
                tmp[size_t(y) * w + x] = float(s / (2 * radius + 1));
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int yy = y + k;
                    if (yy >= 0 && yy < h) s += tmp[size_t(yy) * w + x];
                }
                m[size_t(y) * w + x] = float(s / (2 * radius + 1));
            }
    }
}

struct TextStyle {
    Rgb top, bottom;      // fill gradient
    Rgb glow;             // additive halo colour (black: none)
    double glowStrength;
};

// Draws text centred on centreX with its cap line at capTop.
void drawText(Picture& pic, const std::string& text, double scale, double centreX, double capTop,
              const TextStyle& style) {
    const TextMask mask = renderText(text, scale);
    const int ox = int(std::lround(centreX - textWidth(text, scale) / 2.0 - scale));
    const int oy = int(std::lround(capTop - scale));
    const int pad = int(scale * 2) + 4;
    const int gw = mask.width + 2 * pad, gh = mask.height + 2 * pad;
    std::vector<float> halo(size_t(gw) * gh, 0.0f);
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) halo[size_t(y + pad) * gw + x + pad] = mask.alpha[size_t(y) * mask.width + x];
    blurMask(halo, gw, gh, int(scale * 0.8) + 1);
    std::vector<float> shadow = halo;
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            const int px = ox - pad + x, py = oy - pad + y;
            // Darken under the glyphs so they stand off the stars, then add the halo.
            pic.blend(px, py, 0, 0, 0.02, 0.6 * clamp01(shadow[size_t(y) * gw + x] * 2.0));
            pic.add(px, py, style.glow.r, style.glow.g, style.glow.b, style.glowStrength * halo[size_t(y) * gw + x]);
        }
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) {
            const double a = mask.alpha[size_t(y) * mask.width + x];
            if (a <= 0) continue;
            const double t = clamp01((y / scale - 1.0) / 7.0);
            const Rgb c = mix(style.top, style.bottom, t);
            pic.blend(ox + x, oy + y, c.r, c.g, c.b, a);
        }
}

}  // namespace

Picture makeTitleCard() {
    Picture pic(512, 512);
    paintSpace(pic, {0.25, 0.35, 0.9}, {0.6, 0.15, 0.7}, 11);
    // A planet's rim low on the right, lit from the upper left.
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x) {
            const double dx = x - 470.0, dy = y - 760.0, d = std::sqrt(dx * dx + dy * dy);
            const double radius = 400.0;
            if (d < radius) {
                const double nx = dx / radius, ny = dy / radius;
                const double lit = clamp01(-(nx * 0.6 + ny * 0.8)) * 0.9;
                const double band = 0.5 + 0.5 * std::sin(dy * 0.05 + 3.0 * fbm3(x * 0.01, y * 0.04, 2.0, 4, 5));
                const Rgb c = mix({0.05, 0.03, 0.08}, {0.35, 0.2, 0.35}, band * 0.5);
                pic.blend(x, y, c.r * (0.15 + lit), c.g * (0.15 + lit), c.b * (0.15 + lit), 1.0);
            }
            const double rim = std::exp(-std::pow((d - radius) / 9.0, 2.0)) * clamp01(-(dx * 0.6 + dy * 0.8) / d + 0.2);
            pic.add(x, y, 0.4, 0.7, 1.0, rim * 0.9);
        }
    paintContrail(pic, -30, 500, 120, 330, 420, 330, 2.2);
    const TextStyle big{{1.0, 1.0, 1.0}, {0.55, 0.8, 1.0}, {0.2, 0.45, 1.0}, 0.9};
    drawText(pic, "contrail", 10.0, 256, 150, big);
    const TextStyle small{{0.9, 0.9, 1.0}, {0.7, 0.75, 0.9}, {0.1, 0.2, 0.5}, 0.6};
    drawText(pic, "a real-time demo", 3.0, 256, 262, small);
    drawText(pic, "music, ship and pictures made from code", 2.0, 256, 470, small);
    return pic;
}

Picture makeEndCard() {
    Picture pic(512, 512);
    paintSpace(pic, {0.9, 0.3, 0.2}, {0.5, 0.1, 0.6}, 23);
    paintContrail(pic, 540, 420, 300, 470, 60, 430, 1.2);
    const TextStyle big{{1.0, 0.95, 0.85}, {1.0, 0.65, 0.45}, {1.0, 0.35, 0.15}, 0.8};
    drawText(pic, "thanks for", 7.0, 256, 70, big);
    drawText(pic, "watching", 7.0, 256, 150, big);
    const TextStyle label{{0.75, 0.8, 0.95}, {0.6, 0.65, 0.85}, {0.1, 0.15, 0.4}, 0.5};
    const TextStyle name{{1.0, 1.0, 1.0}, {0.8, 0.9, 1.0}, {0.2, 0.4, 1.0}, 0.7};
    drawText(pic, "code / music / graphics", 3.0, 256, 262, label);
    drawText(pic, "the contrail team", 4.0, 256, 296, name);
    drawText(pic, "synthesised, lofted and painted", 2.0, 256, 356, label);
    drawText(pic, "by our own generator", 2.0, 256, 378, label);
    drawText(pic, "the end", 3.0, 256, 468, label);
    return pic;
}

Picture makeParticle() {
    // A warm glow: white-hot core, orange body, red rim. In the demo lighting is on
    // while the trail is drawn, so the sprite's own colour is what shows. Kept dim
    // so that hundreds of overlapping sprites build up instead of burning out, and
    // exactly black from the inscribed circle outward so additive blending leaves
    // no square edge.
    Picture pic(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double dx = (x + 0.5 - 32) / 32, dy = (y + 0.5 - 32) / 32;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double edge = 1.0 - smoothstep(0.55, 1.0, r);
            const double core = std::exp(-r * r * 40.0);
            const double v = (0.45 * std::exp(-r * r * 6.0) + 0.25 * core) * edge * (r >= 1.0 ? 0.0 : 1.0);
            float* p = pic.at(x, y);
            p[0] = float(v);
            p[1] = float(v * (0.45 + 0.5 * core));
            p[2] = float(v * (0.15 + 0.6 * core));
        }
    return pic;
}

// ---- hull texture ---------------------------------------------------------------
// The mesh maps its parts onto fixed rectangles of this atlas (u right, v up):
//   fuselage u 0..1,  v 0.5..1    (u around the hull, v from tail to nose)
//   canopy   u 0..0.5, v 0.25..0.5
//   fin      u 0.5..1, v 0.25..0.5
//   wings    u 0..0.5, v 0..0.25  (u root to tip, v trailing to leading edge)
//   engines  u 0.5..1, v 0..0.25  (u along the nacelle profile, v around)

namespace {

double panelLines(double a, double b, int na, int nb, double width) {
    const double fa = a * na - std::floor(a * na), fb = b * nb - std::floor(b * nb);
    const double da = std::min(fa, 1 - fa) / na, db = std::min(fb, 1 - fb) / nb;
    return 1.0 - 0.55 * (1 - smoothstep(0, width, da)) - 0.55 * (1 - smoothstep(0, width, db)) * (da >= width ? 1 : 0.3);
}

Rgb hullMetal(double a, double b, uint32_t seed) {
    const double n = fbm3(a * 40, b * 40, 0.5, 4, seed);
    const int cell = int(std::floor(a * 16)) * 31 + int(std::floor(b * 12));
    const double tone = 0.7 + 0.1 * hashUnit(cell, 0, 0, seed) + 0.12 * (n - 0.5);
    return {tone * 0.93, tone * 0.95, tone};
}

Rgb fuselage(double around, double along) {
    // around: 0 = keel, 0.5 = spine; along: 0 = tail, 1 = nose.
    Rgb c = hullMetal(around, along, 3);
    const double line = panelLines(around, along, 16, 12, 0.0035);
    c = {c.r * line, c.g * line, c.b * line};
    const double belly = smoothstep(0.22, 0.05, std::min(around, 1 - around));
    c = mix(c, {0.22, 0.23, 0.27}, belly * 0.8);
    // A broad and a thin red stripe each side of the spine.
    const double side = std::fabs(around - 0.5);
    const double stripe = smoothstep(0.012, 0.006, std::fabs(side - 0.055)) +
                          smoothstep(0.008, 0.004, std::fabs(side - 0.085));
    if (along > 0.08 && along < 0.9) c = mix(c, {0.75, 0.08, 0.05}, clamp01(stripe));
    // Chevrons on the flanks.
    for (int k = 0; k < 3; ++k) {
        const double centre = 0.62 + 0.05 * k;
        const double d = std::fabs(along - centre - 0.12 * std::fabs(side - 0.25));
        if (side > 0.15 && side < 0.33 && d < 0.008) c = mix(c, {0.95, 0.6, 0.1}, 0.9);
    }
    // Lit portholes along both flanks.
    const double holes = along * 20 - std::floor(along * 20);
    const double hd = std::hypot((holes - 0.5) / 20 * 4.0, (side - 0.2) * 1.0);
    if (along > 0.35 && along < 0.7) c = mix(c, {0.6, 0.85, 1.0}, smoothstep(0.012, 0.007, hd));
    // Scorched tail.
    c = mix(c, {0.08, 0.07, 0.08}, smoothstep(0.1, 0.0, along) * 0.8);
    return c;
}

Rgb canopy(double a, double b) {
    // a: side to side, b: back to front of the bubble.
    const Rgb glass = mix({0.02, 0.05, 0.15}, {0.15, 0.35, 0.6}, clamp01(b));
    const double highlight = std::exp(-std::pow((a - 0.35 - 0.1 * b) / 0.05, 2.0)) * 0.8;
    Rgb c = {glass.r + highlight, glass.g + highlight, glass.b + highlight};
    const double frame = std::fabs(b - 0.55) < 0.02 || std::fabs(a - 0.5) < 0.012 ? 1.0 : 0.0;
    return mix(c, {0.3, 0.3, 0.33}, frame);
}

Rgb wing(double span, double chord) {
    Rgb c = hullMetal(span, chord, 17);
    const double line = panelLines(span, chord, 8, 4, 0.006);
    c = {c.r * line, c.g * line, c.b * line};
    if (span > 0.82) c = mix(c, {0.8, 0.1, 0.05}, 1.0);                  // red tips
    if (span > 0.79 && span < 0.82) c = mix(c, {0.95, 0.95, 0.95}, 1.0);
    if (chord > 0.9) c = mix(c, {0.25, 0.25, 0.28}, 0.8);                // leading edge
    if (span > 0.3 && span < 0.7 && std::fabs(chord - 0.45) < 0.04 && int(span * 30) % 2 == 0)
        c = mix(c, {0.95, 0.6, 0.1}, 0.9);                               // hazard dashes
    return c;
}

Rgb engine(double along, double around) {
    // along: 0 intake ... 0.62 nozzle lip ... 1 burner centre.
    if (along < 0.62) {
        Rgb c = hullMetal(along, around, 29);
        c = {c.r * 0.7, c.g * 0.7, c.b * 0.75};
        const double rings = std::fabs(along * 10 - std::floor(along * 10) - 0.5);
        if (rings > 0.46) c = {c.r * 0.5, c.g * 0.5, c.b * 0.5};
        if (along > 0.5) c = mix(c, {0.35, 0.25, 0.45}, (along - 0.5) / 0.12);   // heat tint
        return c;
    }
    const double t = (along - 0.62) / 0.38;
    if (t < 0.35) return mix({0.18, 0.16, 0.2}, {0.9, 0.3, 0.1}, t / 0.35);
    return mix({1.0, 0.45, 0.1}, {1.0, 0.95, 0.8}, (t - 0.35) / 0.65);
}

Rgb fin(double a, double b) {
    Rgb c = hullMetal(a, b, 41);
    const double line = panelLines(a, b, 4, 6, 0.008);
    c = {c.r * line, c.g * line, c.b * line};
    if (b > 0.78) c = mix(c, {0.8, 0.1, 0.05}, 1.0);
    if (b > 0.74 && b < 0.78) c = mix(c, {0.95, 0.95, 0.95}, 1.0);
    return c;
}

}  // namespace

Picture makeHullTexture() {
    const int size = 512;
    Picture pic(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double u = (x + 0.5) / size, v = 1.0 - (y + 0.5) / size;
            Rgb c;
            if (v >= 0.5) c = fuselage(u, (v - 0.5) / 0.5);
            else if (v >= 0.25) c = u < 0.5 ? canopy(u / 0.5, (v - 0.25) / 0.25) : fin((u - 0.5) / 0.5, (v - 0.25) / 0.25);
            else c = u < 0.5 ? wing(u / 0.5, v / 0.25) : engine((u - 0.5) / 0.5, v / 0.25);
            float* p = pic.at(x, y);
            p[0] = float(c.r);
            p[1] = float(c.g);
            p[2] = float(c.b);
        }
    return pic;
}

}  // namespace assets
