// bezier_path_test.cpp - the path's samples, control points and limits.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "motion/motion.h"

namespace {

// The first flight path: 13 points from behind the viewer into the distance.
Vec3* flightPoints() {
    static const double table[13][3] = {
        {0, 0, 5},       {-10, -1, 0},   {15, -2, -20},  {-15, -3, -40}, {0, -4, -60},
        {20, -5, -80},   {40, -6, -100}, {20, -7, -120}, {-40, -8, -140}, {-20, -9, -160},
        {0, -10, -180},  {30, -11, -200}, {40, -15, -220}};
    Vec3* points = new Vec3[13];
    for (int i = 0; i < 13; ++i) points[i] = Vec3(table[i][0], table[i][1], table[i][2]);
    return points;
}

bool sameBits(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof(Vec3)) == 0; }

}  // namespace

TEST(Vec3, ScaledLeavesOriginalAndAddAccumulates) {
    const Vec3 v(1.5, -2.0, 4.0);
    const Vec3 s = v.scaled(2.0);
    EXPECT_EQ(s.x, 3.0);
    EXPECT_EQ(s.y, -4.0);
    EXPECT_EQ(s.z, 8.0);
    EXPECT_EQ(v.x, 1.5);
    Vec3 sum;
    EXPECT_EQ(sum.x + sum.y + sum.z, 0.0);
    sum.add(v).add(s);
    EXPECT_EQ(sum.x, 4.5);
    EXPECT_EQ(sum.y, -6.0);
    EXPECT_EQ(sum.z, 12.0);
}

TEST(BernsteinWeight, TwelfthDegreeAtHalfIsBinomialOver4096) {
    double binomial = 1.0;  // C(12, i), built up independently of factorials
    for (int i = 0; i <= 12; ++i) {
        EXPECT_EQ(bernsteinWeight(0.5, i, 12), binomial / 4096.0) << "i = " << i;
        binomial = binomial * (12 - i) / (i + 1);
    }
    EXPECT_EQ(bernsteinWeight(0.5, 6, 12), 924.0 / 4096.0);
    EXPECT_EQ(bernsteinWeight(0.5, 6, 12), 0.2255859375);
}

TEST(BernsteinWeight, WeightsSumToOneAndEndsPickOnePoint) {
    for (int n = 0; n <= 12; ++n) {
        for (double t : {0.0, 0.001, 0.25, 1.0 / 3.0, 0.5, 0.8, 0.999, 1.0}) {
            double sum = 0.0;
            for (int i = 0; i <= n; ++i) {
                const double w = bernsteinWeight(t, i, n);
                EXPECT_GE(w, 0.0);
                sum += w;
            }
            EXPECT_NEAR(sum, 1.0, 1e-14) << "n = " << n << " t = " << t;
        }
        for (int i = 0; i <= n; ++i) {
            EXPECT_EQ(bernsteinWeight(0.0, i, n), i == 0 ? 1.0 : 0.0);
            EXPECT_EQ(bernsteinWeight(1.0, i, n), i == n ? 1.0 : 0.0);
        }
    }
}

TEST(BernsteinWeight, OutsideTheBasisIsZeroAndTooHighADegreeIsNaN) {
    EXPECT_EQ(bernsteinWeight(0.3, -1, 12), 0.0);
    EXPECT_EQ(bernsteinWeight(0.3, 13, 12), 0.0);
    EXPECT_TRUE(std::isnan(bernsteinWeight(0.3, 6, 13)));
    EXPECT_TRUE(std::isnan(bernsteinWeight(0.3, 0, -1)));
}

TEST(BezierPath, EndSamplesAreTheEndPointsExactly) {
    BezierPath path;
    EXPECT_EQ(path.samples, nullptr);
    EXPECT_EQ(path.controlPoints, nullptr);
    EXPECT_EQ(path.sampleCount, 0);
    EXPECT_EQ(path.controlCount, 0);
    Vec3* points = flightPoints();
    path.build(13, points, 1000);
    EXPECT_EQ(path.controlPoints, points);  // taken over, not copied
    EXPECT_EQ(path.controlCount, 13);
    ASSERT_EQ(path.sampleCount, 1000);
    EXPECT_TRUE(sameBits(*path.pointAt(0), Vec3(0, 0, 5)));
    EXPECT_TRUE(sameBits(*path.pointAt(999), Vec3(40, -15, -220)));
}

// The samples must come out bit for bit as the weight formula gives them in its
// own order: ((t^i * n!) * (1-t)^(n-i)) / (i! (n-i)!), powers by squaring
// (right to left), terms summed from zero in increasing i.
TEST(BezierPath, ThirteenPointSamplesMatchTheFormulaBitForBit) {
    auto power = [](double b, int e) {
        double r = 1.0;
        for (; e > 0; e >>= 1, b *= b)
            if (e & 1) r *= b;
        return r;
    };
    const double fact[13] = {1, 1, 2, 6, 24, 120, 720, 5040, 40320, 362880, 3628800, 39916800, 479001600};
    BezierPath path;
    Vec3* points = flightPoints();
    Vec3 copy[13];
    for (int i = 0; i < 13; ++i) copy[i] = points[i];
    path.build(13, points, 1000);
    int mismatches = 0;
    for (int s = 0; s < 1000; ++s) {
        const double t = static_cast<double>(s) / 999.0;
        double x = 0, y = 0, z = 0;
        for (int i = 0; i < 13; ++i) {
            const double w = power(t, i) * fact[12] * power(1.0 - t, 12 - i) / (fact[i] * fact[12 - i]);
            x += w * copy[i].x;
            y += w * copy[i].y;
            z += w * copy[i].z;
        }
        if (!sameBits(*path.pointAt(s), Vec3(x, y, z))) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(BezierPath, TwoPointsGiveEvenlySpacedSamplesOnTheSegment) {
    BezierPath path;
    path.build(2, new Vec3[2]{Vec3(1, 2, 3), Vec3(10, -16, 30)}, 10);
    ASSERT_EQ(path.sampleCount, 10);
    for (int i = 0; i < 10; ++i) {
        const Vec3& p = *path.pointAt(i);
        EXPECT_NEAR(p.x, 1 + i * 1.0, 1e-12);
        EXPECT_NEAR(p.y, 2 - i * 2.0, 1e-12);
        EXPECT_NEAR(p.z, 3 + i * 3.0, 1e-12);
    }
}

TEST(BezierPath, PointAtAnswersOnlyInsideTheSamples) {
    BezierPath empty;
    EXPECT_EQ(empty.pointAt(0), nullptr);
    BezierPath path;
    path.build(13, flightPoints(), 1000);
    EXPECT_EQ(path.pointAt(999), path.samples + 999);
    EXPECT_EQ(path.pointAt(0), path.samples);
    EXPECT_EQ(path.pointAt(1000), nullptr);
    EXPECT_EQ(path.pointAt(INT_MAX), nullptr);
    EXPECT_EQ(path.pointAt(-1), nullptr);
    EXPECT_EQ(path.pointAt(INT_MIN), nullptr);
}

// Paths the 32-bit weights cannot serve, and single samples (t would be 0/0),
// give a path without samples; the array still belongs to the path, so the
// leak checker of the sanitizer build sees it freed.
TEST(BezierPath, UnservablePathsHaveNoSamplesButOwnTheirPoints) {
    struct Case {
        int n, m;
    };
    for (Case c : {Case{14, 1000}, Case{20, 10}, Case{13, 1}, Case{2, 0}, Case{2, -5}}) {
        BezierPath path;
        Vec3* points = new Vec3[static_cast<size_t>(c.n)];
        path.build(c.n, points, c.m);
        EXPECT_EQ(path.sampleCount, 0) << c.n << " points, " << c.m << " samples";
        EXPECT_EQ(path.samples, nullptr);
        EXPECT_EQ(path.controlPoints, points);
        EXPECT_EQ(path.pointAt(0), nullptr);
    }
    // No control points at all is a path of zero samples.
    BezierPath none;
    none.build(0, new Vec3[1], 5);
    ASSERT_EQ(none.sampleCount, 5);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(sameBits(*none.pointAt(i), Vec3()));
}
