// Choosing a few templates from many sampled cells, shared by the builders
// of the HUD model and of the kill-feed data.
#pragma once

#include <cstddef>
#include <vector>

namespace synth {

// Spherical k-means over normalised cells: at most `count` templates, each
// the normalised mean of a cluster, seeded farthest-first so that rare shapes
// get their own. Fewer cells than `count` are returned as they are.
std::vector<std::vector<float>> clusterCells(const std::vector<std::vector<float>>& cells, std::size_t count,
                                             int iterations);

} // namespace synth
