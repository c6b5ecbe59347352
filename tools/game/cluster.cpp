#include "cluster.h"

#include "hud/core/image.h"

#include <algorithm>

namespace synth {

// Spherical k-means: templates are the normalised means of clusters of
// normalised cells, seeded farthest-first so that rare shapes get their own.
std::vector<std::vector<float>> clusterCells(const std::vector<std::vector<float>>& cells, std::size_t count,
                                             int iterations) {
    using Cell = std::vector<float>;
    if (cells.empty())
        return {};
    const std::size_t n = cells.size(), d = cells[0].size();
    if (n <= count)
        return cells;
    auto corr = [d](const Cell& a, const Cell& b) { return hud::dot(a.data(), b.data(), d); };
    Cell mean(d, 0.0f);
    for (const Cell& c : cells)
        for (std::size_t i = 0; i < d; ++i)
            mean[i] += c[i];
    hud::normalizeVector(mean.data(), d);
    std::vector<Cell> centres;
    std::size_t first = 0;
    float bestFirst = -3;
    for (std::size_t i = 0; i < n; ++i)
        if (const float s = corr(cells[i], mean); s > bestFirst)
            bestFirst = s, first = i;
    centres.push_back(cells[first]);
    std::vector<float> nearest(n, -3.0f);
    while (centres.size() < count) {
        std::size_t far = 0;
        float farScore = 3;
        for (std::size_t i = 0; i < n; ++i) {
            nearest[i] = std::max(nearest[i], corr(cells[i], centres.back()));
            if (nearest[i] < farScore)
                farScore = nearest[i], far = i;
        }
        centres.push_back(cells[far]);
    }
    std::vector<std::size_t> assign(n, 0);
    for (int iter = 0; iter < iterations; ++iter) {
        for (std::size_t i = 0; i < n; ++i) {
            float best = -3;
            for (std::size_t k = 0; k < centres.size(); ++k)
                if (const float s = corr(cells[i], centres[k]); s > best)
                    best = s, assign[i] = k;
        }
        std::vector<std::vector<double>> sums(centres.size(), std::vector<double>(d, 0.0));
        std::vector<int> counts(centres.size(), 0);
        for (std::size_t i = 0; i < n; ++i) {
            ++counts[assign[i]];
            for (std::size_t j = 0; j < d; ++j)
                sums[assign[i]][j] += cells[i][j];
        }
        for (std::size_t k = 0; k < centres.size(); ++k) {
            if (counts[k] == 0)
                continue; // keeps its seed
            for (std::size_t j = 0; j < d; ++j)
                centres[k][j] = static_cast<float>(sums[k][j] / counts[k]);
            hud::normalizeVector(centres[k].data(), d);
        }
    }
    return centres;
}

} // namespace synth
