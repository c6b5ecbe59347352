// The synthetic game: paints frames with the game's HUD over a made-up game
// world, with the ground truth beside each frame. The same typesetting feeds
// the model builder, so the templates and the test footage agree on every
// glyph position.
#pragma once

#include <QFont>
#include <QImage>
#include <QJsonObject>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace synth {

// Seeded randomness that gives the same numbers with every standard library:
// the engine is fully specified by the standard, the distributions are ours.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t next() { return static_cast<std::uint32_t>(engine_()); }
    double uniform();                                       // [0, 1)
    double uniform(double lo, double hi);                   // [lo, hi)
    std::int64_t between(std::int64_t lo, std::int64_t hi); // inclusive
    bool chance(double p) { return uniform() < p; }
    double normal();
    template <typename T> const T& pick(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(items.size()) - 1))];
    }

private:
    std::mt19937 engine_;
};

// One reward line below the balance. A line carries a cash figure or an
// experience amount on its right (the game never shows both).
struct RewardLine {
    std::string text; // event phrase in capitals
    bool hasFigure = false;
    std::int64_t figure = 0;
    bool hasXp = false;
    int xp = 0;
    bool panel = false; // dark text on a light panel
};

struct CashHud {
    std::int64_t balance = 0;
    std::optional<std::int64_t> change; // signed; absent when no change is shown
    std::vector<RewardLine> lines;      // oldest first (top), newest last
};

// How the picture reached the reader: the game's own render size relative to
// the stream (scaling), softening and recompression.
struct Degradation {
    double sourceScale = 1.0; // game rendered at this multiple of the frame size, then resampled
    double blurSigma = 0.0;   // Gaussian blur, in frame pixels
    int jpegQuality = 0;      // 0: no recompression
};

// Everything that decides one frame. The HUD elements are optional so that
// the kill feed, the weapon plate and the down banner can join as further
// members without changing the frames already described.
struct FrameSpec {
    int width = 1920;
    int height = 1080;
    double hudScale = 1.0;        // the player's HUD scale k
    std::uint32_t sceneSeed = 1;  // the game world behind the HUD
    bool brightBehindHud = false; // a bright area (luma up to 200) behind the cash HUD
    int flatScene = -1;           // 0..255: a plain grey world of that level instead (tests)
    std::optional<CashHud> cash;
    Degradation degradation;
};

// Source of frames with their times; one frame after another for evaluation,
// a played match at 10 frames a second for the trackers.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Fills the next frame; false when the source is exhausted.
    virtual bool next(FrameSpec& frame, std::int64_t& timeMs) = 0;
};

// Variation ranges for random frames.
struct Variation {
    bool anyResolution = true; // 1280x720, 1920x1080, 2560x1440, 3840x2160
    double minScale = 0.8, maxScale = 1.3;
    bool degrade = true;
};

// Independent random frames over the variations of the game's look.
class RandomFrames : public FrameSource {
public:
    RandomFrames(std::uint32_t seed, int count, Variation variation = {});
    bool next(FrameSpec& frame, std::int64_t& timeMs) override;

private:
    Rng rng_;
    int left_;
    Variation variation_;
    std::int64_t time_ = 0;
};

// Random HUD content as the game shows it.
CashHud randomCashHud(Rng& rng, int frameHeight, double hudScale);
std::int64_t randomBalance(Rng& rng);

// Glyph outlines of the HUD font, loaded from the shipped font file. Needs a
// QGuiApplication. Paths are at a reference size with the baseline at y = 0.
class Glyphs {
public:
    static const Glyphs& instance();
    bool ok() const { return ok_; }
    const QString& error() const { return error_; }
    // Outline of one character; empty for characters the font lacks.
    const QPainterPath& glyph(char c) const;
    // A word with the font's own letter spacing.
    QPainterPath word(const std::string& text) const;
    // Ink box of each letter of a word, in the coordinates of word(text).
    std::vector<QRectF> letterBoxes(const std::string& text) const;
    double capHeight() const { return cap_; } // of the reference size

private:
    Glyphs();
    bool ok_ = false;
    QString error_;
    QString family_;
    QFont font() const;
    double cap_ = 1;
    std::vector<QPainterPath> paths_;
};

// Path of the font file; CORVEX_FONT overrides the repository's copy.
QString fontPath();
// Makes sure a Qt GUI application exists (offscreen unless a platform is set).
void ensureGuiApp(int& argc, char** argv);

// Character placement: centre x and the cap top, both in frame pixels.
struct PlacedGlyph {
    char c;
    double cx;
    double top;
    double cap;
};

// The HUD's advance tables, in units of the line's cap height.
double moneyAdvance(char c);
double figureAdvance(char c);

// Money text as the game writes it: "$12,345", "-$1,250".
std::string moneyText(std::int64_t value);

// Lays a figure out from its right edge leftwards: the right ink edge of the
// last character at rightEdge, centres spaced by the mean of the advances,
// the group gap before the fourth and seventh digit from the right.
std::vector<PlacedGlyph> layoutFigure(const std::string& text, double rightEdge, double top, double cap,
                                      double (*advance)(char), double groupGap);

// Layout of the cash HUD in frame pixels, shared by the painter and the model
// builder (which needs the true character centres).
struct HudLayout {
    double unit = 0; // money cap Hm
    std::vector<PlacedGlyph> balance, change;
    QRectF arrow; // empty without a change
    struct Line {
        double cap = 0;
        std::vector<PlacedGlyph> figure; // "+$250" or "25XP"
        std::vector<std::string> words;
        std::vector<double> wordLeft; // ink left of each word
        double phraseTop = 0;
        QRectF panel;                                 // empty unless a light panel
        std::vector<std::pair<char, QRectF>> letters; // ink box of every phrase letter
    };
    std::vector<Line> lines;
};
HudLayout layoutCashHud(const FrameSpec& frame);

// Paints the part `window` (frame pixels) of the frame, degradation included.
// Windows aligned to 16 pixels give the same picture as the whole frame (up to
// rounding at anti-aliased edges) and the same JPEG block grid.
QImage renderFrame(const FrameSpec& frame, const QRect& window);
inline QImage renderFrame(const FrameSpec& frame) {
    return renderFrame(frame, QRect(0, 0, frame.width, frame.height));
}

// Ground truth of a frame as JSON.
QJsonObject truthJson(const FrameSpec& frame);

// The engine's view of the cash HUD: the top-right region of the frame, 0.42 of
// the height wide (at most the width) and 0.22 high, scaled to 907 pixels wide
// with bilinear filtering. `image` holds the frame part starting at `origin`.
// Returns a null image, with `error` set, for frames the engine would not read.
QImage captureHudRegion(const QImage& image, QPoint origin, int frameWidth, int frameHeight,
                        QString* error = nullptr);
inline QImage captureHudRegion(const QImage& frame, QString* error = nullptr) {
    return captureHudRegion(frame, QPoint(0, 0), frame.width(), frame.height(), error);
}
// The frame part that captureHudRegion reads, grown to a 16-pixel grid.
QRect hudWindow(int frameWidth, int frameHeight);
// Maps a frame x or y to the 907-wide capture.
double captureScale(int frameWidth, int frameHeight);
double captureLeft(int frameWidth, int frameHeight);

// Bilinear resampling of the rectangle `src` (pixel units, pixel centres at
// +0.5) into an image of outW by outH, edges clamped, as a GPU sampler does.
QImage resampleBilinear(const QImage& image, const QRectF& src, int outW, int outH);

} // namespace synth
