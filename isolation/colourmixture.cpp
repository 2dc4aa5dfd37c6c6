#include "isolation/colourmixture.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Added to every covariance's diagonal (in 8-bit units squared): a few marked pixels of
// one flat colour must not make a component that every other colour is infinitely far from.
constexpr double covarianceFloor = 9.0;
// Colours per component below which a cluster is not split further.
constexpr double samplesPerComponent = 8.0;

struct Stats
{
    double n = 0;
    double s[3] = {};
    double ss[6] = {};

    void add(const float *c, double w)
    {
        n += w;
        for (int i = 0; i < 3; ++i)
            s[i] += w * c[i];
        ss[0] += w * c[0] * c[0];
        ss[1] += w * c[0] * c[1];
        ss[2] += w * c[0] * c[2];
        ss[3] += w * c[1] * c[1];
        ss[4] += w * c[1] * c[2];
        ss[5] += w * c[2] * c[2];
    }

    // Mean and covariance (rr rg rb gg gb bb).
    void meanAndCovariance(double mean[3], double cov[6]) const
    {
        for (int i = 0; i < 3; ++i)
            mean[i] = s[i] / n;
        cov[0] = ss[0] / n - mean[0] * mean[0];
        cov[1] = ss[1] / n - mean[0] * mean[1];
        cov[2] = ss[2] / n - mean[0] * mean[2];
        cov[3] = ss[3] / n - mean[1] * mean[1];
        cov[4] = ss[4] / n - mean[1] * mean[2];
        cov[5] = ss[5] / n - mean[2] * mean[2];
    }
};

void symmetricTimes(const double m[6], const double v[3], double out[3])
{
    out[0] = m[0] * v[0] + m[1] * v[1] + m[2] * v[2];
    out[1] = m[1] * v[0] + m[3] * v[1] + m[4] * v[2];
    out[2] = m[2] * v[0] + m[4] * v[1] + m[5] * v[2];
}

// The largest eigenvalue of a covariance and its eigenvector, by power iteration from its
// largest column.
double principalAxis(const double cov[6], double axis[3])
{
    const double columns[3][3] = {{cov[0], cov[1], cov[2]}, {cov[1], cov[3], cov[4]}, {cov[2], cov[4], cov[5]}};
    int best = 0;
    double bestNorm = -1;
    for (int i = 0; i < 3; ++i) {
        const double n = columns[i][0] * columns[i][0] + columns[i][1] * columns[i][1] + columns[i][2] * columns[i][2];
        if (n > bestNorm) {
            bestNorm = n;
            best = i;
        }
    }
    if (bestNorm <= 0)
        return 0;
    double v[3] = {columns[best][0], columns[best][1], columns[best][2]};
    double lambda = 0;
    for (int iteration = 0; iteration < 40; ++iteration) {
        double w[3];
        symmetricTimes(cov, v, w);
        const double norm = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
        if (norm <= 0)
            return 0;
        for (int i = 0; i < 3; ++i)
            v[i] = w[i] / norm;
        lambda = norm;
    }
    for (int i = 0; i < 3; ++i)
        axis[i] = v[i];
    return lambda;
}

} // namespace

void ColourMixture::Moments::add(int k, const float *c, double w)
{
    count[size_t(k)] += w;
    for (int i = 0; i < 3; ++i)
        sum[size_t(k)][size_t(i)] += w * c[i];
    std::array<double, 6> &sq = square[size_t(k)];
    sq[0] += w * c[0] * c[0];
    sq[1] += w * c[0] * c[1];
    sq[2] += w * c[0] * c[2];
    sq[3] += w * c[1] * c[1];
    sq[4] += w * c[1] * c[2];
    sq[5] += w * c[2] * c[2];
}

void ColourMixture::fitBySplitting(const std::vector<float> &colours, const std::vector<float> &weights)
{
    const size_t n = colours.size() / 3;
    const auto weightOf = [&](size_t i) { return weights.empty() ? 1.0 : double(weights[i]); };
    std::vector<uchar> cluster(n, 0);
    int clusters = 1;
    double total = 0;
    for (size_t i = 0; i < n; ++i)
        total += weightOf(i);
    const int wanted = int(std::clamp(std::floor(total / samplesPerComponent), 1.0, double(maxComponents)));

    const auto statsOf = [&](int k) {
        Stats stats;
        for (size_t i = 0; i < n; ++i) {
            if (cluster[i] == k)
                stats.add(&colours[3 * i], weightOf(i));
        }
        return stats;
    };
    while (clusters < wanted) {
        // Split the cluster that spreads farthest along its principal axis.
        int widest = -1;
        double widestSpread = 1e-6;
        double axis[3] = {};
        double threshold = 0;
        for (int k = 0; k < clusters; ++k) {
            const Stats stats = statsOf(k);
            if (stats.n < 2)
                continue;
            double mean[3], cov[6], v[3] = {};
            stats.meanAndCovariance(mean, cov);
            const double spread = principalAxis(cov, v);
            if (spread > widestSpread) {
                widestSpread = spread;
                widest = k;
                std::copy(v, v + 3, axis);
                threshold = v[0] * mean[0] + v[1] * mean[1] + v[2] * mean[2];
            }
        }
        if (widest < 0)
            break;
        bool moved = false;
        for (size_t i = 0; i < n; ++i) {
            const float *c = &colours[3 * i];
            if (cluster[i] == widest && axis[0] * c[0] + axis[1] * c[1] + axis[2] * c[2] > threshold) {
                cluster[i] = uchar(clusters);
                moved = true;
            }
        }
        if (!moved)
            break;
        ++clusters;
    }

    Moments moments;
    for (size_t i = 0; i < n; ++i)
        moments.add(cluster[i], &colours[3 * i], weightOf(i));
    fit(moments);
}

void ColourMixture::fit(const Moments &moments)
{
    double total = 0;
    for (double c : moments.count)
        total += c;
    componentCount = 0;
    if (total <= 0)
        return;
    for (int k = 0; k < maxComponents; ++k) {
        const double n = moments.count[size_t(k)];
        if (n <= 0)
            continue;
        Stats stats;
        stats.n = n;
        for (int i = 0; i < 3; ++i)
            stats.s[i] = moments.sum[size_t(k)][size_t(i)];
        for (int i = 0; i < 6; ++i)
            stats.ss[i] = moments.square[size_t(k)][size_t(i)];
        Component &c = components[size_t(componentCount)];
        double cov[6];
        stats.meanAndCovariance(c.mean, cov);
        cov[0] += covarianceFloor;
        cov[3] += covarianceFloor;
        cov[5] += covarianceFloor;
        // Inverse through the cofactors of the symmetric 3 x 3 matrix.
        const double a = cov[0], b = cov[1], d = cov[2], e = cov[3], f = cov[4], g = cov[5];
        const double c00 = e * g - f * f;
        const double c01 = d * f - b * g;
        const double c02 = b * f - d * e;
        const double det = a * c00 + b * c01 + d * c02;
        if (!(det > 0))
            continue;
        c.inverse[0] = c00 / det;
        c.inverse[1] = c01 / det;
        c.inverse[2] = c02 / det;
        c.inverse[3] = (a * g - d * d) / det;
        c.inverse[4] = (b * d - a * f) / det;
        c.inverse[5] = (a * e - b * b) / det;
        c.logWeight = std::log(n / total) - 0.5 * (3 * std::log(2 * M_PI) + std::log(det));
        ++componentCount;
    }
}

double ColourMixture::cost(const float *colour, int *component) const
{
    double logs[maxComponents];
    double best = -std::numeric_limits<double>::infinity();
    int bestComponent = 0;
    for (int k = 0; k < componentCount; ++k) {
        const Component &c = components[size_t(k)];
        const double d0 = colour[0] - c.mean[0];
        const double d1 = colour[1] - c.mean[1];
        const double d2 = colour[2] - c.mean[2];
        const double q = c.inverse[0] * d0 * d0 + c.inverse[3] * d1 * d1 + c.inverse[5] * d2 * d2
                         + 2 * (c.inverse[1] * d0 * d1 + c.inverse[2] * d0 * d2 + c.inverse[4] * d1 * d2);
        logs[k] = c.logWeight - 0.5 * q;
        if (logs[k] > best) {
            best = logs[k];
            bestComponent = k;
        }
    }
    if (component)
        *component = bestComponent;
    if (componentCount == 0)
        return std::numeric_limits<double>::infinity();
    double sum = 0;
    for (int k = 0; k < componentCount; ++k)
        sum += std::exp(logs[k] - best);
    return -(best + std::log(sum));
}
