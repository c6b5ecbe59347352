#pragma once

// Image primitives shared by the HUD and kill-feed readers: float planes built
// from one captured frame, connected components, text rows, and the sampling
// and correlation of character cells against the model's templates.

#include "hud/core/model.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace hud {

class HelperThread;

// Frames beyond these bounds are not read at all: the capture is scaled to
// about 907 pixels wide, so anything this large is a caller's mistake, and
// refusing it keeps every index computation inside int and size_t.
constexpr int kMaxFrameSide = 16384;
constexpr std::int64_t kMaxFramePixels = std::int64_t{1} << 26;

// An allocator whose elements a vector's resize leaves unset instead of
// value-initialising them: a frame's planes are written whole right after
// they are sized, and clearing a few megabytes first costs as much as one
// of the passes that then write them.
template <typename T> struct UnsetAllocator : std::allocator<T> {
    template <typename U> struct rebind { using other = UnsetAllocator<U>; };
    UnsetAllocator() = default;
    template <typename U> UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    template <typename U> void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using PlanePixels = std::vector<float, UnsetAllocator<float>>;

// A single-channel float image, row-major.
struct Plane {
    int width = 0;
    int height = 0;
    PlanePixels pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    float at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    // Sets the size; keeps the allocation when it is large enough. Pixels
    // past the old size read 0.
    void resize(int w, int h);
    // resize for a builder that writes every pixel next: the pixels are left
    // as they happen to be.
    void reshape(int w, int h);
};

// A captured 32-bit frame: bytes blue, green, red, unused per pixel; rows
// `stride` bytes apart.
struct FrameView {
    int width = 0;
    int height = 0;
    const std::uint8_t* pixels = nullptr;
    int stride = 0;

    // Non-empty, within the size bounds, with a stride that holds a row.
    bool valid() const;
};

// A connected component's inclusive bounding box and pixel count.
struct Blob {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    int area = 0;
    bool inverted = false; // dark text found on a light panel

    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
};

struct RowGeometry {
    double top = 0.0;
    double bottom = 0.0;
    double height = 0.0;
};

// One horizontal run of set mask pixels and its provisional label.
struct LabelRun {
    int x0 = 0;
    int x1 = 0; // inclusive
    int y = 0;
    std::uint32_t label = 0;
};

// Working memory of the labelling, kept so that repeated calls reuse it.
struct LabelScratch {
    std::vector<LabelRun> runs;
    std::vector<std::uint32_t> parent;
    std::vector<int> index;
    std::vector<std::uint64_t> bits; // one row, 64 pixels a word
};

// Text rows as groupRows gives them, written into buffers that a reader keeps
// from frame to frame: lines[0 .. count) and their geometry are the result,
// lines past count and the rest are spare room.
struct RowGroups {
    std::vector<std::vector<Blob>> lines;
    std::vector<RowGeometry> geometry;
    std::size_t count = 0;

    struct Line {
        int y0 = 0;
        int y1 = 0;
        std::vector<Blob> blobs;
        RowGeometry geometry;
    };
    std::vector<Line> work; // work[0 .. used) are the rows being built
    std::size_t used = 0;
    std::vector<const Blob*> large;
    std::vector<const Blob*> small;
    std::vector<std::size_t> order;
    std::vector<std::uint32_t> byX;
    std::vector<int> tops;
    std::vector<int> bottoms;
};

// The rings prepareFrame works one band of a frame's rows through.
struct FrameBandScratch {
    Plane luma;
    Plane tmpA;
    Plane tmpB;
    std::vector<double> sums;
};

// Buffers that prepareFrame and the readers reuse from frame to frame, so that
// a steady stream of equally sized frames does not allocate.
struct FrameScratch {
    Plane luma;
    Plane tmpA;
    Plane tmpB;
    std::vector<double> sums;
    FrameBandScratch lower; // the rows a helper thread prepares
    std::vector<std::uint8_t> spareMask;
    LabelScratch labels;
    std::vector<Blob> blobs;
};

// The per-frame working record both readers build once and then share.
struct FramePlanes {
    FrameView frame;
    Plane smooth;                   // 3x3 mean of the luma
    Plane ink;                      // contrast ramp of the top-hat of `smooth`, 0..1
    std::vector<std::uint8_t> mask; // bright-text pixels, 0 or 1
    Plane ink2;                     // `ink` plus dark-on-light text, filled lazily
    std::vector<Blob> textBlobs;    // filled lazily with ink2
    std::vector<Blob> panels;       // light panels behind dark text, filled with textBlobs
    bool textBlobsReady = false;
    // scratch.blobs are the components of `mask` as it stands; whoever
    // labels another mask into them or changes `mask` clears this.
    bool maskBlobsReady = false;
    FrameScratch scratch;
};

// Plane builders. The forms with an `out` argument reuse its allocation.
Plane toLuma(const FrameView& frame);
void toLuma(const FrameView& frame, Plane& out);
// The luma into a plain vector, width * height values (none for an invalid
// frame), for a reader that works on it in place.
void toLuma(const FrameView& frame, std::vector<float>& out);
Plane boxMean3(const Plane& in);
void boxMean3(const Plane& in, Plane& out, std::vector<double>& sums);
Plane erode(const Plane& in, int size);
void erode(const Plane& in, int size, Plane& out, Plane& padded);
Plane dilate(const Plane& in, int size);
void dilate(const Plane& in, int size, Plane& out, Plane& padded);
Plane topHat(const Plane& in, int size);
void topHat(const Plane& in, int size, Plane& out, Plane& tmpA, Plane& tmpB);
Plane contrastRamp(const Plane& in);
void contrastRamp(const Plane& in, Plane& out);
// out[i] = 1 where values[i] > level, else 0 (NaN included), for i < n.
void maskAbove(const float* values, std::size_t n, float level, std::uint8_t* out);

// Builds smooth, ink and mask for `frame` and clears the lazily filled parts.
// An invalid frame leaves every plane empty (0 x 0).
void prepareFrame(const FrameView& frame, FramePlanes& planes);
// The same with the lower half of the rows prepared on `helper` (if any),
// to the same values.
void prepareFrame(const FrameView& frame, FramePlanes& planes, HelperThread* helper);

// 8-connected components of a 0/1 mask, in the raster order of their first
// pixel. A mask shorter than width * height yields no blobs.
std::vector<Blob> labelComponents(const std::vector<std::uint8_t>& mask, int width, int height);
void labelComponents(const std::vector<std::uint8_t>& mask, int width, int height, std::vector<Blob>& out,
                     LabelScratch& scratch);
// The components of the mask maskAbove(values, level) would give, the same
// blobs in the same order, without the mask.
void labelAbove(const Plane& values, float level, std::vector<Blob>& out, LabelScratch& scratch);

// Groups blobs into horizontal text rows, ordered by top; each row's blobs are
// ordered by x0 with overlapping neighbours fused.
std::vector<std::vector<Blob>> groupRows(const std::vector<Blob>& blobs,
                                         std::vector<RowGeometry>* geometry = nullptr);
void groupRows(const std::vector<Blob>& blobs, RowGroups& out);

// Bilinear sample; taps outside the plane read 0.
float sampleBilinear(const Plane& p, double x, double y);

// 20 x 36 money cell (kMoneyCellLength floats) centred on cx.
void sampleMoneyCell(const Plane& p, double cx, double top, double bottom, double lineHeight, float* out);
// 32 x 32 glyph cell (kGlyphCellLength floats) of one blob at the row's scale.
void sampleGlyphCell(const Plane& p, const Blob& blob, double top, double bottom, double lineHeight,
                     float* out);

// Centres and scales to unit length, so that dot() of two normalised vectors
// is their correlation. A constant vector is left all zeros.
void normalizeVector(float* v, std::size_t n);
// normalizeVector(v[k], n) for k < count, bit-identical to it, with several
// vectors worked on together. The vectors must not overlap.
void normalizeVectors(float* const* v, std::size_t count, std::size_t n);
float dot(const float* a, const float* b, std::size_t n);
// out[k] = dot(a, b[k], n) for k < count, bit-identical to calling dot() for
// each, but one pass over `a` serves several vectors.
void dotMany(const float* a, const float* const* b, std::size_t count, std::size_t n, float* out);

// The 2 x 2 block sums of a `columns` x `rows` cell (both even), halved, into
// `coarse` ((columns / 2) * (rows / 2) floats), and the length of the cell's
// difference from its block means, which is returned. For any two cells a
// and b: dot(a, b) <= dot(coarse(a), coarse(b)) + rest(a) * rest(b), up to
// rounding, so a search can pass over templates that cannot win at a
// quarter of the cost of scoring them.
float coarsenCell(const float* cell, int columns, int rows, float* coarse);

// coarsenCell(cell, kMoneyCellColumns, kMoneyCellRows, coarse) for a money
// cell, the same up to the order its float sums are taken in.
float coarsenMoneyCell(const float* cell, float* coarse);

// The 4 x 4 block form of a money cell, made from its 2 x 2 form (`coarse`
// and `rest` as coarsenMoneyCell gives them): the block sums halved, row by
// row, then zeros up to kMoneyRoughLength; returns the length of what the
// blocks leave out. As the 2 x 2 form refines this one, the bound on a dot
// product these give is never below the one the 2 x 2 forms give.
constexpr int kMoneyRoughColumns = kMoneyCellColumns / 4;
constexpr int kMoneyRoughRows = kMoneyCellRows / 4;
constexpr int kMoneyRoughLength = (kMoneyRoughColumns * kMoneyRoughRows + 7) / 8 * 8;
float roughenMoneyCoarse(const float* coarse, float rest, float* rough);

// The 4 x 4 forms of `count` money templates from their 2 x 2 forms (`sums`,
// one coarse length apart, and `rest`, negative for a template too short),
// laid out so that one pass bounds every template: value j of template t at
// byValue[j * stride + t], roughRest[t] its left-out length (negative for
// none). Returns the stride, `count` rounded up to a multiple of 8.
std::size_t roughenMoneyTemplates(const float* sums, const float* rest, std::size_t count,
                                  std::vector<float>& byValue, std::vector<float>& roughRest);

// The score of a cell that nothing was compared with: below every
// correlation (which lies in -1..1), so any real comparison beats it.
constexpr float kNoScore = -2.0f;

// Best correlation of `cell` with any of the templates; kNoScore for none. A
// template shorter than n cannot be compared and is passed over.
float bestTemplateScore(const float* cell, const detail::TemplateList& templates, std::size_t n);

struct GlyphClass {
    char character = '?';
    float score = kNoScore;
    float second = kNoScore;
};

// Best and second-best character of `charset` for a normalised glyph cell.
GlyphClass classifyGlyph(const float* cell, const detail::Templates& glyphs, std::string_view charset);

// classifyGlyph for each of `count` cells into out[0..count), with identical
// results; each template is read once for several cells.
void classifyGlyphs(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                    std::string_view charset, GlyphClass* out);

// For each of `count` cells, the best correlation with each character of
// `charset`: out[q * charset.size() + c] is what classifyGlyph takes as the
// score of charset[c] for cells[q], kNoScore for a character without
// templates. Folding a cell's scores in the order of any subset of the
// charset gives classifyGlyph's result for that subset, bit for bit, so
// one pass serves several subsets.
void bestGlyphScores(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                     std::string_view charset, float* out);
// classifyGlyph's result from such scores (one per character of charset).
GlyphClass foldGlyphScores(const float* scores, std::string_view charset);

// Median of integers; the mean of the middle two for an even count, 0 for none.
double medianInt(std::vector<int> v);

// The frame's blue, green, red bytes at (x, y); the caller keeps inside the frame.
inline const std::uint8_t* framePixel(const FrameView& f, int x, int y) {
    return f.pixels + static_cast<std::ptrdiff_t>(y) * f.stride + static_cast<std::ptrdiff_t>(x) * 4;
}

} // namespace hud
