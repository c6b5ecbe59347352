// corvex-build-model: builds the HUD model file (templates and pairwise
// tie-breakers) from the HUD font, typeset and painted as the game does, and
// optionally from captures of real footage.

#include "cli.h"
#include "build-killfeed.h"
#include "feedrun.h"
#include "cluster.h"
#include "hudio.h"
#include "match.h"
#include "synth.h"

#include "hud/core/image.h"
#include "hud/cash/lines.h"
#include "hud/core/model.h"
#include "hud/cash/money.h"
#include "hud/plate/plate.h"
#include "hud/cash/pass.h"
#include "hud/cash/vocab.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Cell = std::vector<float>;
using Pool = std::map<char, std::vector<Cell>>;

constexpr std::size_t kMaxPool = 900;

// Tuning of the training, set from the command line.
struct Tuning {
    double cellOffset = 0.5;    // template cells up to this far (pixels) off the true centre
    double pairOffset = 0.6;    // tie-breaker cells up to this far off
    double pairRidge = 0.0002;  // L2 penalty per training cell of the tie-breakers
    std::size_t pairPool = 900; // tie-breaker cells kept per character
};
Tuning tuning;
constexpr char kMoneyChars[] = "$-0123456789";
constexpr char kFigureChars[] = "+$0123456789";
constexpr char kPairChars[] = "$0123456789";

struct Pools {
    Pool money, figure, glyph;      // cells where the reader meets the characters
    Pool moneyJitter, figureJitter; // cells a little off centre, for the tie-breakers
    Pool plate;                     // weapon plate glyphs, as the plate reader samples them
    Pool fused;                     // reward-line blobs of two letters run together, by the first
    int frames = 0, skipped = 0, real = 0;
    int plateFrames = 0, plateSkipped = 0;
};

bool verbose = false;

void add(Pool& pool, char c, const float* cell, std::size_t n, std::size_t limit = kMaxPool) {
    auto& list = pool[c];
    if (list.size() < limit)
        list.emplace_back(cell, cell + n);
}

double glyphInkWidth(char c, double cap) {
    const synth::Glyphs& g = synth::Glyphs::instance();
    return g.glyph(c).boundingRect().width() * cap / g.capHeight();
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The money line as the reader finds it, with its low-contrast retry.
bool findLine(hud::FramePlanes& planes, hud::MoneyLine& line) {
    if (hud::findMoneyLine(planes, line))
        return true;
    const std::vector<std::uint8_t> saved = planes.mask;
    for (std::size_t i = 0; i < planes.mask.size(); ++i)
        planes.mask[i] = planes.ink.pixels[i] > 0.2173913f && planes.smooth.pixels[i] > 95.0f;
    const bool found = hud::findMoneyLine(planes, line);
    planes.mask = saved;
    planes.maskBlobsReady = false; // the blobs found were those of the faint mask
    return found;
}

// Training lines: the game's phrases, single vocabulary words and random
// letter strings, so that letters the phrases rarely use get templates too.
std::string trainingText(synth::Rng& rng) {
    const double u = rng.uniform();
    if (u < 0.5)
        return rng.pick(hud::eventPhrases());
    if (u < 0.75)
        return rng.pick(hud::eventWords());
    std::string out;
    const int words = static_cast<int>(rng.between(1, 2));
    for (int w = 0; w < words; ++w) {
        if (w)
            out += ' ';
        const int n = static_cast<int>(rng.between(3, 7));
        for (int i = 0; i < n; ++i)
            out += hud::kLineLetters[static_cast<std::size_t>(rng.between(0, 24))];
    }
    return out;
}

synth::FrameContent trainingFrame(synth::Rng& rng) {
    static const int sizes[4][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
    synth::FrameContent f;
    const int s = static_cast<int>(rng.between(0, 3));
    f.width = sizes[s][0];
    f.height = sizes[s][1];
    f.hudScale = rng.uniform(0.78, 1.32);
    f.sceneSeed = rng.next();
    f.brightBehindHud = rng.chance(0.08);
    synth::CashHud cash;
    cash.balance = synth::randomBalance(rng);
    if (rng.chance(0.6)) {
        const std::int64_t v = synth::randomBalance(rng) % 1000000 + 1;
        cash.change = rng.chance(0.5) ? -v : v;
    }
    const int lines = static_cast<int>(rng.between(1, 4));
    for (int i = 0; i < lines; ++i) {
        synth::RewardLine l;
        l.text = trainingText(rng);
        if (rng.chance(0.7)) {
            l.hasFigure = true;
            l.figure = synth::randomBalance(rng) % 100000 + 1;
        } else {
            l.hasXp = true;
            l.xp = static_cast<int>(rng.between(1, 9999));
        }
        l.panel = l.text.find(' ') == std::string::npos && rng.chance(0.35);
        cash.lines.push_back(l);
    }
    f.cash = cash;
    f.degradation.jpegQuality = rng.chance(0.85) ? static_cast<int>(rng.between(60, 95)) : 0;
    f.degradation.blurSigma = rng.chance(0.5) ? rng.uniform(0.2, 0.7) : 0.0;
    f.degradation.sourceScale = rng.chance(0.3) ? rng.uniform(0.75, 1.5) : 1.0;
    return f;
}

// Samples every character of one synthetic frame at its true position.
// Frame pixels of the capture, from the frame's own x.
struct CaptureX {
    double left = 0.0;
    double scale = 1.0;
    double operator()(double x) const { return (x - left) * scale; }
};

// Cells of the balance and change characters, as the money reader takes them.
void harvestMoney(const hud::FramePlanes& planes, const hud::MoneyLine& line, const synth::HudLayout& layout,
                  const CaptureX& toX, synth::Rng& jitter, Pools& pools) {
    float cell[hud::kGlyphCellLength];
    for (const auto* glyphs : {&layout.balance, &layout.change})
        for (const synth::PlacedGlyph& g : *glyphs) {
            if (g.c == ',')
                continue;
            const double cx = toX(g.cx);
            // The reader slides its cell in whole pixels, so it meets a
            // character up to half a pixel off its centre; the templates
            // are made from cells taken the same way.
            const double o = tuning.cellOffset;
            hud::sampleMoneyCell(planes.ink, cx + jitter.uniform(-o, o), line.top, line.bottom, line.height,
                                 cell);
            hud::normalizeVector(cell, hud::kMoneyCellLength);
            add(pools.money, g.c, cell, hud::kMoneyCellLength);
            const double po = tuning.pairOffset;
            for (int j = 0; j < 2; ++j) {
                hud::sampleMoneyCell(planes.ink, cx + jitter.uniform(-po, po), line.top, line.bottom,
                                     line.height, cell);
                hud::normalizeVector(cell, hud::kMoneyCellLength);
                add(pools.moneyJitter, g.c, cell, hud::kMoneyCellLength, tuning.pairPool);
            }
        }
}

// Cells of one reward line's figures and letters, as the line reader takes them.
void harvestLine(const hud::FramePlanes& planes, const hud::RewardRow* row, const synth::HudLayout::Line& l,
                 const CaptureX& toX, synth::Rng& jitter, Pools& pools) {
    float cell[hud::kGlyphCellLength];
    const bool cash = !l.figure.empty() && l.figure.front().c == '+';
    std::vector<std::pair<char, QRectF>> letters = l.letters;
    for (const synth::PlacedGlyph& g : l.figure) {
        if (cash && g.c != ',') {
            const double cx = toX(g.cx);
            const double o = tuning.cellOffset, po = tuning.pairOffset;
            hud::sampleMoneyCell(planes.ink2, cx + jitter.uniform(-o, o), row->top, row->bottom, row->lh,
                                 cell);
            hud::normalizeVector(cell, hud::kMoneyCellLength);
            add(pools.figure, g.c, cell, hud::kMoneyCellLength);
            for (int j = 0; j < 2; ++j) {
                hud::sampleMoneyCell(planes.ink2, cx + jitter.uniform(-po, po), row->top, row->bottom,
                                     row->lh, cell);
                hud::normalizeVector(cell, hud::kMoneyCellLength);
                add(pools.figureJitter, g.c, cell, hud::kMoneyCellLength, tuning.pairPool);
            }
        }
        if (isDigit(g.c) || g.c == 'X' || g.c == 'P') {
            const double w = glyphInkWidth(g.c, g.cap);
            letters.emplace_back(g.c, QRectF(g.cx - w / 2, g.top, w, g.cap));
        }
    }
    // Glyph cells from blobs that hold exactly one letter, as the reader
    // sees them (fused pairs are left to the reader's splitting).
    for (const auto& [c, box] : letters) {
        const double x0 = toX(box.left()), x1 = toX(box.right());
        for (const hud::Blob& b : row->blobs) {
            if (std::abs(b.x0 - x0) > 1.6 || std::abs(b.x1 + 1 - x1) > 1.6)
                continue;
            if (b.height() < 0.7 * row->lh || b.height() > 1.35 * row->lh)
                continue;
            hud::sampleGlyphCell(planes.ink2, b, row->top, row->bottom, row->lh, cell);
            hud::normalizeVector(cell, hud::kGlyphCellLength);
            add(pools.glyph, c, cell, hud::kGlyphCellLength);
            break;
        }
    }
    // Neighbours run together, as the reader's splitting meets them: a
    // template that likes them whole keeps them from being split.
    for (std::size_t i = 0; i + 1 < l.letters.size(); ++i) {
        const double x0 = toX(l.letters[i].second.left()), x1 = toX(l.letters[i + 1].second.right());
        for (const hud::Blob& b : row->blobs) {
            if (std::abs(b.x0 - x0) > 1.6 || std::abs(b.x1 + 1 - x1) > 1.6)
                continue;
            hud::sampleGlyphCell(planes.ink2, b, row->top, row->bottom, row->lh, cell);
            hud::normalizeVector(cell, hud::kGlyphCellLength);
            add(pools.fused, l.letters[i].first, cell, hud::kGlyphCellLength);
            break;
        }
    }
}

void harvestFrame(const synth::FrameContent& f, synth::Rng& jitter, Pools& pools) {
    const QRect window = synth::hudWindow(f.width, f.height);
    const QImage image = synth::renderFrame(f, window);
    const QImage cap = synth::captureHudRegion(image, window.topLeft(), f.width, f.height);
    if (cap.isNull()) {
        ++pools.skipped;
        return;
    }
    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(cap), planes);
    hud::MoneyLine line;
    const double sc = synth::captureScale(f.width, f.height), left = synth::captureLeft(f.width, f.height);
    const synth::HudLayout layout = synth::layoutCashHud(f);
    const double expected = layout.unit * sc;
    // Only the money line's band is searched: reward lines of many letters
    // would otherwise win the reader's row choice at some HUD scales.
    const std::vector<std::uint8_t> fullMask = planes.mask;
    const int below = static_cast<int>(std::ceil((2.6 + 0.3) * layout.unit * sc));
    for (int y = std::max(0, below); y < cap.height(); ++y)
        std::fill_n(planes.mask.begin() + static_cast<std::ptrdiff_t>(y) * cap.width(), cap.width(), 0);
    const bool found = findLine(planes, line);
    planes.mask = fullMask;
    planes.maskBlobsReady = false; // the blobs found were those of the band alone
    if (!found || std::abs(line.height - expected) > 0.2 * expected) {
        if (verbose)
            std::fprintf(stderr, "  skipped %dx%d k %.2f scene %u: line height %.1f, expected %.1f\n",
                         f.width, f.height, f.hudScale, f.sceneSeed, line.height, expected);
        ++pools.skipped;
        return;
    }
    ++pools.frames;
    const CaptureX toX{left, sc};
    harvestMoney(planes, line, layout, toX, jitter, pools);

    hud::findTextBlobs(planes);
    const std::vector<hud::RewardRow> rows =
        hud::selectRewardRows(planes.textBlobs, cap.width(), line.bottom, line.height);
    for (const synth::HudLayout::Line& l : layout.lines) {
        const double top = l.phraseTop * sc;
        const hud::RewardRow* row = nullptr;
        for (const hud::RewardRow& r : rows)
            if (std::abs(r.top - top) <= 0.3 * l.cap * sc &&
                (!row || std::abs(r.top - top) < std::abs(row->top - top)))
                row = &r;
        if (row)
            harvestLine(planes, row, l, toX, jitter, pools);
    }
}

// ---------------------------------------------------------------- weapon plate

// The plate reader's components: what can be a letter at the plate
// capture's 2160-line scale. The line geometry, and with it the sampled
// cells, depends on this choice.
constexpr int kPlateMinHeight = 5;
constexpr int kPlateMaxHeight = 40;
constexpr int kPlateMaxWidth = 60;
constexpr int kPlateMinArea = 5;
// A component is one letter's when it holds that letter alone and its four
// edges lie within this many capture pixels of the letter's ink (blur and
// anti-aliasing widen it; a letter broken by the mask is left out).
constexpr double kPlateEdgeTolerance = 3.0;

// Plate names: the table's own, or words of random letters and digits so that
// every character gets its share of neighbours.
std::string plateTrainingName(synth::Rng& rng, bool& weapon) {
    if (rng.chance(0.5)) {
        const hud::WeaponEntry& e = rng.pick(hud::weaponTable());
        weapon = e.weapon;
        return e.name;
    }
    weapon = rng.chance(0.7);
    std::string out;
    const int words = static_cast<int>(rng.between(1, 3));
    for (int w = 0; w < words; ++w) {
        if (w)
            out += ' ';
        const int n = static_cast<int>(rng.between(2, 8));
        for (int i = 0; i < n; ++i)
            out += hud::kLineCharset[static_cast<std::size_t>(
                rng.between(0, static_cast<std::int64_t>(hud::kLineCharset.size()) - 1))];
    }
    return out;
}

// The engine reads the plate on frames of 1000 lines and more.
synth::FrameContent plateTrainingFrame(synth::Rng& rng) {
    static const int sizes[3][2] = {{1920, 1080}, {2560, 1440}, {3840, 2160}};
    synth::FrameContent f;
    const int s = static_cast<int>(rng.between(0, 2));
    f.width = sizes[s][0];
    f.height = sizes[s][1];
    f.sceneSeed = rng.next();
    synth::Plate plate;
    plate.name = plateTrainingName(rng, plate.weapon);
    plate.magazine = static_cast<int>(rng.between(0, rng.chance(0.8) ? 40 : 200));
    plate.reserve = static_cast<int>(rng.between(0, 360));
    f.plate = plate;
    f.degradation.jpegQuality = rng.chance(0.85) ? static_cast<int>(rng.between(60, 95)) : 0;
    f.degradation.blurSigma = rng.chance(0.5) ? rng.uniform(0.2, 0.7) : 0.0;
    f.degradation.sourceScale = rng.chance(0.3) ? rng.uniform(0.75, 1.5) : 1.0;
    return f;
}

// Samples the plate letters of one frame through the engine's capture, as
// the plate reader takes them: its components and line, its walk to the
// slash, its cell on the line's band. Letters run together with a neighbour,
// or broken apart by the mask, are left out.
void harvestPlate(const synth::FrameContent& f, Pools& pools) {
    const QRect region = synth::plateRegion(f.width, f.height);
    const QRect window = synth::captureWindow(region, f.width, f.height);
    const synth::PlateLayout layout = synth::layoutPlate(f);
    if (region.isEmpty() || window.isEmpty() || layout.letters.empty()) {
        ++pools.plateSkipped;
        return;
    }
    const QImage cap =
        synth::captureRegion(synth::renderFrame(f, window), window.topLeft(), f.height, region, 2160.0)
            .convertToFormat(QImage::Format_RGB32);
    if (cap.isNull()) {
        ++pools.plateSkipped;
        return;
    }
    const double sx = static_cast<double>(cap.width()) / region.width();
    const double sy = static_cast<double>(cap.height()) / region.height();
    std::vector<std::pair<char, QRectF>> letters;
    double capTop = 1e9;
    for (const auto& [c, box] : layout.letters) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            continue;
        const QRectF r((box.left() - region.left()) * sx, (box.top() - region.top()) * sy, box.width() * sx,
                       box.height() * sy);
        letters.emplace_back(c, r);
        capTop = std::min(capTop, r.top());
    }
    const double capHeight = layout.cap * sy;

    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(cap), planes);
    std::vector<hud::Blob> blobs = hud::labelComponents(planes.mask, cap.width(), cap.height());
    blobs.erase(std::remove_if(blobs.begin(), blobs.end(),
                               [](const hud::Blob& b) {
                                   return b.height() < kPlateMinHeight || b.height() > kPlateMaxHeight ||
                                          b.width() > kPlateMaxWidth || b.area < kPlateMinArea;
                               }),
                blobs.end());
    std::vector<hud::RowGeometry> geometry;
    const std::vector<std::vector<hud::Blob>> rows = hud::groupRows(blobs, &geometry);
    int chosen = -1;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (std::abs(geometry[i].top - capTop) <= 0.3 * capHeight &&
            (chosen < 0 || std::abs(geometry[i].top - capTop) <
                               std::abs(geometry[static_cast<std::size_t>(chosen)].top - capTop)))
            chosen = static_cast<int>(i);
    if (chosen < 0 || letters.empty()) {
        ++pools.plateSkipped;
        return;
    }
    ++pools.plateFrames;
    const hud::RowGeometry& row = geometry[static_cast<std::size_t>(chosen)];
    std::vector<hud::Blob> glyphs;
    std::vector<int> words;
    hud::detail::plateGlyphs(planes.mask, cap.width(), rows[static_cast<std::size_t>(chosen)], row.height,
                             glyphs, words);
    float cell[hud::kGlyphCellLength];
    for (const hud::Blob& g : glyphs) {
        const std::pair<char, QRectF>* only = nullptr;
        int inside = 0;
        for (const auto& letter : letters) {
            const double cx = letter.second.center().x();
            if (cx >= g.x0 && cx <= g.x1 + 1) {
                only = &letter;
                ++inside;
            }
        }
        if (inside != 1 || std::abs(g.x0 - only->second.left()) > kPlateEdgeTolerance ||
            std::abs(g.x1 + 1 - only->second.right()) > kPlateEdgeTolerance ||
            std::abs(g.y0 - only->second.top()) > kPlateEdgeTolerance ||
            std::abs(g.y1 + 1 - only->second.bottom()) > kPlateEdgeTolerance)
            continue;
        hud::sampleGlyphCell(planes.ink, g, row.top, row.bottom, row.height, cell);
        hud::normalizeVector(cell, hud::kGlyphCellLength);
        add(pools.plate, only->first, cell, hud::kGlyphCellLength);
    }
}

// ---------------------------------------------------------------- real captures

struct Truth {
    QString file;
    std::int64_t balance = -1;
    bool hasChange = false;
    std::int64_t change = 0;
    struct Line {
        std::string text;
        bool hasFigure = false;
        std::int64_t figure = 0;
        bool hasXp = false;
        int xp = 0;
    };
    std::vector<Line> lines;
};

// Aligns a known figure with the image, character by character, the way the
// reader walks it (predicted centres, best offset within three pixels), and
// adds the cells at the found positions.
void alignFigure(hud::MoneyRowContext& ctx, const std::string& text, double startX, int radius,
                 const hud::WidthTable& widths, double gap, Pool& pool) {
    std::string chars;
    for (char c : text)
        if (c != ',' && c != '-' && c != '+')
            chars += c;
    if (chars.empty())
        return;
    double x = startX;
    char prev = 0;
    int digits = 0;
    for (std::size_t i = chars.size(); i-- > 0;) {
        const char c = chars[i];
        double predicted = x;
        if (prev)
            predicted = x - (widths.of(c) + widths.of(prev)) / 2 * ctx.lineHeight -
                        (c != '$' && digits > 0 && digits % 3 == 0 ? gap * ctx.lineHeight : 0);
        const hud::Candidate best = hud::bestPosition(ctx, predicted, c, prev ? 3 : radius);
        if (best.score < 0.3)
            return; // lost the figure; what was added so far stays
        hud::sampleMoneyCell(ctx.plane, best.x, ctx.top, ctx.bottom, ctx.lineHeight, ctx.cell);
        hud::normalizeVector(ctx.cell, hud::kMoneyCellLength);
        add(pool, c, ctx.cell, hud::kMoneyCellLength);
        x = best.x;
        prev = c;
        if (isDigit(c))
            ++digits;
    }
}

bool readTruthFile(const QString& path, std::vector<Truth>& out, QString& error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1").arg(path);
        return false;
    }
    int lineNo = 0;
    while (!f.atEnd()) {
        const QByteArray raw = f.readLine().trimmed();
        ++lineNo;
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        QJsonParseError pe;
        const QJsonDocument doc = QJsonDocument::fromJson(raw, &pe);
        if (!doc.isObject() || !doc.object().value("file").isString()) {
            error = QStringLiteral("%1:%2: expected a JSON object with \"file\"").arg(path).arg(lineNo);
            return false;
        }
        const QJsonObject o = doc.object();
        Truth t;
        t.file = o.value("file").toString();
        t.balance = o.contains("balance") ? static_cast<std::int64_t>(o.value("balance").toDouble(-1)) : -1;
        t.hasChange = o.contains("change") && !o.value("change").isNull();
        t.change = static_cast<std::int64_t>(o.value("change").toDouble());
        for (const QJsonValue& v : o.value("lines").toArray()) {
            const QJsonObject lo = v.toObject();
            Truth::Line l;
            l.text = lo.value("text").toString().toUpper().toStdString();
            l.hasFigure = lo.contains("figure");
            l.figure = static_cast<std::int64_t>(lo.value("figure").toDouble());
            l.hasXp = lo.contains("xp");
            l.xp = lo.value("xp").toInt();
            t.lines.push_back(l);
        }
        out.push_back(t);
    }
    return true;
}

bool harvestCaptures(const QString& dir, const hud::Model& model, Pools& pools, QString& error) {
    std::vector<Truth> truths;
    if (!readTruthFile(QDir(dir).filePath("truth.jsonl"), truths, error))
        return false;
    for (const Truth& t : truths) {
        const QString path = QDir(dir).filePath(t.file);
        QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "corvex-build-model: skipping unreadable %s\n", qPrintable(path));
            continue;
        }
        if (image.width() != 907)
            image = image.scaledToWidth(907, Qt::SmoothTransformation);
        image = image.convertToFormat(QImage::Format_RGB32);
        hud::FramePlanes planes;
        hud::prepareFrame(synth::frameView(image), planes);
        hud::MoneyLine line;
        if (t.balance < 0 || !findLine(planes, line) || line.charBlobs.empty()) {
            std::fprintf(stderr, "corvex-build-model: no money line in %s\n", qPrintable(path));
            continue;
        }
        ++pools.real;
        hud::MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money,
                                 model.moneyPairs);
        const hud::Blob r =
            *std::max_element(line.charBlobs.begin(), line.charBlobs.end(),
                              [](const hud::Blob& a, const hud::Blob& b) { return a.x1 < b.x1; });
        const bool narrow = 0.9 * r.height() >= r.width();
        const double start = narrow ? (r.x0 + r.x1) / 2.0 : r.x1 - 0.43 * line.height;
        alignFigure(ctx, synth::moneyText(t.balance), start, narrow ? 2 : 4, hud::moneyWidths(),
                    hud::kMoneyGroupGap, pools.money);
        const hud::Candidate dollar = hud::bestPosition(ctx, start, '$', 0);
        (void)dollar;
        // The lines below: rows in order of their top, matched to the truth
        // lines from the bottom (the newest line is the lowest).
        hud::findTextBlobs(planes);
        const std::vector<hud::RewardRow> rows =
            hud::selectRewardRows(planes.textBlobs, image.width(), line.bottom, line.height);
        if (rows.size() != t.lines.size())
            continue;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const hud::RewardRow& row = rows[i];
            const Truth::Line& tl = t.lines[i];
            if (!tl.hasFigure)
                continue;
            hud::MoneyRowContext fctx(planes.ink2, row.top, row.bottom, row.lh, model.figures,
                                      model.figurePairs);
            const double target = (image.width() - 1) - 2.56 * line.height;
            const hud::Blob* last = nullptr;
            for (const hud::Blob& b : row.textHeight)
                if (std::abs(b.x1 - target) <= 0.5 * 0.667 * line.height && (!last || b.x1 > last->x1))
                    last = &b;
            if (last)
                alignFigure(fctx, "+" + synth::moneyText(tl.figure), (last->x0 + last->x1) / 2.0, 3,
                            hud::figureWidths(), 0.39, pools.figure);
        }
    }
    return true;
}

// ---------------------------------------------------------------- training

hud::detail::Templates makeTemplates(const Pool& pool, const std::string& chars, std::size_t count,
                                     std::uint32_t length) {
    hud::detail::Templates set;
    set.cellLength = length;
    for (char c : chars) {
        auto it = pool.find(c);
        if (it == pool.end() || it->second.empty()) {
            std::fprintf(stderr, "corvex-build-model: warning: no samples of '%c'\n", c);
            continue;
        }
        set.byChar[static_cast<signed char>(c)] = synth::clusterCells(it->second, count, 12);
        if (verbose)
            std::fprintf(stderr, "  '%c': %zu samples, %zu templates\n", c, it->second.size(),
                         set.byChar[static_cast<signed char>(c)].size());
    }
    return set;
}

// Solves A x = b for a symmetric positive definite A (n by n, row-major) by
// Cholesky decomposition; A is overwritten.
bool choleskySolve(std::vector<double>& a, std::vector<double>& b, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        double s = a[j * n + j];
        for (std::size_t k = 0; k < j; ++k)
            s -= a[j * n + k] * a[j * n + k];
        if (s <= 0)
            return false;
        const double l = std::sqrt(s);
        a[j * n + j] = l;
        for (std::size_t i = j + 1; i < n; ++i) {
            double t = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k)
                t -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = t / l;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        double t = b[i];
        for (std::size_t k = 0; k < i; ++k)
            t -= a[i * n + k] * b[k];
        b[i] = t / a[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        double t = b[i];
        for (std::size_t k = i + 1; k < n; ++k)
            t -= a[k * n + i] * b[k];
        b[i] = t / a[i * n + i];
    }
    return true;
}

// Weighted sums of cells and of their outer products (lower triangle).
struct Scatter {
    std::vector<double> outer, sum;
    double n = 0;
    explicit Scatter(std::size_t d) : outer(d * d, 0.0), sum(d, 0.0) {}
    void add(const Cell& x, double w) {
        const std::size_t d = sum.size();
        n += w;
        for (std::size_t i = 0; i < d; ++i) {
            const double wx = w * x[i];
            sum[i] += wx;
            double* row = &outer[i * d];
            for (std::size_t j = 0; j <= i; ++j)
                row[j] += wx * x[j];
        }
    }
    void add(const Scatter& o) {
        n += o.n;
        for (std::size_t i = 0; i < outer.size(); ++i)
            outer[i] += o.outer[i];
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] += o.sum[i];
    }
};

// Ridge regression of +4 for the first and -4 for the second class on their
// normalised cells, so that clear cases land beyond the reader's +-2. False
// where the system cannot be solved.
bool fitPair(const Scatter& sa, const Scatter& sb, hud::PairParams& p) {
    constexpr double target = 4.0;
    const std::size_t d = sa.sum.size();
    const double n = sa.n + sb.n;
    std::vector<double> mean(d), A(d * d), rhs(d);
    for (std::size_t i = 0; i < d; ++i)
        mean[i] = (sa.sum[i] + sb.sum[i]) / n;
    const double ybar = target * (sa.n - sb.n) / n;
    const double lambda = tuning.pairRidge * n;
    for (std::size_t i = 0; i < d; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            const double v = sa.outer[i * d + j] + sb.outer[i * d + j] - n * mean[i] * mean[j];
            A[i * d + j] = A[j * d + i] = v;
        }
        A[i * d + i] += lambda;
        rhs[i] = target * (sa.sum[i] - sb.sum[i]) - n * mean[i] * ybar;
    }
    if (!choleskySolve(A, rhs, d))
        return false;
    double intercept = ybar;
    for (std::size_t i = 0; i < d; ++i)
        intercept -= rhs[i] * mean[i];
    p.weights.resize(d);
    for (std::size_t i = 0; i < d; ++i)
        p.weights[i] = static_cast<float>(rhs[i]);
    p.bias = static_cast<float>(-intercept);
    return true;
}

// Pairwise tie-breakers, fitted on every cell of the two characters.
hud::PairTable makePairs(const Pool& pool, const std::string& chars, const char* label) {
    constexpr std::size_t d = hud::kMoneyCellLength;
    std::map<char, Scatter> stats;
    for (char c : chars) {
        auto it = pool.find(c);
        if (it == pool.end() || it->second.empty())
            continue;
        Scatter s(d);
        for (const Cell& x : it->second)
            s.add(x, 1.0);
        stats.emplace(c, std::move(s));
    }
    hud::PairTable table;
    int worst = 0;
    for (std::size_t ia = 0; ia < chars.size(); ++ia)
        for (std::size_t ib = ia + 1; ib < chars.size(); ++ib) {
            const char a = chars[ia], b = chars[ib];
            if (!stats.count(a) || !stats.count(b))
                continue;
            const Scatter &sa = stats.at(a), &sb = stats.at(b);
            const double n = sa.n + sb.n;
            hud::PairParams p;
            if (!fitPair(sa, sb, p))
                continue;
            // Training-set check: how many cells land on the wrong side of +-2.
            int wrong = 0;
            for (const auto& [c, sign] : {std::pair<char, float>{a, 1.0f}, {b, -1.0f}})
                for (const Cell& x : pool.at(c))
                    if (sign * (hud::dot(p.weights.data(), x.data(), d) - p.bias) <= -2.0f)
                        ++wrong;
            worst = std::max(worst, wrong);
            if (verbose)
                std::fprintf(stderr, "  %s pair %c/%c: %d confidently wrong of %.0f\n", label, a, b, wrong,
                             n);
            table[{static_cast<signed char>(a), static_cast<signed char>(b)}] = std::move(p);
        }
    std::fprintf(stderr, "corvex-build-model: %s: %zu pairs, at most %d training cells confidently wrong\n",
                 label, table.size(), worst);
    return table;
}

// ---------------------------------------------------------------- settling pairs

// The digits that soft, small or bright-backed footage leaves tied: frames
// drawn from the range around the game's look (any size from 720 lines, JPEG
// down to 50, blur, rescaling, bright scenes behind the HUD), each character
// met where the reader meets it (its templates' best place around a
// prediction off by up to half a pixel). Every such cell counts for its
// character; a cell whose best two characters' templates come within
// kSettleHardMargin of each other counts kSettleHardWeight times for that
// pair, so that each pair's classifier is fitted where it is consulted.
constexpr double kSettleHardMargin = 0.2;
constexpr double kSettleHardWeight = 4.0;
constexpr std::size_t kSettlePool = 1500;     // cells kept per character
constexpr std::size_t kSettleHardPool = 1500; // near-tie cells kept per character and rival
constexpr int kSettleMinHard = 20;            // near-tie cells a pair needs, both sides together
// Digits their own templates score below the reader's confidence at their
// best place are what soft, small or bright-backed footage makes of them:
// they are clustered into templates of their own, which the readers use
// only to confirm a reading their first templates left uncertain.
constexpr float kSoftBelow = 0.85f;
constexpr std::size_t kSoftPool = 1500;
constexpr std::size_t kSoftTemplates = 8;
constexpr std::size_t kSoftMinCells = 12; // fewer make no template worth keeping
// A tie with the "$" ends or continues a figure and is never settled; only
// digits against digits are.
constexpr char kSettleChars[] = "0123456789";

struct SettleCells {
    Pool all;                                                // by character
    Pool soft;                                               // those its own templates score low
    std::map<std::pair<char, char>, std::vector<Cell>> hard; // (character, rival)
    int frames = 0, skipped = 0;
};

// `hard`: the soft templates' own frames, most of them small or bright-backed,
// where the digits' own templates score lowest.
synth::FrameContent settleFrame(synth::Rng& rng, bool hard = false) {
    synth::FrameContent f;
    f.hudScale = rng.uniform(0.8, 1.3);
    f.sceneSeed = rng.next();
    f.brightBehindHud = rng.chance(hard ? 0.6 : 0.3);
    synth::randomRangeFootage(rng, f);
    // The smallest frames leave the most ties: a third of them at 720 lines.
    if (rng.chance(hard ? 0.6 : 0.33)) {
        f.width = 1280;
        f.height = 720;
        f.degradation.blurSigma = rng.chance(0.6) ? rng.uniform(0.0, 0.8) * 720.0 / 1080.0 : 0.0;
    }
    synth::CashHud cash = synth::randomCashHud(rng, f.height, f.hudScale);
    if (cash.lines.empty())
        cash.lines.push_back(synth::RewardLine{rng.pick(hud::eventPhrases())});
    for (synth::RewardLine& l : cash.lines)
        if (!l.hasFigure && rng.chance(0.5)) {
            l.hasXp = false;
            l.hasFigure = true;
            l.figure = synth::randomBalance(rng) % (rng.chance(0.5) ? 1000 : 100000) + 1;
        }
    f.cash = cash;
    return f;
}

// One character of a line as the reader meets it: every settling character
// at its templates' best place within two pixels of `predicted`.
void settleCell(hud::MoneyRowContext& ctx, char truth, double predicted, SettleCells& out) {
    if (!std::strchr(kSettleChars, truth))
        return;
    hud::Candidate best[sizeof kPairChars - 1];
    std::size_t n = 0;
    for (const char* c = kPairChars; *c; ++c)
        best[n++] = hud::bestPosition(ctx, predicted, *c, 2);
    std::sort(best, best + n,
              [](const hud::Candidate& a, const hud::Candidate& b) { return a.score > b.score; });
    float cell[hud::kMoneyCellLength];
    auto take = [&](double x) {
        hud::sampleLineCell(ctx, x, cell);
        hud::normalizeVector(cell, hud::kMoneyCellLength);
    };
    for (std::size_t i = 0; i < n; ++i)
        if (best[i].character == truth) {
            take(best[i].x);
            add(out.all, truth, cell, hud::kMoneyCellLength, kSettlePool);
            if (best[i].score < kSoftBelow)
                add(out.soft, truth, cell, hud::kMoneyCellLength, kSoftPool);
            break;
        }
    if (best[0].score - best[1].score >= kSettleHardMargin)
        return;
    const char rival = best[0].character == truth   ? best[1].character
                       : best[1].character == truth ? best[0].character
                                                    : '\0';
    if (!rival || !std::strchr(kSettleChars, rival))
        return;
    auto& list = out.hard[{truth, rival}];
    for (int i = 0; i < 2 && list.size() < kSettleHardPool; ++i) {
        take(best[i].x);
        list.emplace_back(cell, cell + hud::kMoneyCellLength);
    }
}

void harvestSettleFrame(const synth::FrameContent& f, const hud::Model& model, synth::Rng& jitter,
                        SettleCells& out, SettleCells& figureOut) {
    const QRect window = synth::hudWindow(f.width, f.height);
    const QImage image = synth::renderFrame(f, window);
    const QImage cap = synth::captureHudRegion(image, window.topLeft(), f.width, f.height);
    if (cap.isNull()) {
        ++out.skipped;
        return;
    }
    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(cap), planes);
    const double sc = synth::captureScale(f.width, f.height), left = synth::captureLeft(f.width, f.height);
    const synth::HudLayout layout = synth::layoutCashHud(f);
    const double expected = layout.unit * sc;
    const std::vector<std::uint8_t> fullMask = planes.mask;
    const int below = static_cast<int>(std::ceil((2.6 + 0.3) * layout.unit * sc));
    for (int y = std::max(0, below); y < cap.height(); ++y)
        std::fill_n(planes.mask.begin() + static_cast<std::ptrdiff_t>(y) * cap.width(), cap.width(), 0);
    hud::MoneyLine line;
    const bool found = findLine(planes, line);
    planes.mask = fullMask;
    planes.maskBlobsReady = false;
    if (!found || std::abs(line.height - expected) > 0.2 * expected) {
        ++out.skipped;
        return;
    }
    ++out.frames;
    const CaptureX toX{left, sc};
    {
        hud::MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money,
                                 model.moneyPairs);
        for (const auto* glyphs : {&layout.balance, &layout.change})
            for (const synth::PlacedGlyph& g : *glyphs)
                settleCell(ctx, g.c, toX(g.cx) + jitter.uniform(-0.5, 0.5), out);
    }
    hud::findTextBlobs(planes);
    const std::vector<hud::RewardRow> rows =
        hud::selectRewardRows(planes.textBlobs, cap.width(), line.bottom, line.height);
    for (const synth::HudLayout::Line& l : layout.lines) {
        // Cash figures and experience amounts share the figures' font.
        if (l.figure.empty())
            continue;
        const double top = l.phraseTop * sc;
        const hud::RewardRow* row = nullptr;
        for (const hud::RewardRow& r : rows)
            if (std::abs(r.top - top) <= 0.3 * l.cap * sc &&
                (!row || std::abs(r.top - top) < std::abs(row->top - top)))
                row = &r;
        if (!row)
            continue;
        hud::MoneyRowContext ctx(planes.ink2, row->top, row->bottom, row->lh, model.figures,
                                 model.figurePairs);
        for (const synth::PlacedGlyph& g : l.figure)
            settleCell(ctx, g.c, toX(g.cx) + jitter.uniform(-0.5, 0.5), figureOut);
    }
}

// Fitted as the tie-breakers are, on each pair's cells with its near ties
// weighted up. Pairs without near ties are left out: the reader never needs
// them.
hud::PairTable makeSettlers(const SettleCells& cells, const char* label) {
    constexpr std::size_t d = hud::kMoneyCellLength;
    std::map<char, Scatter> base;
    for (const char* c = kSettleChars; *c; ++c) {
        auto it = cells.all.find(*c);
        if (it == cells.all.end())
            continue;
        Scatter s(d);
        for (const Cell& x : it->second)
            s.add(x, 1.0);
        base.emplace(*c, std::move(s));
    }
    hud::PairTable table;
    int worst = 0;
    for (const char* pa = kSettleChars; *pa; ++pa)
        for (const char* pb = pa + 1; *pb; ++pb) {
            const char a = *pa, b = *pb;
            auto ha = cells.hard.find({a, b});
            auto hb = cells.hard.find({b, a});
            const std::size_t hardA = ha == cells.hard.end() ? 0 : ha->second.size();
            const std::size_t hardB = hb == cells.hard.end() ? 0 : hb->second.size();
            if (hardA + hardB < static_cast<std::size_t>(kSettleMinHard) || !base.count(a) || !base.count(b))
                continue;
            Scatter sa = base.at(a), sb = base.at(b);
            for (std::size_t i = 0; i < hardA; ++i)
                sa.add(ha->second[i], kSettleHardWeight);
            for (std::size_t i = 0; i < hardB; ++i)
                sb.add(hb->second[i], kSettleHardWeight);
            hud::PairParams p;
            if (!fitPair(sa, sb, p))
                continue;
            // Near ties on the wrong side of +-1, the figures' settling bound.
            int wrong = 0;
            for (const auto& [it, sign] : {std::pair{ha, 1.0f}, std::pair{hb, -1.0f}})
                if (it != cells.hard.end())
                    for (const Cell& x : it->second)
                        if (sign * (hud::dot(p.weights.data(), x.data(), d) - p.bias) <= -1.0f)
                            ++wrong;
            worst = std::max(worst, wrong);
            if (verbose)
                std::fprintf(stderr, "  %s settler %c/%c: %zu + %zu near ties, %d confidently wrong\n", label,
                             a, b, hardA, hardB, wrong);
            table[{static_cast<signed char>(a), static_cast<signed char>(b)}] = std::move(p);
        }
    std::fprintf(stderr,
                 "corvex-build-model: %s: %zu settling pairs, at most %d near ties confidently wrong\n",
                 label, table.size(), worst);
    return table;
}

hud::detail::Templates makeSoftTemplates(const Pool& soft, const char* label) {
    hud::detail::Templates set;
    set.cellLength = hud::kMoneyCellLength;
    std::size_t total = 0;
    for (const auto& [c, cells] : soft) {
        if (cells.size() < kSoftMinCells)
            continue;
        set.byChar[static_cast<signed char>(c)] =
            synth::clusterCells(cells, std::min(kSoftTemplates, cells.size() / (kSoftMinCells / 2)), 12);
        total += set.byChar[static_cast<signed char>(c)].size();
        if (verbose)
            std::fprintf(stderr, "  %s soft '%c': %zu cells\n", label, c, cells.size());
    }
    std::fprintf(stderr, "corvex-build-model: %s: %zu soft templates for %zu digits\n", label, total,
                 set.byChar.size());
    return set;
}

// Fills the model's settling sections from `frames` frames of the range,
// with the model's own templates finding the ties. Draws from randomness of
// its own, so the other sections stay those of the seed.
void addSettlers(hud::Model& model, int frames, std::uint32_t seed) {
    SettleCells money, figures;
    synth::Rng rng(seed ^ 0x5E771Eu);
    synth::Rng jitter(seed ^ 0x71E5u);
    for (int i = 0; i < frames; ++i)
        harvestSettleFrame(settleFrame(rng), model, jitter, money, figures);
    std::fprintf(stderr,
                 "corvex-build-model: %d frames of the look's range sampled for settling, %d skipped\n",
                 money.frames, money.skipped);
    model.moneySettlers = makeSettlers(money, "money");
    model.figureSettlers = makeSettlers(figures, "figure");
    // The soft digits are rare in the range, so frames of its harder part
    // add to them, from randomness of their own again.
    synth::Rng hardRng(seed ^ 0x50F7u);
    synth::Rng hardJitter(seed ^ 0x7F05u);
    SettleCells hardMoney, hardFigures;
    for (int i = 0; i < frames / 2; ++i)
        harvestSettleFrame(settleFrame(hardRng, true), model, hardJitter, hardMoney, hardFigures);
    for (auto [from, to] : {std::pair{&hardMoney, &money}, std::pair{&hardFigures, &figures}})
        for (const auto& [c, cells] : from->soft)
            for (const Cell& x : cells)
                add(to->soft, c, x.data(), x.size(), kSoftPool);
    model.moneySoft = makeSoftTemplates(money.soft, "money");
    model.figureSoft = makeSoftTemplates(figures.soft, "figure");
}

// The plate reader scores the same glyph lists as the reward-line reader, so
// a plate template must leave the reward lines' reading alone. It is left out
// when it scores a blob of two reward-line letters run together above every
// template so far (the reader would then keep the blob whole rather than
// split it), or when it would turn a reward-line cell that the templates so
// far read right into its own character (that reader tells letters from
// letters and digits from digits).
void addPlateTemplates(const Pool& plateCells, const Pool& lineCells, const Pool& fusedCells,
                       std::size_t count, hud::detail::Templates& glyphs) {
    constexpr std::size_t d = hud::kGlyphCellLength;
    const hud::detail::Templates plate =
        makeTemplates(plateCells, std::string(hud::kLineCharset), count, hud::kGlyphCellLength);
    std::vector<std::pair<const Cell*, float>> fused; // each with its best score so far
    for (const auto& entry : fusedCells)
        for (const Cell& x : entry.second) {
            float best = -2.0f;
            for (const auto& item : glyphs.byChar)
                best = std::max(best, hud::bestTemplateScore(x.data(), item.second, d));
            fused.emplace_back(&x, best);
        }
    // Each reward-line cell's score with its own templates; 2 (out of reach)
    // when another character of its kind wins it already.
    std::map<char, std::vector<float>> own;
    for (const auto& [c, cells] : lineCells)
        for (const Cell& x : cells) {
            float mine = -2.0f, rival = -2.0f;
            for (const auto& [o, list] : glyphs.byChar) {
                const char oc = static_cast<char>(o);
                if (isDigit(oc) != isDigit(c))
                    continue;
                float& to = oc == c ? mine : rival;
                to = std::max(to, hud::bestTemplateScore(x.data(), list, d));
            }
            own[c].push_back(mine >= rival ? mine : 2.0f);
        }
    int kept = 0, keepsWhole = 0, takes = 0;
    for (const auto& [c, list] : plate.byChar) {
        const char pc = static_cast<char>(c);
        auto& to = glyphs.byChar[c];
        for (const Cell& t : list) {
            bool whole = false;
            for (const auto& [x, best] : fused)
                if (hud::dot(t.data(), x->data(), d) > best) {
                    whole = true;
                    break;
                }
            int taken = 0;
            for (const auto& [other, cells] : lineCells) {
                if (whole || other == pc || isDigit(other) != isDigit(pc))
                    continue;
                const std::vector<float>& scores = own[other];
                for (std::size_t i = 0; i < cells.size(); ++i)
                    taken += hud::dot(t.data(), cells[i].data(), d) > scores[i];
            }
            if (verbose)
                std::fprintf(stderr, "  plate '%c': template %s\n", pc,
                             whole   ? "keeps fused reward-line letters whole"
                             : taken ? "takes reward-line cells"
                                     : "added");
            if (whole || taken > 0) {
                ++(whole ? keepsWhole : takes);
                continue;
            }
            to.push_back(t);
            ++kept;
        }
    }
    std::fprintf(stderr,
                 "corvex-build-model: plate: %d glyph templates added; %d left out for keeping fused "
                 "reward-line letters whole, %d for taking reward-line cells\n",
                 kept, keepsWhole, takes);
}

// Phrase shapes: each letter of the reward lines rendered large with the
// game's font and its ink coverage pooled into bands of the cap height and
// narrow columns from its ink left; and each phrase letter's place in its
// word at the font's own spacing and kerning. Taken from the font alone, so
// they do not depend on the sampled footage.
constexpr std::uint32_t kShapeBands = 4;
constexpr std::uint32_t kShapeColumnsPerCap = 12;
constexpr int kShapeCapPixels = 96;

hud::PhraseShapes buildPhraseShapes() {
    const synth::Glyphs& g = synth::Glyphs::instance();
    const double s = kShapeCapPixels / g.capHeight();
    const int bin = kShapeCapPixels / static_cast<int>(kShapeColumnsPerCap);
    const int bandRows = kShapeCapPixels / static_cast<int>(kShapeBands);
    hud::PhraseShapes shapes;
    shapes.bands = kShapeBands;
    shapes.columnsPerCap = kShapeColumnsPerCap;
    for (char c : hud::kLineLetters) {
        const QPainterPath path = g.glyph(c);
        const QRectF box = path.boundingRect();
        const int columns = std::max(1, static_cast<int>(std::ceil(box.width() * s / bin)));
        QImage image(columns * bin, kShapeCapPixels, QImage::Format_Grayscale8);
        image.fill(0);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(0, kShapeCapPixels);
            painter.scale(s, s);
            painter.translate(-box.left(), 0);
            painter.fillPath(path, Qt::white);
        }
        hud::LetterShape shape;
        shape.columns = static_cast<std::uint32_t>(columns);
        shape.ink.assign(static_cast<std::size_t>(columns) * kShapeBands, 0.0f);
        for (int y = 0; y < kShapeCapPixels; ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                shape.ink[static_cast<std::size_t>(x / bin) * kShapeBands +
                          static_cast<std::size_t>(y / bandRows)] += row[x] / 255.0f;
        }
        for (float& v : shape.ink)
            v = std::min(1.0f, v / static_cast<float>(bin * bandRows));
        shapes.letters[static_cast<signed char>(c)] = std::move(shape);
    }
    for (const std::string& text : hud::eventPhrases()) {
        hud::PhraseShape phrase;
        phrase.text = text;
        std::string word;
        for (char c : text + " ") {
            if (c != ' ') {
                word += c;
                continue;
            }
            if (word.empty())
                continue;
            const double left = g.word(word, 0.0).boundingRect().left();
            for (const QRectF& b : g.letterBoxes(word, 0.0))
                phrase.letterLeft.push_back(
                    static_cast<float>(std::max(0.0, (b.left() - left) / g.capHeight())));
            word.clear();
        }
        shapes.phrases.push_back(std::move(phrase));
    }
    return shapes;
}

// The figures' characters drawn large with the game's font, each placed as
// the game places it (by its ink centre, on the cap's baseline), so that the
// reader can typeset a candidate figure and compare it with the pixels.
constexpr int kFigureGlyphPixelsPerCap = 48;
constexpr int kFigureGlyphPad = 2;

hud::FigureGlyphs buildFigureGlyphs() {
    const synth::Glyphs& g = synth::Glyphs::instance();
    const double perCap = kFigureGlyphPixelsPerCap;
    const double cap = g.capHeight();
    hud::FigureGlyphs glyphs;
    glyphs.pixelsPerCap = kFigureGlyphPixelsPerCap;
    for (char c : std::string("+$0123456789,XP")) {
        const QPainterPath path = g.glyph(c);
        const QRectF box = path.boundingRect();
        hud::FigureGlyph glyph;
        glyph.inkWidth = static_cast<float>(box.width() / cap);
        const double originX = (box.left() - box.center().x()) / cap - kFigureGlyphPad / perCap;
        const double originY = 1.0 + box.top() / cap - kFigureGlyphPad / perCap;
        glyph.originX = static_cast<float>(originX);
        glyph.originY = static_cast<float>(originY);
        const int columns = static_cast<int>(std::ceil(box.width() / cap * perCap)) + 2 * kFigureGlyphPad;
        const int rows = static_cast<int>(std::ceil(box.height() / cap * perCap)) + 2 * kFigureGlyphPad;
        glyph.columns = static_cast<std::uint32_t>(columns);
        glyph.rows = static_cast<std::uint32_t>(rows);
        QImage image(columns, rows, QImage::Format_Grayscale8);
        image.fill(0);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(-(box.center().x() / cap + originX) * perCap, (1.0 - originY) * perCap);
            painter.scale(perCap / cap, perCap / cap);
            painter.fillPath(path, Qt::white);
        }
        glyph.coverage.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), 0.0f);
        for (int y = 0; y < rows; ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < columns; ++x)
                glyph.coverage[static_cast<std::size_t>(y) * static_cast<std::size_t>(columns) +
                               static_cast<std::size_t>(x)] = row[x] / 255.0f;
        }
        glyphs.byChar[static_cast<signed char>(c)] = std::move(glyph);
    }
    return glyphs;
}

hud::Model train(const Pools& pools, std::size_t moneyT, std::size_t figureT, std::size_t glyphT,
                 std::size_t plateT) {
    hud::Model m;
    m.money = makeTemplates(pools.money, kMoneyChars, moneyT, hud::kMoneyCellLength);
    m.figures = makeTemplates(pools.figure, kFigureChars, figureT, hud::kMoneyCellLength);
    m.glyphs = makeTemplates(pools.glyph, std::string(hud::kLineCharset), glyphT, hud::kGlyphCellLength);
    // The plate's letters are larger than the reward lines' and sampled from
    // another plane; their own templates follow the reward-line ones.
    if (plateT > 0)
        addPlateTemplates(pools.plate, pools.glyph, pools.fused, plateT, m.glyphs);
    m.moneyPairs = makePairs(pools.moneyJitter, kPairChars, "money");
    m.figurePairs = makePairs(pools.figureJitter, kPairChars, "figure");
    return m;
}

int fail(const QString& message) {
    return synth::toolError("corvex-build-model", message);
}

} // namespace

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Builds the HUD model file (hud/model.bin) that the cash HUD reader correlates against.\n\n"
        "Synthetic footage: frames are painted with the game's HUD font and spacing over varied scenes,\n"
        "resolutions (720p to 2160p), HUD scales (0.78 to 1.32), JPEG quality 60 to 95, blur and scaling,\n"
        "then captured and found exactly as the reader does (HUD region scaled to 907 pixels, money line\n"
        "and reward rows located by the reader's own code). Cells are sampled with the reader's cell\n"
        "samplers up to half a pixel off the true character centres, as the reader's whole-pixel search\n"
        "meets them (--cell-offset). Per character, the templates are the centres of a\n"
        "spherical k-means over the normalised cells (seeded farthest-first). The pair tie-breakers\n"
        "(MPAR, FPAR) are ridge regressions (least squares with an L2 penalty of 0.0002 per cell) of +4\n"
        "for the first and -4 for the second character on cells sampled up to 0.6 pixels off centre,\n"
        "one for every pair of \"$\" and the digits.\n\n"
        "Settling pairs (MSET, FSET): --settle-frames frames drawn from the range around the game's look\n"
        "(any size from 720 lines, JPEG 50 to 95, blur, rescaling, bright scenes behind the HUD). Each "
        "digit\n"
        "is met where the reader meets it, at its templates' best place; where the best two digits'\n"
        "templates come within 0.2 of each other the cells count four times for that pair. Fitted as the\n"
        "tie-breakers are, one for each pair of digits with near ties; the reader asks them only about\n"
        "calls the templates and tie-breakers leave tied.\n\n"
        "Soft digits (MSFT, FSFT): the digits of those frames, and of half as many again drawn mostly at\n"
        "720 lines or over bright scenes, that their own templates score below 0.85 at their best place,\n"
        "clustered as the templates are (up to 8 per digit with at least 12 cells). The readers join them\n"
        "to the templates only for a second look at a figure read but uncertain, which must give the same\n"
        "value.\n\n"
        "Weapon plate: --plate-frames plates (1080p to 2160p, the same scenes and degradations) show\n"
        "table names or random words; each is captured as the engine captures the plate and its letters\n"
        "are found and sampled as the plate reader does (its components, line and walk to the slash,\n"
        "glyph cells on the line's band). Letters run together with a neighbour or broken by the mask\n"
        "are left out. Per character, --plate-templates cluster centres join the reward-line glyph\n"
        "templates, except those that would change the reward lines' reading: a template that scores two\n"
        "fused reward-line letters above the templates so far, or a reward-line cell read right above\n"
        "its own character's templates.\n\n"
        "Real footage: --captures DIR adds cells from captured HUD images (PNG or JPEG of the top-right\n"
        "HUD region as the engine saves them; other widths are scaled to 907). DIR holds truth.jsonl,\n"
        "one JSON object per image: {\"file\": \"a.png\", \"balance\": 12345, \"change\": -250,\n"
        "\"lines\": [{\"text\": \"KILL\", \"figure\": 100}, {\"text\": \"HEADSHOT\", \"xp\": 25}]}\n"
        "(lines top to bottom; change and lines optional). A first model from the synthetic footage\n"
        "aligns each known figure with the image, character by character as the reader walks it, and the\n"
        "cells found there join the synthetic ones before the final model is trained.\n\n"
        "The same options give the same bytes: all randomness is seeded.\n\n" +
        QString::fromLatin1(killfeed::kHelpText));
    cli.addHelpOption();
    cli.addOption({"out", "Model file to write.", "file"});
    cli.addOption({"frames", "Synthetic frames to sample.", "n", "700"});
    cli.addOption({"seed", "Seed of the synthetic footage.", "n", "20240607"});
    cli.addOption({"captures", "Folder of real captures with truth.jsonl.", "dir"});
    cli.addOption({"money-templates", "Templates per money character.", "n", "16"});
    cli.addOption({"figure-templates", "Templates per reward-line figure character.", "n", "12"});
    cli.addOption({"glyph-templates", "Templates per letter or digit of the reward lines.", "n", "8"});
    cli.addOption({"plate-frames", "Synthetic weapon plates to sample.", "n", "1500"});
    cli.addOption({"plate-templates", "Templates per letter or digit of the weapon plate.", "n", "4"});
    cli.addOption({"cell-offset", "Template cells up to this many pixels off the true centre.", "px", "0.5"});
    cli.addOption(
        {"pair-offset", "Tie-breaker cells up to this many pixels off the true centre.", "px", "0.6"});
    cli.addOption({"pair-ridge", "L2 penalty per training cell of the tie-breakers.", "x", "0.0002"});
    cli.addOption({"pair-cells", "Tie-breaker training cells kept per character.", "n", "900"});
    cli.addOption({"settle-frames", "Frames of the look's range sampled for the settling pairs (0: none).",
                   "n", "800"});
    cli.addOption({"killfeed", "Kill-feed data file to write (hud/killfeed.bin).", "file"});
    cli.addOption({"killfeed-frames", "Synthetic kill-feed frames the distance figures are taken from.", "n",
                   QString::number(killfeed::BuildOptions().frames)});
    cli.addOption({"killfeed-templates", "Distance templates per figure.", "n",
                   QString::number(killfeed::BuildOptions().templatesPerKey)});
    cli.addOption({"killfeed-seed", "Seed of the kill-feed footage.", "n",
                   QString::number(killfeed::BuildOptions().seed)});
    cli.addOption({"killfeed-check",
                   "Read this many held-out kill-feed frames with the new data and print "
                   "how many distances come out right.",
                   "n"});
    cli.addOption({"verbose", "Print per-character statistics."});
    synth::parseArguments(cli, argc, argv);
    verbose = cli.isSet("verbose");
    tuning.cellOffset = cli.value("cell-offset").toDouble();
    tuning.pairOffset = cli.value("pair-offset").toDouble();
    tuning.pairRidge = cli.value("pair-ridge").toDouble();
    tuning.pairPool = cli.value("pair-cells").toUInt();
    if (!cli.isSet("out") && !cli.isSet("killfeed"))
        return fail(QStringLiteral("--out or --killfeed is required (see --help)"));
    const synth::Glyphs& glyphs = synth::Glyphs::instance();
    if (!glyphs.ok())
        return fail(glyphs.error());
    if (cli.isSet("killfeed")) {
        killfeed::BuildOptions ko;
        bool ok1 = false, ok2 = false, ok3 = false;
        ko.frames = cli.value("killfeed-frames").toInt(&ok1);
        ko.templatesPerKey = cli.value("killfeed-templates").toInt(&ok2);
        ko.seed = cli.value("killfeed-seed").toUInt(&ok3);
        ko.verbose = verbose;
        if (!ok1 || !ok2 || !ok3)
            return fail(QStringLiteral("bad --killfeed-frames, --killfeed-templates or --killfeed-seed"));
        QString error;
        const std::vector<std::uint8_t> bytes = killfeed::buildKillData(ko, &error);
        if (bytes.empty())
            return fail(error);
        QSaveFile out(cli.value("killfeed"));
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size()) ||
            !out.commit())
            return fail(QStringLiteral("cannot write %1").arg(cli.value("killfeed")));
        std::fprintf(stderr, "corvex-build-model: wrote %s (%zu bytes)\n", qPrintable(cli.value("killfeed")),
                     bytes.size());
        if (cli.isSet("killfeed-check") && killfeed::checkKillData(bytes, cli.value("killfeed-check").toInt(),
                                                                   ko.seed ^ 0x5EC0DDu, verbose) != 0)
            return 1;
        if (!cli.isSet("out"))
            return 0;
    }
    bool ok1 = false, ok2 = false, ok3 = false, ok4 = false, ok5 = false, ok6 = false;
    const int frames = cli.value("frames").toInt(&ok1);
    const std::size_t moneyT = cli.value("money-templates").toUInt(&ok2);
    const std::size_t figureT = cli.value("figure-templates").toUInt(&ok3);
    const std::size_t glyphT = cli.value("glyph-templates").toUInt(&ok4);
    const int plateFrames = cli.value("plate-frames").toInt(&ok5);
    const std::size_t plateT = cli.value("plate-templates").toUInt(&ok6);
    bool okSettle = false;
    const int settleFrames = cli.value("settle-frames").toInt(&okSettle);
    if (!okSettle || settleFrames < 0)
        return fail(QStringLiteral("bad --settle-frames"));
    if (!ok1 || frames < 10 || !ok2 || !ok3 || !ok4 || moneyT < 1 || figureT < 1 || glyphT < 1 ||
        moneyT > hud::kMaxTemplatesPerChar || figureT > hud::kMaxTemplatesPerChar ||
        glyphT > hud::kMaxTemplatesPerChar)
        return fail(QStringLiteral("bad --frames or template count (templates 1 to %1)")
                        .arg(hud::kMaxTemplatesPerChar));
    // Plate templates share the glyph characters' lists with the reward lines'.
    if (!ok5 || plateFrames < 0 || !ok6 || plateT + glyphT > hud::kMaxTemplatesPerChar)
        return fail(QStringLiteral("bad --plate-frames or --plate-templates (glyph and plate templates "
                                   "together at most %1)")
                        .arg(hud::kMaxTemplatesPerChar));

    Pools pools;
    synth::Rng rng(cli.value("seed").toUInt());
    synth::Rng jitter(cli.value("seed").toUInt() ^ 0x6A177E5u);
    for (int i = 0; i < frames; ++i) {
        harvestFrame(trainingFrame(rng), jitter, pools);
        if (verbose && (i + 1) % 100 == 0)
            std::fprintf(stderr, "  %d frames\n", i + 1);
    }
    std::fprintf(stderr, "corvex-build-model: %d synthetic frames sampled, %d skipped\n", pools.frames,
                 pools.skipped);
    // The plates draw from their own randomness, so the cash HUD's cells stay
    // those of the seed whatever the plate options.
    synth::Rng plateRng(cli.value("seed").toUInt() ^ 0x91A7E5u);
    for (int i = 0; i < plateFrames && plateT > 0; ++i)
        harvestPlate(plateTrainingFrame(plateRng), pools);
    if (plateT > 0)
        std::fprintf(stderr, "corvex-build-model: %d weapon plates sampled, %d skipped\n", pools.plateFrames,
                     pools.plateSkipped);
    hud::Model model = train(pools, moneyT, figureT, glyphT, plateT);
    if (cli.isSet("captures")) {
        QString error;
        if (!harvestCaptures(cli.value("captures"), model, pools, error))
            return fail(error);
        std::fprintf(stderr, "corvex-build-model: %d real captures aligned\n", pools.real);
        model = train(pools, moneyT, figureT, glyphT, plateT);
    }

    model.phraseShapes = buildPhraseShapes();
    model.figureGlyphs = buildFigureGlyphs();
    if (settleFrames > 0)
        addSettlers(model, settleFrames, cli.value("seed").toUInt());
    const std::vector<std::uint8_t> bytes = hud::serializeModel(model);
    std::string check;
    if (!hud::parseModel(bytes.data(), bytes.size(), &check))
        return fail(QStringLiteral("the built model does not load: %1").arg(QString::fromStdString(check)));
    QSaveFile out(cli.value("out"));
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !out.commit())
        return fail(QStringLiteral("cannot write %1").arg(cli.value("out")));
    std::fprintf(stderr, "corvex-build-model: wrote %s (%zu bytes)\n", qPrintable(cli.value("out")),
                 bytes.size());
    return 0;
}
