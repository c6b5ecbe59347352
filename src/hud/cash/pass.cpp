#include "hud/cash/pass.h"

#include "hud/cash/money.h"
#include "hud/core/helper.h"

#include <algorithm>
#include <cmath>

namespace hud {

namespace {

// Digit blobs of the money line, in the capture's 907-pixel space.
constexpr int kMinDigitHeight = 18;
constexpr double kMaxDigitHeight = 49.4;
constexpr int kMinDigitWidth = 3;
constexpr int kMinLineY0 = 20;
constexpr int kMaxLineY0 = 115;
// Pieces of a digit that blur broke apart: the shortest joined, and the
// widest gap between two that are.
constexpr int kMinPieceHeight = 4;
constexpr int kMaxPieceGap = 2;

// The balance's last digit ends this many line heights left of the region's
// right edge; a line within kMarginTolerance of that is the HUD's own.
constexpr double kMarginOffset = 2.15;
constexpr double kMarginTolerance = 0.6;
constexpr double kLastDigitHalf = 0.43;
// Heights, in line heights, of a blob right of the character blobs that is
// still taken as the balance's last digit.
constexpr double kMinLastDigitShare = 0.75;
constexpr double kMaxLastDigitShare = 1.2;

// A digit-high blob that starts this far right of the last digit read, or
// reaches this far beyond it, holds a digit the reading did not take: the
// nearest right neighbour of a digit starts at least 0.35 line heights right
// of its centre, and no digit's ink reaches 0.55 beyond it.
constexpr double kMissedDigitStart = 0.2;
constexpr double kMissedDigitReach = 0.7;
// A digit scoring this well right of the last digit read is one it missed;
// the empty scene there stays far below it.
constexpr float kMissedDigitScore = 0.6f;
constexpr int kMissedDigitRadius = 3;
// A cell scores by its shape alone, whatever its contrast: the grain of a
// dark, recompressed scene, normalised up to a digit's contrast, can pass
// kMissedDigitScore with a hundredth of a digit's ink. A missed digit keeps
// at least this share of the last digit's, even where a bright world behind
// it eats most of its strokes (a quarter is left then).
constexpr float kMissedDigitInk = 0.05f;

// The lower contrast threshold of the second search: top-hat above 24.
constexpr float kFaintInk = 0.2173913f;
constexpr float kMinSmooth = 95.0f;
// Rows above and below a band whose top-hat is taken, so that its edges see
// what the whole frame's would.
constexpr int kTopHatPad = 8;

// Rows whose reference height is below this share of the tallest row's are
// reward lines, not the money line.
constexpr double kMinRowHeightShare = 0.8;

// Above this many pixels the per-thread buffers are not kept after a pass.
constexpr std::int64_t kKeepBuffersUpTo = std::int64_t{2} << 20;

double centreY(const Blob& b) {
    return (b.y0 + b.y1) / 2.0;
}

struct CandidateRow {
    double centreSum = 0.0;
    std::vector<Blob> blobs;
    double mean() const { return centreSum / static_cast<double>(blobs.size()); }
    int maxX1() const {
        int m = blobs.front().x1;
        for (const Blob& b : blobs)
            m = std::max(m, b.x1);
        return m;
    }
};

// The reference height is taken low in the order so that it follows the
// digits, not the taller "$" or fused pairs.
double referenceHeight(const std::vector<Blob>& blobs) {
    std::vector<int> heights;
    heights.reserve(blobs.size());
    for (const Blob& b : blobs)
        heights.push_back(b.height());
    std::sort(heights.begin(), heights.end());
    const std::size_t n = heights.size();
    return n >= 3 ? heights[n / 3] : heights.front();
}

// Whether the line holds a character right of the balance's last digit as
// read. A reading started left of the HUD's true last digit (a HUD off its
// place, blobs of the last digits cut at the capture's edge) still ends in
// a "$" with good scores, one or more digits short; this is the only trace.
bool digitMissedRight(const MoneyLine& line, double lastDigitX, double h) {
    for (const Blob& b : line.rowBlobs) {
        const double bh = b.height();
        if (bh < kMinLastDigitShare * h || bh > kMaxLastDigitShare * h)
            continue;
        if (b.x0 > lastDigitX + kMissedDigitStart * h || b.x1 > lastDigitX + kMissedDigitReach * h)
            return true;
    }
    return false;
}

// The ink of the money cell centred at x on the context's line.
float cellInk(MoneyRowContext& ctx, double x) {
    sampleLineCell(ctx, x, ctx.cell);
    float sum = 0.0f;
    for (float v : ctx.cell)
        sum += v;
    return sum;
}

// The best score of any digit where one more digit right of the last one
// read would stand, with or without a group gap before it, where it reaches
// kMissedDigitScore at a place holding kMissedDigitInk of the last digit's
// ink; below that otherwise. The digit blobs of a faint HUD may be missing
// from the mask while their ink still reads.
float digitScoreRightOf(const Model& model, const FramePlanes& planes, const MoneyLine& line, double lastX,
                        char last) {
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money, model.moneyPairs);
    const WidthTable& widths = moneyWidths();
    char digits[10];
    double centres[20];
    for (int i = 0; i < 10; ++i) {
        digits[i] = static_cast<char>('0' + i);
        centres[i] = lastX + (widths.of(last) + widths.of(digits[i])) / 2.0 * line.height;
        centres[10 + i] = centres[i] + kMoneyGroupGap * line.height;
    }
    const float best =
        std::max(bestScoreAround(ctx, centres, digits, 10, kMissedDigitRadius, kMissedDigitScore),
                 bestScoreAround(ctx, centres + 10, digits, 10, kMissedDigitRadius, kMissedDigitScore));
    if (best < kMissedDigitScore)
        return best;
    // Rare enough to look at each place that scored on its own.
    const float lastInk = cellInk(ctx, lastX);
    float inked = kNoScore;
    for (int i = 0; i < 20; ++i) {
        const Candidate c = bestPosition(ctx, centres[i], digits[i % 10], kMissedDigitRadius);
        if (c.score >= kMissedDigitScore && c.score > inked &&
            !(cellInk(ctx, c.x) < kMissedDigitInk * lastInk))
            inked = c.score;
    }
    return inked;
}

// Top and bottom moves of the second balance attempt, in capture pixels. The
// mask cuts the soft edges of small, blurred digits (720 lines, low HUD
// scale), so the measured line comes out a few pixels short, mostly by the
// same amount at both ends, and the cells and advances scaled from it miss
// the glyphs. A pixel either way covers a line found a little off.
constexpr double kRereadMoves[][2] = {{-1, 0}, {1, 0},  {0, -1}, {0, 1}, {-1, -1}, {1, 1},
                                      {-1, 1}, {1, -1}, {2, 1},  {1, 2}, {2, 2},   {3, 2},
                                      {2, 3},  {3, 3},  {4, 3},  {3, 4}, {4, 4}};

// Top and bottom moves around the line measured from the ink.
constexpr double kInkMoves[][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {1, 1}, {-1, -1}};
// The relative ramp: from this share of the line's strongest top-hat, over
// this share of it.
constexpr float kRelativeInkFloor = 0.15f;
constexpr float kRelativeInkSpan = 0.6f;
// A row belongs to the digits while its mean ink over the line's columns
// stays above this share of the strongest row's.
constexpr double kInkRowShare = 0.25;

// The line's top and bottom measured from the ink plane rather than the
// mask: the rows around the line's middle, over the columns of its blobs,
// whose mean ink stays above kInkRowShare of the strongest row's. Blur and
// low contrast leave the mask's blobs much shorter than the digits, the
// ink's soft edges much less so. False when nothing sensible is found.
bool inkLineExtent(const Plane& ink, const MoneyLine& line, double& top, double& bottom) {
    if (ink.empty() || line.charBlobs.empty())
        return false;
    int x0 = ink.width;
    int x1 = -1;
    for (const Blob& b : line.rowBlobs) {
        x0 = std::min(x0, b.x0);
        x1 = std::max(x1, b.x1);
    }
    x0 = std::max(x0, 0);
    x1 = std::min(x1, ink.width - 1);
    const double h = line.height;
    const int ya = std::max(0, static_cast<int>(line.top - 0.6 * h));
    const int yb = std::min(ink.height - 1, static_cast<int>(line.bottom + 0.6 * h));
    const int middle = static_cast<int>((line.top + line.bottom) / 2.0);
    if (x1 <= x0 || middle < ya || middle > yb)
        return false;
    std::vector<double> mean(static_cast<std::size_t>(yb - ya + 1), 0.0);
    double peak = 0.0;
    for (int y = ya; y <= yb; ++y) {
        const float* row =
            ink.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.width);
        double sum = 0.0;
        for (int x = x0; x <= x1; ++x)
            sum += row[x];
        mean[static_cast<std::size_t>(y - ya)] = sum / (x1 - x0 + 1);
        if (y >= line.top && y <= line.bottom)
            peak = std::max(peak, mean[static_cast<std::size_t>(y - ya)]);
    }
    if (!(peak > 0.0))
        return false;
    const double floor = kInkRowShare * peak;
    int t = middle;
    while (t > ya && mean[static_cast<std::size_t>(t - 1 - ya)] >= floor)
        --t;
    int b = middle;
    while (b < yb && mean[static_cast<std::size_t>(b + 1 - ya)] >= floor)
        ++b;
    if (t == ya || b == yb)
        return false; // ran into the search's edge: not a line's soft edge
    top = t;
    bottom = b;
    return true;
}

// Working planes of the bands below, kept per thread: every frame without a
// cash HUD asks for a band's top-hat, and fresh planes would cost their
// allocation and first touch on each one.
struct BandScratch {
    Plane rows;
    Plane boxed;
    Plane tmpA;
    Plane tmpB;
    Plane hat;
    std::vector<double> sums;
    std::vector<float> values;
};

BandScratch& bandScratch() {
    thread_local BandScratch s;
    return s;
}

// The top-hat of the plane's rows [ya, yb) on their own, into `out`.
void rowsTopHat(const Plane& smooth, int ya, int yb, Plane& out) {
    BandScratch& s = bandScratch();
    s.rows.width = smooth.width;
    s.rows.height = yb - ya;
    s.rows.pixels.assign(smooth.pixels.begin() + static_cast<std::ptrdiff_t>(ya) * smooth.width,
                         smooth.pixels.begin() + static_cast<std::ptrdiff_t>(yb) * smooth.width);
    topHat(s.rows, 9, out, s.tmpA, s.tmpB);
}

// The ink of the rows around the line, ramped between shares of the line's
// own strongest top-hat rather than at fixed levels. `bandTop` is the
// capture row of the band's first row. False without ink to scale by.
bool relativeInkBand(const Plane& smooth, const MoneyLine& line, Plane& band, int& bandTop) {
    const double h = line.height;
    const int ya = std::max(0, static_cast<int>(line.top - 1.5 * h));
    const int yb = std::min(smooth.height, static_cast<int>(line.bottom + 1.5 * h) + 1);
    if (smooth.empty() || yb - ya < 3 || line.rowBlobs.empty())
        return false;
    rowsTopHat(smooth, ya, yb, band);
    // The strongest top-hat on the line's blobs, taken high in the order so
    // that a few bright pixels do not set it.
    std::vector<float>& values = bandScratch().values;
    values.clear();
    for (const Blob& b : line.rowBlobs)
        for (int y = std::max(b.y0, ya); y <= std::min(b.y1, yb - 1); ++y)
            for (int x = std::max(b.x0, 0); x <= std::min(b.x1, band.width - 1); ++x)
                values.push_back(
                    band.pixels[static_cast<std::size_t>(y - ya) * static_cast<std::size_t>(band.width) +
                                static_cast<std::size_t>(x)]);
    if (values.empty())
        return false;
    const std::size_t at = values.size() * 9 / 10;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    const float peak = values[at];
    if (!(peak > 8.0f))
        return false;
    const float floor = kRelativeInkFloor * peak;
    const float span = kRelativeInkSpan * peak;
    for (float& v : band.pixels)
        v = std::min(std::max((v - floor) / span, 0.0f), 1.0f);
    bandTop = ya;
    return true;
}

// The digits' ink seen by their whiteness rather than their brightness,
// ramped against the ink near each column rather than the whole line's.
// A bright patch of the world behind the figure can be nearly as light as
// the digits but is rarely as grey: taking the darkest of the three
// channels keeps the digits' near-white while a coloured patch drops away,
// so what luma loses there comes back. Each column is scaled by the
// strongest top-hat on the line's rows within a line height either side,
// never by less than kMinLocalPeak, so that an empty stretch is not blown
// up into noise. False without a frame or rows to read.
constexpr float kMinLocalPeak = 16.0f;

bool whiteInkBand(const FrameView& frame, double top, double bottom, double h, Plane& band, int& bandTop) {
    if (!frame.valid() || !(h > 0.0) || !std::isfinite(h) || !std::isfinite(top) || !std::isfinite(bottom))
        return false;
    const int ya = std::max(0, static_cast<int>(top - 1.5 * h));
    const int yb = std::min(frame.height, static_cast<int>(bottom + 1.5 * h) + 1);
    if (yb - ya < 3)
        return false;
    BandScratch& s = bandScratch();
    Plane& rows = s.rows;
    rows.resize(frame.width, yb - ya);
    for (int y = ya; y < yb; ++y) {
        float* out =
            rows.pixels.data() + static_cast<std::size_t>(y - ya) * static_cast<std::size_t>(frame.width);
        for (int x = 0; x < frame.width; ++x) {
            const std::uint8_t* px = framePixel(frame, x, y);
            out[x] = static_cast<float>(std::min(px[0], std::min(px[1], px[2])));
        }
    }
    boxMean3(rows, s.boxed, s.sums);
    topHat(s.boxed, 9, band, s.tmpA, s.tmpB);
    const int w = band.width;
    const int la = std::max(static_cast<int>(top), ya) - ya;
    const int lb = std::min(static_cast<int>(bottom), yb - 1) - ya;
    if (lb < la)
        return false;
    std::vector<float> column(static_cast<std::size_t>(w), 0.0f);
    for (int y = la; y <= lb; ++y) {
        const float* row = band.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x)
            column[static_cast<std::size_t>(x)] = std::max(column[static_cast<std::size_t>(x)], row[x]);
    }
    const int reach = std::max(1, static_cast<int>(h));
    std::vector<float> peak(static_cast<std::size_t>(w), kMinLocalPeak);
    for (int x = 0; x < w; ++x)
        for (int u = std::max(0, x - reach); u <= std::min(w - 1, x + reach); ++u)
            peak[static_cast<std::size_t>(x)] =
                std::max(peak[static_cast<std::size_t>(x)], column[static_cast<std::size_t>(u)]);
    for (int y = 0; y < band.height; ++y) {
        float* row = band.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x) {
            const float p = peak[static_cast<std::size_t>(x)];
            row[x] =
                std::min(std::max((row[x] - kRelativeInkFloor * p) / (kRelativeInkSpan * p), 0.0f), 1.0f);
        }
    }
    bandTop = ya;
    return true;
}

// The second attempt at a balance the first did not read certainly: the
// line grown or moved, and the line measured from the ink, each with the
// last digit taken where its height puts it. When it succeeds, `grown`
// becomes the line with the top and bottom it was read on, so that the
// change beside the balance is read there too.
bool rereadBalanceAround(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                         const Blob& rightmost, const HudReadOptions& options, HudReading& reading,
                         MoneyLine& grown) {
    constexpr std::size_t nMoves = sizeof kRereadMoves / sizeof kRereadMoves[0];
    constexpr std::size_t nInk = sizeof kInkMoves / sizeof kInkMoves[0];
    BalanceTry tries[3 * (nMoves + nInk)];
    std::size_t count = 0;
    const double right = static_cast<double>(planes.smooth.width) - rightmost.x1 - 1.0;
    const Plane* band = nullptr;
    int bandTop = 0;
    auto add = [&](double top, double bottom) {
        BalanceTry& t = tries[count];
        t.top = top;
        t.bottom = bottom;
        t.band = band;
        t.bandTop = bandTop;
        const double h = t.bottom - t.top + 1.0;
        if (std::abs(right - kMarginOffset * h) <= kMarginTolerance * h) {
            int radius = 0;
            figureStart(rightmost, h, t.startX, radius);
        } else if (options.allowOffMargin) {
            t.startX = (planes.smooth.width - 1.0) - kMarginOffset * h - kLastDigitHalf * h;
        } else {
            return;
        }
        ++count;
    };
    for (const auto& move : kRereadMoves)
        add(line.top - move[0], line.bottom + move[1]);
    double inkTop = 0.0;
    double inkBottom = 0.0;
    const bool measured = inkLineExtent(planes.ink, line, inkTop, inkBottom);
    if (measured)
        for (const auto& move : kInkMoves)
            add(inkTop - move[0], inkBottom + move[1]);
    // The same once more on ink ramped to the line's own contrast: a bright
    // world behind the HUD leaves the digits little top-hat, and the fixed
    // ramp's floor eats their soft edges and thin strokes.
    Plane relative;
    if (relativeInkBand(planes.smooth, line, relative, bandTop)) {
        band = &relative;
        for (const auto& move : kRereadMoves)
            add(line.top - move[0], line.bottom + move[1]);
        if (measured)
            for (const auto& move : kInkMoves)
                add(inkTop - move[0], inkBottom + move[1]);
    }
    int chosen = rereadBalance(model, planes, tries, count, options, reading);
    // Only when those do not agree on a value, the white ink: kept apart so
    // that its tries cannot unsettle a value the others agree on.
    Plane white;
    if (chosen < 0 && whiteInkBand(planes.frame, line.top, line.bottom, line.height, white, bandTop)) {
        const std::size_t before = count;
        band = &white;
        for (const auto& move : kRereadMoves)
            add(line.top - move[0], line.bottom + move[1]);
        if (measured)
            for (const auto& move : kInkMoves)
                add(inkTop - move[0], inkBottom + move[1]);
        const int more = rereadBalance(model, planes, tries + before, count - before, options, reading);
        if (more >= 0)
            chosen = static_cast<int>(before) + more;
    }
    if (chosen < 0)
        return false;
    grown = line;
    grown.top = tries[chosen].top;
    grown.bottom = tries[chosen].bottom;
    grown.height = grown.bottom - grown.top + 1.0;
    return true;
}

// The balance where the HUD's own layout puts it, for each money line
// height a HUD scale can give: its digits' top 1.6 line heights below the
// capture's top, its last digit ending kMarginOffset line heights left of
// the right edge. Rows of mask blobs are no help when the balance is too
// short to make one ("$7", whose two blobs may fuse or fall below the
// digit size), when a reward line below it has more blobs, or when blur
// breaks its blobs up. Every height that reads certainly must give the same
// value, and two must (see rereadBalance); `placed` is then the line read.
constexpr double kLayoutTop = 1.6;
constexpr int kLayoutMinHeight = 20; // HUD scale 0.8 is 21.6, less a soft edge
constexpr int kLayoutMaxHeight = 37; // HUD scale 1.3 is 35.1

// Whether the layout's place holds faint ink enough for one digit at the
// smallest scale. Frames without a cash HUD (menus, the map, a death screen) are
// common and would otherwise pay for the whole scan.
constexpr int kLayoutMinInkPixels = 60;

bool inkAtLayout(const Plane& ink) {
    const double right = ink.width - 1.0;
    const int xa = std::max(0, static_cast<int>(right - (kMarginOffset + 1.0) * kLayoutMaxHeight));
    const int xb = std::min(ink.width, static_cast<int>(right - kMarginOffset * kLayoutMinHeight) + 4);
    const int ya = std::max(0, static_cast<int>(kLayoutTop * kLayoutMinHeight));
    const int yb = std::min(ink.height, static_cast<int>((kLayoutTop + 1.0) * kLayoutMaxHeight) + 1);
    int inked = 0;
    for (int y = ya; y < yb; ++y) {
        const float* row =
            ink.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.width);
        for (int x = xa; x < xb; ++x)
            inked += row[x] > kFaintInk ? 1 : 0;
    }
    return inked >= kLayoutMinInkPixels;
}

// A HUD over a world nearly as light as its digits, blurred at the smallest
// sizes, leaves its strokes a top-hat of 15 to 30: neither mask's fixed
// threshold nor the ink's fixed ramp takes them, though the digits stand
// clearly above what is around them. The contrast measured where the layout
// puts the balance's last digits sets both instead: the share of that place
// that can be strokes is below kLayoutStrokeShare.
constexpr double kLayoutStrokeShare = 0.05;
// The mask takes a share of that contrast that only strokes reach, never
// below what recompression's noise reaches.
constexpr float kLocalContrastShare = 0.5f;
constexpr float kMinLocalContrast = 10.0f;

// The top-hat of the capture's rows [ya, yb) (exact there: a margin of
// kTopHatPad rows around them is taken too where the capture has it), and
// the contrast of the strokes at the layout's place. `hat` starts at the
// capture's row hatTop. False when there is nothing to measure.
bool layoutTopHat(const Plane& smooth, int ya, int yb, Plane& hat, int& hatTop, float& contrast) {
    const int y0 = std::max(0, ya - kTopHatPad);
    const int y1 = std::min(smooth.height, yb + kTopHatPad);
    if (smooth.empty() || y1 - y0 < 3)
        return false;
    rowsTopHat(smooth, y0, y1, hat);
    hatTop = y0;
    const double right = smooth.width - 1.0;
    const int xa = std::max(0, static_cast<int>(right - (kMarginOffset + 1.0) * kLayoutMaxHeight));
    const int xb = std::min(smooth.width, static_cast<int>(right - kMarginOffset * kLayoutMinHeight) + 4);
    const int ta = std::max(y0, static_cast<int>(kLayoutTop * kLayoutMinHeight)) - y0;
    const int tb = std::min(y1, static_cast<int>((kLayoutTop + 1.0) * kLayoutMaxHeight) + 1) - y0;
    std::vector<float>& values = bandScratch().values;
    values.clear();
    for (int y = ta; y < tb; ++y)
        for (int x = xa; x < xb; ++x)
            values.push_back(hat.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(hat.width) +
                                        static_cast<std::size_t>(x)]);
    if (values.empty())
        return false;
    const std::size_t at =
        static_cast<std::size_t>((1.0 - kLayoutStrokeShare) * static_cast<double>(values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    contrast = values[at];
    return true;
}

// The third mask of the money line: only the rows the layout gives it, a
// little either way, at that place's own contrast. Every frame without a
// cash HUD comes this far, and pays for no more rows than that.
constexpr double kLayoutRowSlack = 0.25; // line heights

bool localContrastMask(const FramePlanes& planes, std::vector<std::uint8_t>& mask) {
    const Plane& smooth = planes.smooth;
    const int ya = static_cast<int>((kLayoutTop - kLayoutRowSlack) * kLayoutMinHeight);
    const int yb = std::min(smooth.height,
                            static_cast<int>((kLayoutTop + 1.0 + kLayoutRowSlack) * kLayoutMaxHeight) + 1);
    Plane& hat = bandScratch().hat;
    int hatTop = 0;
    float contrast = 0.0f;
    if (yb <= ya || !layoutTopHat(smooth, ya, yb, hat, hatTop, contrast))
        return false;
    const float threshold = std::max(kMinLocalContrast, kLocalContrastShare * contrast);
    mask.assign(smooth.pixels.size(), 0);
    for (int y = ya; y < yb; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(smooth.width);
        const std::size_t hatRow = static_cast<std::size_t>(y - hatTop) * static_cast<std::size_t>(hat.width);
        for (int x = 0; x < smooth.width; ++x)
            mask[row + static_cast<std::size_t>(x)] =
                (hat.pixels[hatRow + static_cast<std::size_t>(x)] > threshold &&
                 smooth.pixels[row + static_cast<std::size_t>(x)] > kMinSmooth)
                    ? 1
                    : 0;
    }
    return true;
}

// The ink of the capture's rows [ya, yb) ramped as relativeInkBand does, by
// the contrast at the layout's place rather than a line's blobs.
bool layoutInkBand(const Plane& smooth, int ya, int yb, Plane& band, int& bandTop) {
    float contrast = 0.0f;
    if (!layoutTopHat(smooth, ya, yb, band, bandTop, contrast) || !(contrast > kMinLocalContrast))
        return false;
    const float floor = kRelativeInkFloor * contrast;
    const float span = kRelativeInkSpan * contrast;
    for (float& v : band.pixels)
        v = std::min(std::max((v - floor) / span, 0.0f), 1.0f);
    return true;
}

bool rereadAtLayout(const Model& model, const FramePlanes& planes, const HudReadOptions& options,
                    HudReading& reading, MoneyLine& placed) {
    if (planes.ink.empty())
        return false;
    // Too little ink there for the fixed ramps is still worth the relative
    // one below, whose own measure of the place's contrast decides.
    const bool inked = inkAtLayout(planes.ink);
    // A quarter pixel apart: a cell scaled from a line half a pixel off
    // already misses a small digit's strokes.
    constexpr int kSteps = 4 * (kLayoutMaxHeight - kLayoutMinHeight) + 1;
    BalanceTry tries[kSteps];
    std::size_t count = 0;
    const double right = planes.ink.width - 1.0;
    for (int i = 0; i < kSteps; ++i) {
        const double h = kLayoutMinHeight + 0.25 * i;
        BalanceTry& t = tries[count++];
        t.top = kLayoutTop * h;
        t.bottom = t.top + h - 1.0;
        t.startX = right - kMarginOffset * h - kLastDigitHalf * h;
    }
    int chosen = inked ? rereadBalance(model, planes, tries, count, options, reading) : -1;
    // The same on the white ink, for a short balance over a bright patch.
    Plane white;
    int whiteTop = 0;
    constexpr double kMiddleHeight = (kLayoutMinHeight + kLayoutMaxHeight) / 2.0;
    if (chosen < 0 && inked &&
        whiteInkBand(planes.frame, tries[0].top, tries[count - 1].bottom, kMiddleHeight, white, whiteTop)) {
        for (std::size_t i = 0; i < count; ++i) {
            tries[i].band = &white;
            tries[i].bandTop = whiteTop;
        }
        chosen = rereadBalance(model, planes, tries, count, options, reading);
    }
    // And on ink ramped to the contrast the layout's place shows, for
    // digits a light world leaves barely above the fixed ramp's floor.
    Plane relative;
    int relativeTop = 0;
    if (chosen < 0 && layoutInkBand(planes.smooth, static_cast<int>(tries[0].top),
                                    static_cast<int>(tries[count - 1].bottom) + 1, relative, relativeTop)) {
        for (std::size_t i = 0; i < count; ++i) {
            tries[i].band = &relative;
            tries[i].bandTop = relativeTop;
        }
        chosen = rereadBalance(model, planes, tries, count, options, reading);
    }
    if (chosen < 0)
        return false;
    placed = MoneyLine{};
    placed.top = tries[chosen].top;
    placed.bottom = tries[chosen].bottom;
    placed.height = placed.bottom - placed.top + 1.0;
    return true;
}

double upperMedian(std::vector<int> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

namespace {

// Components of a digit's size where the balance can be, in rows by their
// centres.
std::vector<CandidateRow> candidateRows(const std::vector<Blob>& blobs) {
    std::vector<Blob> candidates;
    for (const Blob& b : blobs) {
        const int w = b.width();
        const int h = b.height();
        if (h >= kMinDigitHeight && h <= kMaxDigitHeight && w >= kMinDigitWidth && w <= 4 * h &&
            b.y0 >= kMinLineY0 && b.y0 <= kMaxLineY0)
            candidates.push_back(b);
    }
    std::vector<CandidateRow> rows;
    if (candidates.size() < 2)
        return rows;
    std::stable_sort(candidates.begin(), candidates.end(), [](const Blob& a, const Blob& b) {
        const double ca = centreY(a);
        const double cb = centreY(b);
        if (ca != cb)
            return ca < cb;
        return a.x0 < b.x0;
    });
    for (const Blob& b : candidates) {
        const double c = centreY(b);
        CandidateRow* home = nullptr;
        for (CandidateRow& row : rows) {
            if (std::abs(row.mean() - c) <= 0.35 * b.height()) {
                home = &row;
                break;
            }
        }
        if (!home) {
            rows.emplace_back();
            home = &rows.back();
        }
        home->blobs.push_back(b);
        home->centreSum += c;
    }
    return rows;
}

// The balance digits are the tallest text in the region. A reward line of a
// long phrase has more blobs than a short balance, and at larger HUD scales
// its letters pass the candidate size too, so rows clearly shorter than the
// tallest one are not considered before counting.
const CandidateRow* balanceRow(const std::vector<CandidateRow>& rows) {
    double tallest = 0.0;
    for (const CandidateRow& row : rows)
        if (row.blobs.size() >= 2)
            tallest = std::max(tallest, referenceHeight(row.blobs));
    const CandidateRow* chosen = nullptr;
    for (const CandidateRow& row : rows) {
        if (row.blobs.size() < 2 || referenceHeight(row.blobs) < kMinRowHeightShare * tallest)
            continue;
        if (!chosen || row.blobs.size() > chosen->blobs.size() ||
            (row.blobs.size() == chosen->blobs.size() && row.maxX1() > chosen->maxX1()))
            chosen = &row;
    }
    return chosen;
}

// The balance stands above every reward line. A row that passes for the
// balance above the one taken says the one taken may be a reward line's
// figure, which reads as sure as a balance does.
bool balanceRowAbove(const std::vector<CandidateRow>& rows, const CandidateRow& chosen) {
    double tallest = 0.0;
    for (const CandidateRow& row : rows)
        if (row.blobs.size() >= 2)
            tallest = std::max(tallest, referenceHeight(row.blobs));
    const double clear = referenceHeight(chosen.blobs);
    for (const CandidateRow& row : rows)
        if (&row != &chosen && row.blobs.size() >= 2 &&
            referenceHeight(row.blobs) >= kMinRowHeightShare * tallest && row.mean() < chosen.mean() - clear)
            return true;
    return false;
}

} // namespace

namespace {

// The line's geometry from the row taken for the balance.
bool lineFromRow(const CandidateRow& chosen, MoneyLine& line) {
    const double reference = referenceHeight(chosen.blobs);
    const double tolerance = std::max(0.12 * reference, 2.0);

    line.rowBlobs = chosen.blobs;
    std::stable_sort(line.rowBlobs.begin(), line.rowBlobs.end(),
                     [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    std::vector<int> tops;
    std::vector<int> bottoms;
    for (const Blob& b : line.rowBlobs) {
        if (std::abs(b.height() - reference) <= tolerance) {
            line.charBlobs.push_back(b);
            tops.push_back(b.y0);
            bottoms.push_back(b.y1);
        }
    }
    if (line.charBlobs.empty()) {
        line = MoneyLine{};
        return false;
    }
    line.top = upperMedian(tops);
    line.bottom = upperMedian(bottoms);
    line.height = line.bottom - line.top + 1.0;
    return true;
}

// Blur at the smallest sizes breaks the thin joins of "$", "2" and "5",
// leaving each digit as pieces stacked in its column, none of a digit's
// height. Pieces whose columns overlap by at least half the narrower one
// and whose rows nearly touch are joined, as often as that goes on.
std::vector<Blob> joinStackedPieces(const std::vector<Blob>& blobs) {
    std::vector<Blob> pieces;
    for (const Blob& b : blobs)
        if (b.height() >= kMinPieceHeight && b.height() <= kMaxDigitHeight && b.width() >= 2 &&
            b.y1 >= kMinLineY0 && b.y0 <= kMaxLineY0 + kMaxDigitHeight)
            pieces.push_back(b);
    std::sort(pieces.begin(), pieces.end(), [](const Blob& a, const Blob& b) { return a.y0 < b.y0; });
    // Each piece takes in those below it until none joins; a grown piece is
    // checked again against the rest, never against those above it, so a busy
    // frame's hundreds of specks cost pairs, not pairs per join.
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        for (std::size_t j = i + 1; j < pieces.size();) {
            Blob& a = pieces[i];
            const Blob& b = pieces[j];
            const int overlap = std::min(a.x1, b.x1) - std::max(a.x0, b.x0) + 1;
            const int gap = std::max(a.y0, b.y0) - std::min(a.y1, b.y1) - 1;
            const int y0 = std::min(a.y0, b.y0);
            const int y1 = std::max(a.y1, b.y1);
            if (2 * overlap < std::min(a.width(), b.width()) || gap > kMaxPieceGap ||
                y1 - y0 + 1 > kMaxDigitHeight) {
                ++j;
                continue;
            }
            a.x0 = std::min(a.x0, b.x0);
            a.x1 = std::max(a.x1, b.x1);
            a.y0 = y0;
            a.y1 = y1;
            a.area += b.area;
            pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(j));
            j = i + 1;
        }
    }
    return pieces;
}

} // namespace

bool findMoneyLine(FramePlanes& planes, MoneyLine& line) {
    line = MoneyLine{};
    const Plane& plane = planes.smooth;
    std::vector<Blob>& blobs = planes.scratch.blobs;
    labelComponents(planes.mask, plane.width, plane.height, blobs, planes.scratch.labels);
    planes.maskBlobsReady = true;

    const std::vector<CandidateRow> rows = candidateRows(blobs);
    const CandidateRow* chosen = balanceRow(rows);
    if (!chosen || !lineFromRow(*chosen, line))
        return false;
    line.rowAbove = balanceRowAbove(rows, *chosen);
    return true;
}

bool findBrokenMoneyLine(const std::vector<Blob>& blobs, MoneyLine& line) {
    line = MoneyLine{};
    const std::vector<CandidateRow> rows = candidateRows(joinStackedPieces(blobs));
    const CandidateRow* chosen = balanceRow(rows);
    if (!chosen || !lineFromRow(*chosen, line))
        return false;
    line.rowAbove = balanceRowAbove(rows, *chosen);
    return true;
}

namespace {

// The reward lines under the money line found, read on the helper while the
// caller reads the balance and change: the lines hang on where that line
// stands, not on how its balance reads. They write only their own parts of
// the planes (ink2, the text blobs and panels, the mask's blobs and the
// label scratch), which the balance and change never read, and the caller
// writes nothing in the planes until it has waited for them. While it
// waits it may class part of their glyphs (see classifyGlyphs), writing
// only the classes it is handed, on scratch of its own thread.
struct RewardLinesAhead {
    const Model* model = nullptr;
    FramePlanes* planes = nullptr;
    double bottom = 0.0;
    double height = 0.0;
    float minLineConfidence = 0.0f;
    float minMargin = 0.0f;
    std::vector<HudLine> lines;

    static void run(void* context) {
        RewardLinesAhead& a = *static_cast<RewardLinesAhead*>(context);
        a.lines = readRewardLines(*a.model, *a.planes, a.bottom, a.height, a.minLineConfidence, a.minMargin);
    }
};

// What follows a balance read on `money`: the checks for a digit missed
// right of it, the change beside it and the reward lines below `rewards`,
// taken from those read ahead when they were read below the same line.
HudReading& finishReading(const Model& model, FramePlanes& planes, const MoneyLine& money,
                          const MoneyLine& rewards, const HudReadOptions& options, HelperTask& aheadTask,
                          RewardLinesAhead& ahead, HudReading& reading) {
    if (reading.balanceCertain && (digitMissedRight(money, reading.balanceRight, money.height) ||
                                   digitScoreRightOf(model, planes, money, reading.balanceRight,
                                                     reading.balanceText.back()) >= kMissedDigitScore)) {
        reading.balanceCertain = false;
        reading.reason = kReasonUncertain;
    }

    readChange(model, planes, money, options, reading);
    if (options.readLines) {
        const bool readAhead = aheadTask.posted();
        aheadTask.finish();
        if (readAhead && ahead.bottom == rewards.bottom && ahead.height == rewards.height)
            reading.lines = std::move(ahead.lines);
        else
            reading.lines = readRewardLines(model, planes, rewards.bottom, rewards.height,
                                            options.minLineConfidence, options.minMargin);
    }
    return reading;
}

} // namespace

HudReading readHud(const Model& model, const FrameView& frame, const HudReadOptions& options,
                   FramePlanes& planes) {
    HudReading reading;
    prepareFrame(frame, planes, options.helper);

    MoneyLine line;
    bool found = findMoneyLine(planes, line);
    // Kept only while no line is found, for the second attempt.
    std::vector<Blob> strictBlobs;
    std::vector<Blob> faintBlobs;
    if (!found && options.retryLowContrast && !planes.ink.empty()) {
        // A faint HUD (bright scene behind it, or a washed-out stream) only
        // clears a lower threshold. The strict mask stays the frame's mask
        // for the reward lines, so it is put back afterwards.
        strictBlobs = planes.scratch.blobs;
        std::vector<std::uint8_t>& spare = planes.scratch.spareMask;
        spare.swap(planes.mask);
        planes.mask.resize(planes.ink.pixels.size());
        for (std::size_t i = 0; i < planes.mask.size(); ++i)
            planes.mask[i] =
                (planes.ink.pixels[i] > kFaintInk && planes.smooth.pixels[i] > kMinSmooth) ? 1 : 0;
        found = findMoneyLine(planes, line);
        spare.swap(planes.mask);
        if (!found) {
            // The strict mask's blobs are the frame's again.
            faintBlobs.swap(planes.scratch.blobs);
            planes.scratch.blobs.swap(strictBlobs);
        } else {
            // The blobs just found are the faint mask's, not the restored one's.
            planes.maskBlobsReady = false;
        }
    }
    // Then the digits blur broke into pieces, on the strict mask first. Pieces
    // of a menu or the world can line up too, so only a line ending at the
    // HUD's margin is taken.
    auto atHudMargin = [&](const MoneyLine& l) {
        int right = 0;
        for (const Blob& b : l.charBlobs)
            right = std::max(right, b.x1);
        const double d = static_cast<double>(planes.smooth.width) - right - 1.0;
        return std::abs(d - kMarginOffset * l.height) <= kMarginTolerance * l.height;
    };
    if (!found && options.retryLowContrast) {
        found = (findBrokenMoneyLine(planes.scratch.blobs, line) && atHudMargin(line)) ||
                (!faintBlobs.empty() && findBrokenMoneyLine(faintBlobs, line) && atHudMargin(line));
        if (!found)
            line = MoneyLine{};
    }
    // Last, the mask at the contrast the HUD's own place shows. A menu's
    // text takes such a mask as readily, so again only a line ending at the
    // HUD's margin is taken: anything else would cost every such frame the
    // balance's whole second attempt. Its blobs stand only for that line.
    if (!found && options.retryLowContrast && localContrastMask(planes, planes.scratch.spareMask)) {
        strictBlobs = planes.scratch.blobs;
        planes.scratch.spareMask.swap(planes.mask);
        found = findMoneyLine(planes, line) && atHudMargin(line);
        planes.scratch.spareMask.swap(planes.mask);
        if (found) {
            planes.maskBlobsReady = false;
        } else {
            line = MoneyLine{};
            planes.scratch.blobs.swap(strictBlobs);
        }
    }
    // Without a money line the layout's place is not scanned: menus, maps
    // and other sources the engine tries often hold ink there, and the scan
    // costs a hundred times a pass on every such frame.
    if (!found) {
        reading.reason = kReasonNoMoneyLine;
        return reading;
    }
    // Declared before the task, so that any way out of this function waits
    // for the task before its results go.
    RewardLinesAhead ahead{
        &model, &planes, line.bottom, line.height, options.minLineConfidence, options.minMargin, {}};
    HelperTask aheadTask(options.readLines ? options.helper : nullptr, &RewardLinesAhead::run, &ahead);

    const double h = line.height;
    reading.found = true;
    reading.lineHeight = static_cast<float>(h);

    std::vector<Blob> byRight = line.charBlobs;
    std::stable_sort(byRight.begin(), byRight.end(),
                     [](const Blob& a, const Blob& b) { return a.x1 < b.x1; });
    // A thin last digit ("1") that blur or recompression shortened can miss
    // the characters' height tolerance; started at the digit before it, the
    // reading would drop it and still be certain. A row blob of nearly the
    // line's height further right is taken as the last character instead.
    const Blob* last = &byRight.back();
    for (const Blob& b : line.rowBlobs)
        if (b.x1 > last->x1 && b.height() >= kMinLastDigitShare * h && b.height() <= kMaxLastDigitShare * h)
            last = &b;
    const Blob& rightmost = *last;
    const double d = static_cast<double>(planes.smooth.width) - rightmost.x1 - 1.0;
    const bool atMargin = std::abs(d - kMarginOffset * h) <= kMarginTolerance * h;

    // The line the balance and change are read on: the one found unless the
    // second attempt read them on a grown one. The reward lines keep the
    // one found.
    MoneyLine grown;
    const MoneyLine* money = &line;
    auto reread = [&] {
        if (!rereadBalanceAround(model, planes, line, rightmost, options, reading, grown))
            return false;
        money = &grown;
        return true;
    };
    // Last of all, the balance where the layout puts it. Should it stand on
    // another row than the line found (a reward line taken for it), the
    // reward lines are read below it instead.
    const MoneyLine* rewards = &line;
    MoneyLine placed;
    auto atLayout = [&] {
        if (!rereadAtLayout(model, planes, options, reading, placed))
            return false;
        money = &placed;
        // The HUD's size is the one the balance read at.
        reading.lineHeight = static_cast<float>(placed.height);
        if (std::abs((placed.top + placed.bottom) - (line.top + line.bottom)) / 2.0 > 0.5 * placed.height) {
            rewards = &placed;
        } else {
            placed.rowBlobs = line.rowBlobs;
            placed.charBlobs = line.charBlobs;
        }
        return true;
    };
    if (atMargin) {
        double startX = 0.0;
        int radius = 0;
        figureStart(rightmost, h, startX, radius);
        if (!readBalance(model, planes, line, startX, radius, options, reading) && !reread() && !atLayout()) {
            reading.reason = kReasonUnreadable;
            return reading;
        }
    } else {
        if (!options.allowOffMargin) {
            reading.reason = kReasonOffMargin;
            return reading;
        }
        // Read where the last digit would stand if the line did end at the
        // margin: a HUD whose own blobs were broken up still reads there.
        const double startX = (planes.smooth.width - 1.0) - kMarginOffset * h - kLastDigitHalf * h;
        if (!readBalance(model, planes, line, startX, 4, options, reading) && !reread() && !atLayout()) {
            reading.reason = kReasonOffMargin;
            return reading;
        }
    }
    if (!reading.balanceCertain && !reread())
        atLayout();
    confirmBalance(model, planes, *money, options, reading);
    if (reading.balanceCertain && line.rowAbove && money != &placed) {
        reading.balanceCertain = false;
        reading.reason = kReasonUncertain;
    }
    return finishReading(model, planes, *money, *rewards, options, aheadTask, ahead, reading);
}

HudReading readHud(const Model& model, const FrameView& frame, const HudReadOptions& options) {
    thread_local FramePlanes planes;
    HudReading reading = readHud(model, frame, options, planes);
    planes.frame = FrameView{}; // the caller's pixels are not ours to keep
    if (frame.valid() && static_cast<std::int64_t>(frame.width) * frame.height > kKeepBuffersUpTo)
        planes = FramePlanes{};
    return reading;
}

int hudSizePercent(float lineHeight) {
    if (!(lineHeight > 0.0f) || !std::isfinite(lineHeight))
        return 0;
    const double percent = static_cast<double>(lineHeight) / kDefaultMoneyLineHeight * 100.0;
    return percent >= 2147483647.0 ? 2147483647 : static_cast<int>(percent);
}

} // namespace hud
