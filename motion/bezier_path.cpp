// bezier_path.cpp - the flight path: one Bezier curve over all control points, sampled once.
#include "motion/motion.h"

#include <limits>

namespace {

// n! in 32-bit integers; 1 for n <= 0. Callers keep n <= 12, where it is exact.
int32_t factorial(int32_t n) {
    int32_t product = 1;
    for (int32_t k = n; k > 1; --k) product *= k;
    return product;
}

// base^exponent by squaring; anything to the power 0 (0 included) is 1.
double power(double base, int32_t exponent) {
    double result = 1.0;
    while (exponent > 0) {
        if (exponent & 1) result *= base;
        base *= base;
        exponent >>= 1;
    }
    return result;
}

}  // namespace

double bernsteinWeight(double t, int32_t i, int32_t n) {
    if (n < 0 || n >= BezierPath::maxControlPoints) return std::numeric_limits<double>::quiet_NaN();
    if (i < 0 || i > n) return 0.0;
    const int32_t a = factorial(n);
    const double p = power(1.0 - t, n - i);
    const int32_t q = factorial(i) * factorial(n - i);
    // Kept in this order so that every build gives the same bits.
    return power(t, i) * static_cast<double>(a) * p / static_cast<double>(q);
}

BezierPath::~BezierPath() {
    delete[] samples;
    delete[] controlPoints;
}

void BezierPath::build(int32_t n, Vec3* points, int32_t m) {
    // A path is built once, but a second build must not leak the first.
    delete[] samples;
    samples = nullptr;
    sampleCount = 0;
    if (points != controlPoints) delete[] controlPoints;
    controlPoints = points;
    controlCount = n < 0 ? 0 : n;

    if (n < 0 || n > maxControlPoints || m < 2 || (n > 0 && points == nullptr)) return;

    samples = new Vec3[m];
    sampleCount = m;
    const double last = static_cast<double>(m - 1);
    for (int32_t i = 0; i < m; ++i) {
        const double t = static_cast<double>(i) / last;
        for (int32_t j = 0; j < n; ++j) {
            samples[i].add(points[j].scaled(bernsteinWeight(t, j, n - 1)));
        }
    }
}

const Vec3* BezierPath::pointAt(int32_t index) const {
    if (index < 0 || index >= sampleCount) return nullptr;
    return &samples[index];
}
