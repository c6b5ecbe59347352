#include "hud/feed/feed.h"
#include "hud/feed/row-pixels.h"
#include "hud/feed/row-split.h"
#include "hud/feed/select.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace hud {

using detail::at;
using detail::floorInt;
using detail::planesUsable;

namespace {

// Components that can be part of a feed row at all (2160-line scale).
constexpr int kCompMinHeight = 6;
constexpr int kCompMaxHeight = 48;
constexpr int kCompMaxWidth = 120;
constexpr int kCompMinArea = 6;

// Letters of the names: their median height is the row's cap.
constexpr int kLetterMinHeight = 12;
constexpr int kLetterMaxHeight = 30;
constexpr double kLetterMaxAspect = 0.9;
constexpr std::size_t kMinLetters = 4;
constexpr double kRowMinWidth = 4.0; // in cap

// Defaults of the text mask; with them prepareFrame's mask is already right.
constexpr double kDefaultTopHat = 34.0;
constexpr double kDefaultLuma = 95.0;

// Larger captures are read but their buffers are not kept for the next pass.
constexpr std::int64_t kKeepBuffersUpTo = std::int64_t{4} << 20;

constexpr const char* kNoRows = "no feed rows";

struct FeedScratch {
    FramePlanes planes;
    std::vector<Blob> kept;
    RowGroups lines;
    std::vector<int> heights;
    RowCtx ctx;
    RowSplit split;
    detail::SplitTries tries;
};

struct ColumnScratch {
    std::vector<std::pair<int, int>> spans;
    std::vector<std::size_t> active;
    std::vector<std::size_t> open;
};

void rebuildMask(FramePlanes& planes, const FeedTuning& tuning) {
    const float inkAbove = static_cast<float>((tuning.topHat - 14.0) / 46.0);
    const float lumaAbove = static_cast<float>(tuning.luma);
    const std::size_t n = planes.ink.pixels.size();
    const float* ink = planes.ink.pixels.data();
    const float* smooth = planes.smooth.pixels.data();
    std::uint8_t* mask = planes.mask.data();
    for (std::size_t i = 0; i < n; ++i)
        mask[i] = static_cast<std::uint8_t>((ink[i] > inkAbove) & (smooth[i] > lumaAbove));
    planes.maskBlobsReady = false;
}

// One line of the grouping: a feed row or nothing. Fills `row` and says
// whether it is one.
bool readLine(FeedScratch& s, const Model& model, const KillData& killData, std::size_t index,
              const std::vector<Blob>& line, const RowGeometry& g, FeedRow& row) {
    const bool debug = feedTuning().debug;
    std::vector<int>& heights = s.heights;
    heights.clear();
    int lineX0 = 0;
    int lineX1 = 0;
    for (std::size_t k = 0; k < line.size(); ++k) {
        const Blob& b = line[k];
        lineX0 = k == 0 ? b.x0 : std::min(lineX0, b.x0);
        lineX1 = k == 0 ? b.x1 : std::max(lineX1, b.x1);
        const int h = b.height();
        if (h >= kLetterMinHeight && h <= kLetterMaxHeight && b.width() <= kLetterMaxAspect * h)
            heights.push_back(h);
    }
    std::sort(heights.begin(), heights.end());
    const int m = heights.empty() ? 0 : heights[heights.size() / 2];
    if (debug) {
        std::string t;
        detail::appendTrace(
            t, "line %zu: band %.0f-%.0f cap %.0f, %zu comps x %d-%d, %zu letter-sized (median %.0f)\n",
            index, g.top, g.bottom, g.height, line.size(), lineX0, lineX1, heights.size(),
            static_cast<double>(m));
        for (const Blob& b : line)
            detail::appendTrace(t, " [%d,%d %dx%d a%d]", b.x0, b.y0, b.width(), b.height(), b.area);
        t += '\n';
        detail::writeTrace(t);
    }
    if (heights.size() < kMinLetters || m < kLetterMinHeight || m > kLetterMaxHeight)
        return false;

    const double cap = m;
    const double top = g.top;
    const double bottom = top + cap - 1.0;
    RowCtx& ctx = s.ctx;
    ctx.comps.clear();
    for (const Blob& b : line) {
        const double cy = (b.y0 + b.y1) / 2.0;
        if (cy >= top - 0.6 * cap && cy <= bottom + 0.8 * cap)
            ctx.comps.push_back(b);
    }
    if (ctx.comps.size() < kMinLetters)
        return false;
    int x0 = ctx.comps.front().x0;
    int x1 = ctx.comps.front().x1;
    for (const Blob& b : ctx.comps) {
        x0 = std::min(x0, b.x0);
        x1 = std::max(x1, b.x1);
    }
    if (x1 - x0 < kRowMinWidth * cap)
        return false;
    detail::stableSort(ctx.comps.begin(), ctx.comps.end(),
                       [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });

    ctx.planes = &s.planes;
    ctx.frame = s.planes.frame;
    ctx.model = &model;
    ctx.killData = &killData;
    ctx.top = top;
    ctx.bottom = bottom;
    ctx.cap = cap;
    ctx.x0 = x0;
    ctx.x1 = x1;

    row.x0 = x0;
    row.y = static_cast<int>(top);
    row.x1 = x1;
    row.bottom = static_cast<int>(bottom);
    row.cap = cap;
    row.signature = rowSignature(ctx);

    readDistance(ctx, row);
    const bool bracket = row.hasBracket();
    RowSplit& split = s.split;
    detail::splitRowInto(ctx, bracket ? row.bracketX0 : -1, bracket ? row.bracketX1 : -1, split, s.tries);
    row.killer = sideStats(ctx, split.left, split.blocks, true);
    row.victim = sideStats(ctx, split.right, split.blocks, false);
    row.alike = namesAlike(ctx, split.left, split.right);
    classifySides(row, bracket);
    row.bright = std::max(row.killer.v, row.victim.v) >= 185.0f;
    if (row.side != PlayerSide::Neither || bracket) {
        // A little room either side: the zone was cut from the mask, which
        // misses the soft edges of the white icons.
        const int margin = floorInt(0.3 * cap);
        const int fromX = (split.iconX0 >= 0 ? split.iconX0 : row.x0) - margin;
        const int toX = (bracket ? row.bracketX0 - 1 : (split.iconX0 >= 0 ? split.iconX1 : row.x1)) + margin;
        matchIcons(ctx, fromX, toX, row);
    }
    row.text = rowText(row);
    return true;
}

} // namespace

namespace detail {

void appendTrace(std::string& out, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n <= 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    std::string longer(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&longer[0], longer.size(), format, args);
    va_end(args);
    out.append(longer.data(), static_cast<std::size_t>(n));
}

void writeTrace(const std::string& text) {
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), stderr);
}

void maskColumnCounts(const FramePlanes& planes, const std::vector<Blob>& boxes, int x0, int x1,
                      std::vector<int>& counts) {
    // Only ranges a frame can hold are counted; anything else is no range.
    const long long span = static_cast<long long>(x1) - x0 + 1;
    counts.assign(span > 0 && span <= kMaxFrameSide ? static_cast<std::size_t>(span) : 0, 0);
    if (counts.empty() || !planesUsable(planes))
        return;
    const int w = planes.frame.width;
    const int h = planes.frame.height;
    const int lo = std::max(x0, 0);
    const int hi = std::min(x1, w - 1);
    if (lo > hi)
        return;
    thread_local ColumnScratch s;
    std::vector<std::size_t>& active = s.active;
    std::vector<std::pair<int, int>>& spans = s.spans;
    active.clear();
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const Blob& b = boxes[k];
        if (b.x1 >= lo && b.x0 <= hi && b.y1 >= 0 && b.y0 < h && b.y0 <= b.y1)
            active.push_back(k);
    }
    if (active.empty())
        return;
    // A sweep from left to right: the boxes open at their x0 and close after
    // their x1. Between two such events the boxes over a column stay the
    // same, so their rows are summed for the whole stretch at once, row by
    // row along the mask.
    detail::stableSort(active.begin(), active.end(),
                       [&boxes](std::size_t a, std::size_t b) { return boxes[a].x0 < boxes[b].x0; });
    std::vector<std::size_t>& open = s.open;
    open.clear();
    std::size_t next = 0;
    const std::uint8_t* mask = planes.mask.data();
    int* out = counts.data();
    for (int x = lo; x <= hi;) {
        while (next < active.size() && boxes[active[next]].x0 <= x)
            open.push_back(active[next++]);
        open.erase(std::remove_if(open.begin(), open.end(), [&](std::size_t k) { return boxes[k].x1 < x; }),
                   open.end());
        int end = hi + 1;
        if (next < active.size())
            end = std::min(end, boxes[active[next]].x0);
        spans.clear();
        for (std::size_t k : open) {
            end = std::min(end, boxes[k].x1 < hi ? boxes[k].x1 + 1 : hi + 1);
            spans.emplace_back(std::max(boxes[k].y0, 0), std::min(boxes[k].y1, h - 1));
        }
        if (spans.empty()) {
            x = end;
            continue;
        }
        if (spans.size() > 1)
            std::sort(spans.begin(), spans.end());
        int from = spans.front().first;
        int to = spans.front().second;
        auto add = [&](int a, int b) {
            for (int y = a; y <= b; ++y) {
                const std::uint8_t* row = mask + at(x, y, w);
                int* sum = out + (x - x0);
                for (int c = 0; c < end - x; ++c)
                    sum[c] += row[c];
            }
        };
        for (std::size_t k = 1; k < spans.size(); ++k) {
            if (spans[k].first > to + 1) {
                add(from, to);
                from = spans[k].first;
                to = spans[k].second;
            } else {
                to = std::max(to, spans[k].second);
            }
        }
        add(from, to);
        x = end;
    }
}

} // namespace detail

const FeedTuning& feedTuning() {
    // Read once: the reader thread and the tests may ask at the same time,
    // and a value that changed mid-session would make passes disagree.
    static const FeedTuning tuning = [] {
        FeedTuning t;
        const char* th = std::getenv("KF_TH");
        if (th && *th)
            t.topHat = std::atof(th);
        const char* g = std::getenv("KF_G");
        if (g && *g)
            t.luma = std::atof(g);
        t.debug = std::getenv("KF_DEBUG") != nullptr;
        return t;
    }();
    return tuning;
}

FeedRead readFeedRows(const Model& model, const KillData& killData, const std::uint8_t* pixels, int width,
                      int height, int bytesPerLine) {
    FeedRead read;
    FrameView frame;
    frame.width = width;
    frame.height = height;
    frame.pixels = pixels;
    frame.stride = bytesPerLine;
    if (!frame.valid()) {
        read.note = kNoRows;
        return read;
    }
    thread_local FeedScratch s;
    FramePlanes& planes = s.planes;
    const FeedTuning& tuning = feedTuning();
    prepareFrame(frame, planes);
    if (tuning.topHat != kDefaultTopHat || tuning.luma != kDefaultLuma)
        rebuildMask(planes, tuning);

    labelComponents(planes.mask, width, height, planes.scratch.blobs, planes.scratch.labels);
    planes.maskBlobsReady = true;
    s.kept.clear();
    for (const Blob& b : planes.scratch.blobs) {
        const int h = b.height();
        if (h >= kCompMinHeight && h <= kCompMaxHeight && b.width() <= kCompMaxWidth &&
            b.area >= kCompMinArea)
            s.kept.push_back(b);
    }
    groupRows(s.kept, s.lines);
    // The feed shows at most seven rows; room for them and a stray line.
    read.rows.reserve(8);
    for (std::size_t i = 0; i < s.lines.count && i < s.lines.geometry.size(); ++i) {
        FeedRow row;
        if (readLine(s, model, killData, i, s.lines.lines[i], s.lines.geometry[i], row))
            read.rows.push_back(std::move(row));
    }
    detail::stableSort(read.rows.begin(), read.rows.end(),
                       [](const FeedRow& a, const FeedRow& b) { return a.y < b.y; });
    if (read.rows.empty())
        read.note = kNoRows;

    // The caller's pixels are not ours to keep.
    planes.frame = FrameView{};
    s.ctx.frame = FrameView{};
    s.ctx.planes = nullptr;
    s.ctx.model = nullptr;
    s.ctx.killData = nullptr;
    if (static_cast<std::int64_t>(width) * height > kKeepBuffersUpTo)
        s = FeedScratch{};
    return read;
}

std::vector<float> rowSignature(const RowCtx& ctx) {
    std::vector<float> signature(kRowSignatureLength, 0.0f);
    if (!ctx.planes || ctx.x1 < ctx.x0)
        return signature;
    thread_local std::vector<int> counts;
    detail::maskColumnCounts(*ctx.planes, ctx.comps, ctx.x0, ctx.x1, counts);
    const long long span = std::max<long long>(static_cast<long long>(ctx.x1) - ctx.x0 + 1, 1);
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const long long bin = std::min<long long>(static_cast<long long>(k) * kRowSignatureLength / span,
                                                  kRowSignatureLength - 1);
        signature[static_cast<std::size_t>(bin)] += static_cast<float>(counts[k]);
    }
    normalizeTemplate(signature);
    return signature;
}

std::string rowText(const FeedRow& row) {
    char text[320];
    const SideStats& k = row.killer;
    const SideStats& v = row.victim;
    char distance[32] = "";
    if (row.hasDistance)
        std::snprintf(distance, sizeof distance, "%d", row.distance);
    std::snprintf(text, sizeof text,
                  "L n%d v%.0f w%.2f s%.2f%s%s | R n%d v%.0f w%.2f s%.2f%s%s | alike %.2f | cap %.0f%s%s",
                  k.n, static_cast<double>(k.v), static_cast<double>(k.w), static_cast<double>(k.s),
                  k.sh ? " SH" : "", k.tm ? " TM" : "", v.n, static_cast<double>(v.v),
                  static_cast<double>(v.w), static_cast<double>(v.s), v.sh ? " SH" : "", v.tm ? " TM" : "",
                  static_cast<double>(row.alike), row.cap, row.hasDistance ? " dist " : "", distance);
    return text;
}

} // namespace hud
