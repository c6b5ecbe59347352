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

class QPainter;

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

// Who a kill-feed name belongs to, which decides its colour and marker.
enum class FeedWho { Enemy, Team, Squad, Me };

// One kill-feed row. `distance` < 0 draws no bracket at all.
struct FeedRowContent {
    std::string killer; // 3 to 12 of A-Z, 0-9, "_"
    FeedWho killerWho = FeedWho::Enemy;
    std::string victim;
    FeedWho victimWho = FeedWho::Enemy;
    std::string icon = "rifle"; // an icon name of iconNames()
    bool headshot = false;
    int distance = 50;
};

struct KillFeed {
    std::vector<FeedRowContent> rows; // newest first (top row), at most 7
    // 0..1 of a row pitch: rows slide down while a new one pushes them (the
    // newest row fades in at the top), so trackers see in-between positions.
    double scroll = 0.0;
};

// The item in the player's hands, bottom right.
struct Plate {
    std::string name; // the weapon table's name; drawn in upper case
    bool weapon = true;
    int magazine = 30; // ammunition after the slash, weapons only
    int reserve = 120;
};

// How the picture reached the reader: the game's own render size relative to
// the stream (scaling), softening and recompression.
struct Degradation {
    double sourceScale = 1.0; // game rendered at this multiple of the frame size, then resampled
    double blurSigma = 0.0;   // Gaussian blur, in frame pixels
    int jpegQuality = 0;      // 0: no recompression
};

// The game's typesetting numbers that real footage may show a little
// differently. The defaults are the game's own look; evaluation footage also
// draws them from a range around it.
struct Look {
    double letterSpacing = 0.0;  // caps added between letters of reward phrases and feed names
    double panelPad = 0.35;      // light-panel padding, in reward-line caps
    double iconHeight = 1.1;     // kill-feed weapon icon height, in feed caps
    double nameIconGap = 0.5;    // feed caps from the killer name to the icon
    double iconBracketGap = 0.4; // from the icon (or skull) to the distance
    double victimGap = 0.5;      // from the distance (or icon) to the victim name
    double squadDrain = 0.0;     // 0: squad names (210, 185, 90); 1: drained (210, 190, 130)
};

// Everything that decides one frame. The HUD elements are optional so that
// the kill feed, the weapon plate and the down banner can join as further
// members without changing the frames already described.
struct FrameContent {
    int width = 1920;
    int height = 1080;
    double hudScale = 1.0;        // the player's HUD scale k
    std::uint32_t sceneSeed = 1;  // the game world behind the HUD
    bool brightBehindHud = false; // a bright area (luma up to 200) behind the cash HUD
    int flatScene = -1;           // 0..255: a plain grey world of that level instead (tests)
    std::optional<CashHud> cash;
    // The cash HUD moved right by this many money caps (Hm) from where the
    // game puts it: footage whose crop or canvas is slightly off. 0 is the
    // game's own place.
    double cashShift = 0.0;
    std::optional<KillFeed> feed;
    std::optional<Plate> plate; // hidden while down
    bool down = false;          // knocked down: the damage log shows
    Look look;
    Degradation degradation;
};

// Source of frames with their times; one frame after another for evaluation,
// a played match at 10 frames a second for the trackers.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Fills the next frame; false when the source is exhausted.
    virtual bool next(FrameContent& frame, std::int64_t& timeMs) = 0;
};

// Variation ranges for random frames.
struct Variation {
    bool anyResolution = true; // 1280x720, 1920x1080, 2560x1440, 3840x2160
    double minScale = 0.8, maxScale = 1.3;
    bool degrade = true;
    // Further HUD elements; off by default so that a seed keeps giving the
    // same cash frames. They draw from a randomness of their own.
    bool feed = false;       // a random kill feed on every frame
    bool plate = false;      // a weapon plate on every frame
    double downChance = 0.0; // share of frames with the player knocked down
    // The cash HUD moved right by a random 0.4 to 1.3 money caps on every
    // frame (a crop set slightly wrong). Drawn from its own randomness, so a
    // seed gives the same frames otherwise.
    bool shiftCash = false;
    // The look drawn per frame from the range around the game's own, and the
    // stream's harder side: JPEG 50 to 95, blur up to 0.8 px at 1080 lines,
    // rescaling by 0.9 to 1.1, any frame size from 720 to 2160 lines (odd
    // ones too). Drawn from its own randomness.
    bool lookRange = false;
};

// A look from the range with letters, names and icons spaced wide apart, a
// roomy panel and the squad colour drained (icons at the game's height).
Look spacedLook();
// A look drawn from the range around the game's own.
Look randomLook(Rng& rng);
// Frame size, HUD scale aside, and degradation drawn from the range.
void randomRangeFootage(Rng& rng, FrameContent& frame);

// Independent random frames over the variations of the game's look.
class RandomFrames : public FrameSource {
public:
    RandomFrames(std::uint32_t seed, int count, Variation variation = {});
    bool next(FrameContent& frame, std::int64_t& timeMs) override;

private:
    Rng rng_;
    Rng extra_; // kill feed, plate and down state
    Rng shift_; // cash HUD shift
    Rng look_;  // look and footage of the range
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
    // A word with the font's own letter spacing and kerning, plus `tracking`
    // cap heights between letters.
    QPainterPath word(const std::string& text, double tracking = 0.0) const;
    // Ink box of each letter of a word, in the coordinates of word(text, tracking).
    std::vector<QRectF> letterBoxes(const std::string& text, double tracking = 0.0) const;
    // Pen position of each letter of `text` at the font's own advances plus
    // `tracking` cap heights between letters (reference size, baseline y = 0).
    std::vector<double> letterOrigins(const std::string& text, double tracking) const;
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
        double tracking = 0;                          // caps added between the phrase's letters
        QRectF panel;                                 // empty unless a light panel
        std::vector<std::pair<char, QRectF>> letters; // ink box of every phrase letter
    };
    std::vector<Line> lines;
};
HudLayout layoutCashHud(const FrameContent& frame);

// Paints the part `window` (frame pixels) of the frame, degradation included.
// Windows aligned to 16 pixels give the same picture as the whole frame (up to
// rounding at anti-aliased edges) and the same JPEG block grid.
QImage renderFrame(const FrameContent& frame, const QRect& window);
inline QImage renderFrame(const FrameContent& frame) {
    return renderFrame(frame, QRect(0, 0, frame.width, frame.height));
}

// Ground truth of a frame as JSON.
QJsonObject truthJson(const FrameContent& frame);

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

// The kill-feed icon names of the game's look: every weapon class, the
// events and "skull" (the headshot mark).
const std::vector<std::string>& iconNames();
// The icon's white silhouette at a cap of `cap` pixels (the feed cap m),
// antialiased, as grey levels 0..255 in an 8-bit image; variant 0 is the
// shape the game draws, variants 1.. slightly altered forms ("rifle_2",
// "skull_small") that the data file stores beside it. The stored names
// ("rifle_2") name their variant directly. Null for an unknown name or variant.
QImage iconImage(const std::string& name, double cap, int variant = 0);

// Where every part of the kill feed, plate and damage log lands, in frame
// pixels: what the painter draws and what the builder and the tests take as
// the truth. Ink boxes are tight around the drawn shape (before shadow).
struct FeedLayout {
    double cap = 0; // the feed cap m
    struct Row {
        FeedRowContent row;
        QRectF band;                                  // the dark band
        double capTop = 0;                            // cap top of the names
        QRectF killerMarker, victimMarker;            // empty when none
        QRectF killerName, victimName;                // ink boxes of the names
        QRectF icon, skull;                           // skull empty unless a headshot
        QRectF openBracket, closeBracket;             // empty without a distance
        std::vector<std::pair<char, QRectF>> figures; // digits, then 'm'
        double opacity = 1.0;                         // the newest row fades in while the feed scrolls
    };
    std::vector<Row> rows; // top row first
};
FeedLayout layoutFeed(const FrameContent& frame);

struct PlateLayout {
    double cap = 0;
    std::vector<std::pair<char, QRectF>> letters; // name letters up to the slash
    QRectF slash;                                 // empty for gadgets
    QRectF line;                                  // the whole drawn line
    std::vector<std::pair<char, QRectF>> ammo;    // magazine digits, then reserve digits
};
PlateLayout layoutPlate(const FrameContent& frame); // empty without a plate or while down
// The red band, frame pixels, where the game puts it whether or not it shows.
QRectF damageLogHeader(const FrameContent& frame);
// Ink box of the word "DAMAGE LOG" inside the band, and the dimmer damage rows
// under it (a frame's rows follow from its scene seed).
struct DamageLogLayout {
    QRectF band;
    double titleCap = 0;
    QRectF title;
    double rowCap = 0;
    std::vector<std::pair<std::string, QPointF>> rows; // text and its ink top-left
};
DamageLogLayout layoutDamageLog(const FrameContent& frame);

// The icon outline in units of the feed cap: ink box (0, 0, width, height).
// Empty for unknown names. Names with a variant suffix ("rifle_2",
// "skull_small") give that variant.
QPainterPath iconPath(const std::string& name, int variant = 0);
// The variants an icon has beside its base shape (0 for most icons), and
// the names the kill-feed data stores them under.
int iconVariantCount(const std::string& name);
std::string iconVariantName(const std::string& name, int variant);

// Engine capture regions of the auxiliary readers, in frame pixels, and the
// captures themselves at their reference heights (kill feed and plate 2160
// lines, damage log 562.5). Null image when the engine would not read it.
QRect feedRegion(int frameWidth, int frameHeight);
QRect plateRegion(int frameWidth, int frameHeight);
QRect damageLogRegion(int frameWidth, int frameHeight);
QImage captureFeedRegion(const QImage& frame);
QImage capturePlateRegion(const QImage& frame);
QImage captureDamageLogRegion(const QImage& frame);

// One auxiliary capture as the engine makes it: the exact region in frame
// pixels and the output size; `valid` is false when the engine would not read
// it (frame too small or too low for that reader).
struct RegionCapture {
    bool valid = false;
    QRectF region;
    int width = 0;
    int height = 0;
    double refHeight = 0;
    QPointF toCapture(const QPointF& framePoint) const;
    QRectF toCapture(const QRectF& frameRect) const;
    QImage capture(const QImage& frame) const; // null when not valid
};
RegionCapture feedCapture(int frameWidth, int frameHeight);
RegionCapture plateCapture(int frameWidth, int frameHeight);
RegionCapture damageLogCapture(int frameWidth, int frameHeight);

// Paints the kill feed, the weapon plate and the damage log of `frame` (those
// it has) over a picture already holding the scene and the cash HUD.
void paintFeedPlateDown(QPainter& painter, const FrameContent& frame);
// The truth of those three elements, added only for frames that have them.
void addFeedPlateDownTruth(QJsonObject& truth, const FrameContent& frame);

// Random content for the kill feed and the plate as the game shows it. The
// player's own name `me` appears on the rows the player is part of.
std::string randomPlayerName(Rng& rng);
FeedRowContent randomFeedRow(Rng& rng, const std::string& me);
KillFeed randomKillFeed(Rng& rng);
Plate randomPlate(Rng& rng);

} // namespace synth
