#include "synth.h"

#include "hud/cash/vocab.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

namespace synth {

// ---------------------------------------------------------------- randomness

double Rng::uniform() {
    // 53 random bits, the same construction on every platform.
    const std::uint32_t a = next() >> 5, b = next() >> 6;
    return (a * 67108864.0 + b) / 9007199254740992.0;
}

double Rng::uniform(double lo, double hi) {
    return lo + (hi - lo) * uniform();
}

std::int64_t Rng::between(std::int64_t lo, std::int64_t hi) {
    if (hi <= lo)
        return lo;
    const std::uint64_t range = static_cast<std::uint64_t>(hi - lo) + 1;
    // Rejection sampling keeps every value equally likely.
    const std::uint64_t space = std::uint64_t(1) << 62;
    const std::uint64_t limit = space - space % range;
    for (;;) {
        const std::uint64_t x = ((std::uint64_t(next()) << 32) | next()) >> 2;
        if (x < limit)
            return lo + static_cast<std::int64_t>(x % range);
    }
}

double Rng::normal() {
    const double u1 = 1.0 - uniform(), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// ---------------------------------------------------------------- font

QString fontPath() {
    const QByteArray env = qgetenv("CORVEX_FONT");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(CORVEX_SOURCE_DIR "/data/brand/RobotoCondensed-Bold.ttf");
}

void ensureGuiApp(int& argc, char** argv) {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives for the rest of the process: destroying it from an exit handler
    // after the fonts and images are gone is not safe, so it is never deleted.
    static int count = 1;
    static char* args[] = {argc > 0 ? argv[0] : const_cast<char*>("corvex"), nullptr};
    new QGuiApplication(count, args);
}

Glyphs::Glyphs() {
    paths_.resize(128);
    const QString path = fontPath();
    if (!QFile::exists(path)) {
        error_ = QStringLiteral("font file not found: %1").arg(path);
        return;
    }
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        error_ = QStringLiteral("cannot load the font file %1").arg(path);
        return;
    }
    family_ = families.first();
    QFont font(family_);
    font.setPixelSize(1000);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging | QFont::PreferOutline));
    if (QFontInfo(font).family() != family_) {
        error_ = QStringLiteral("the font %1 resolved to %2").arg(family_, QFontInfo(font).family());
        return;
    }
    for (int c = 33; c < 127; ++c) {
        QPainterPath p;
        p.addText(QPointF(0, 0), font, QString(QChar(c)));
        paths_[static_cast<std::size_t>(c)] = p;
    }
    cap_ = paths_['H'].boundingRect().height();
    ok_ = cap_ > 0;
    if (!ok_)
        error_ = QStringLiteral("the font %1 has no outlines").arg(path);
}

const Glyphs& Glyphs::instance() {
    static const Glyphs glyphs;
    return glyphs;
}

const QPainterPath& Glyphs::glyph(char c) const {
    const auto i = static_cast<unsigned char>(c);
    return paths_[i < 128 ? i : 0];
}

QFont Glyphs::font() const {
    QFont font(family_);
    font.setPixelSize(1000);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging | QFont::PreferOutline));
    return font;
}

QPainterPath Glyphs::word(const std::string& text, double tracking) const {
    QPainterPath p;
    const std::vector<double> origins = letterOrigins(text, tracking);
    for (std::size_t i = 0; i < text.size(); ++i)
        p.addPath(glyph(text[i]).translated(origins[i], 0));
    return p;
}

std::vector<QRectF> Glyphs::letterBoxes(const std::string& text, double tracking) const {
    const std::vector<double> origins = letterOrigins(text, tracking);
    std::vector<QRectF> out;
    for (std::size_t i = 0; i < text.size(); ++i)
        out.push_back(glyph(text[i]).boundingRect().translated(origins[i], 0));
    return out;
}

// ---------------------------------------------------------------- typesetting

double moneyAdvance(char c) {
    switch (c) {
    case '$':
        return 0.95;
    case '-':
        return 0.71;
    case '0':
        return 0.948;
    case '1':
        return 0.608;
    case '2':
        return 0.87;
    case '3':
        return 0.886;
    case '4':
        return 0.918;
    case '5':
        return 0.854;
    case '6':
        return 0.896;
    case '7':
        return 0.799;
    case '8':
        return 0.872;
    case '9':
        return 0.892;
    default:
        return 0.9;
    }
}

double figureAdvance(char c) {
    switch (c) {
    case '+':
        return 0.75;
    case '$':
        return 0.86;
    case '1':
        return 0.5;
    case '7':
        return 0.8;
    default:
        return 0.833;
    }
}

std::string moneyText(std::int64_t value) {
    const std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return (value < 0 ? "-$" : "$") + out;
}

std::vector<PlacedGlyph> layoutFigure(const std::string& text, double rightEdge, double top, double cap,
                                      double (*advance)(char), double groupGap) {
    const Glyphs& g = Glyphs::instance();
    const double s = cap / g.capHeight();
    int digits = 0;
    bool havePrev = false;
    PlacedGlyph prev{' ', 0, top, cap};
    std::vector<PlacedGlyph> placed;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const char c = *it;
        if (c == ',')
            continue; // commas sit in the group gaps below
        PlacedGlyph p{c, 0, top, cap};
        const bool digit = c >= '0' && c <= '9';
        if (!havePrev) {
            p.cx = rightEdge - g.glyph(c).boundingRect().width() * s / 2;
        } else {
            const double gap = digit && digits > 0 && digits % 3 == 0 ? groupGap * cap : 0;
            p.cx = prev.cx - (advance(c) + advance(prev.c)) / 2 * cap - gap;
            if (gap > 0) {
                const double l = p.cx + advance(c) / 2 * cap, r = prev.cx - advance(prev.c) / 2 * cap;
                placed.push_back({',', (l + r) / 2, top, cap});
            }
        }
        if (digit)
            ++digits;
        placed.push_back(p);
        prev = p;
        havePrev = true;
    }
    std::reverse(placed.begin(), placed.end());
    return placed;
}

static double inkLeft(const PlacedGlyph& p) {
    const Glyphs& g = Glyphs::instance();
    return p.cx - g.glyph(p.c).boundingRect().width() * p.cap / g.capHeight() / 2;
}
static double inkRight(const PlacedGlyph& p) {
    const Glyphs& g = Glyphs::instance();
    return p.cx + g.glyph(p.c).boundingRect().width() * p.cap / g.capHeight() / 2;
}

static const PlacedGlyph* firstNonComma(const std::vector<PlacedGlyph>& v) {
    for (const auto& p : v)
        if (p.c != ',')
            return &p;
    return nullptr;
}

HudLayout layoutCashHud(const FrameContent& frame) {
    HudLayout out;
    if (!frame.cash)
        return out;
    const CashHud& cash = *frame.cash;
    const double H = frame.height;
    const double hm = 0.0125 * frame.hudScale * H;
    // Everything below is placed from the right edge, so a shifted HUD is a
    // shifted edge.
    const double W = frame.width + frame.cashShift * hm;
    out.unit = hm;
    const double top = 1.6 * hm;
    out.balance = layoutFigure(moneyText(cash.balance), W - 2.15 * hm, top, hm, moneyAdvance, 0.49);
    const PlacedGlyph* dollar = firstNonComma(out.balance);
    if (cash.change && *cash.change != 0 && dollar) {
        out.change =
            layoutFigure(moneyText(*cash.change), dollar->cx - 3.15 * hm, top, hm, moneyAdvance, 0.49);
        const double from = inkRight(out.change.back()), to = inkLeft(*dollar);
        const double w = 0.55 * hm, h = 0.45 * hm;
        out.arrow = QRectF((from + to) / 2 - w / 2, top + hm / 2 - h / 2, w, h);
    }
    const Glyphs& g = Glyphs::instance();
    const double cap = 0.667 * hm;
    const double s = cap / g.capHeight();
    for (std::size_t i = 0; i < cash.lines.size(); ++i) {
        const RewardLine& src = cash.lines[i];
        HudLayout::Line line;
        line.cap = cap;
        line.tracking = frame.look.letterSpacing;
        line.phraseTop = top + hm + 1.1 * hm + static_cast<double>(i) * 1.3 * hm;
        std::string fig;
        if (src.hasFigure)
            fig = "+" + moneyText(src.figure);
        else if (src.hasXp)
            fig = std::to_string(src.xp) + "XP";
        double phraseRight = W - 2.56 * hm;
        if (!fig.empty()) {
            line.figure = layoutFigure(fig, W - 2.56 * hm, line.phraseTop, cap, figureAdvance, 0.39);
            phraseRight = inkLeft(line.figure.front()) - 1.0 * cap;
        }
        // Words right to left, 0.45 cap of clear space between their inks.
        std::string word;
        for (char c : src.text + " ") {
            if (c == ' ') {
                if (!word.empty())
                    line.words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
        line.wordLeft.assign(line.words.size(), 0);
        double right = phraseRight;
        for (std::size_t w = line.words.size(); w-- > 0;) {
            const double width = g.word(line.words[w], line.tracking).boundingRect().width() * s;
            line.wordLeft[w] = right - width;
            right = line.wordLeft[w] - 0.45 * cap;
        }
        for (std::size_t w = 0; w < line.words.size(); ++w) {
            const double left = g.word(line.words[w], line.tracking).boundingRect().left();
            const std::vector<QRectF> boxes = g.letterBoxes(line.words[w], line.tracking);
            for (std::size_t j = 0; j < boxes.size(); ++j) {
                const QRectF& b = boxes[j];
                line.letters.emplace_back(line.words[w][j], QRectF(line.wordLeft[w] + (b.left() - left) * s,
                                                                   line.phraseTop + cap + b.top() * s,
                                                                   b.width() * s, b.height() * s));
            }
        }
        if (src.panel && line.words.size() == 1) {
            const double pad = frame.look.panelPad * cap;
            const QRectF panel(line.wordLeft[0] - pad, line.phraseTop - pad,
                               phraseRight - line.wordLeft[0] + 2 * pad, cap + 2 * pad);
            if (panel.width() < 0.12 * H)
                line.panel = panel;
        }
        out.lines.push_back(line);
    }
    return out;
}

// ---------------------------------------------------------------- painting

namespace {

std::uint32_t hash3(std::int64_t x, std::int64_t y, std::uint32_t seed) {
    std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^
                      static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL ^ (std::uint64_t(seed) << 17);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    h *= 0x94D049BB133111EBULL;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h);
}

// std::lround's rounding, halves away from zero, without the library call
// that dominated the painter's per-pixel loops. v - trunc(v) is exact in
// floating point, so the result is the same for every v within int range.
template <typename T> int roundHalfAway(T v) {
    const int t = static_cast<int>(v);
    const T f = v - static_cast<T>(t);
    return t + (f >= T(0.5) ? 1 : 0) - (f <= T(-0.5) ? 1 : 0);
}

// A colour of roughly the given luma, with a random tint.
QColor tinted(Rng& r, double luma) {
    const double tr = r.uniform(-0.25, 0.25), tb = r.uniform(-0.25, 0.25);
    double R = luma * (1 + tr), B = luma * (1 + tb);
    double G = (luma - 0.299 * R - 0.114 * B) / 0.587;
    auto c = [](double v) { return static_cast<int>(std::clamp(std::lround(v), 0L, 255L)); };
    return QColor(c(R), c(G), c(B));
}

// The game world. All geometry is in fractions of the frame so that a scene
// seed gives the same world at every resolution.
void paintScene(QPainter& p, const FrameContent& f, double W, double H) {
    Rng r(f.sceneSeed * 2654435761u + 12345u);
    const double horizon = H * r.uniform(0.25, 0.7);
    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, tinted(r, r.uniform(60, 170)));
    sky.setColorAt(1, tinted(r, r.uniform(80, 170)));
    p.fillRect(QRectF(0, 0, W, horizon + 1), sky);
    QLinearGradient ground(0, horizon, r.uniform(0, W), H);
    ground.setColorAt(0, tinted(r, r.uniform(40, 130)));
    ground.setColorAt(1, tinted(r, r.uniform(20, 90)));
    p.fillRect(QRectF(0, horizon, W, H - horizon), ground);

    // Large shapes: walls, rocks, vehicles, trees. Half of them land near the
    // top right where the cash HUD is, so the HUD meets edges and gradients.
    const int shapes = static_cast<int>(r.between(4, 12));
    for (int i = 0; i < shapes; ++i) {
        const bool nearHud = r.chance(0.5);
        const double cx = nearHud ? W - r.uniform(0, 0.45 * H) : r.uniform(0, W);
        const double cy = nearHud ? r.uniform(0, 0.25 * H) : r.uniform(0, H);
        const double w = H * r.uniform(0.03, 0.4), h = H * r.uniform(0.03, 0.3);
        QColor c1 = tinted(r, r.uniform(20, 170)), c2 = tinted(r, r.uniform(20, 170));
        c1.setAlphaF(r.uniform(0.6, 1.0));
        c2.setAlphaF(c1.alphaF());
        QLinearGradient grad(cx - w / 2, cy - h / 2, cx + w / 2 * r.uniform(-1, 1), cy + h / 2);
        grad.setColorAt(0, c1);
        grad.setColorAt(1, c2);
        p.setPen(Qt::NoPen);
        p.setBrush(grad);
        const int kind = static_cast<int>(r.between(0, 3));
        if (kind == 0) {
            p.drawRect(QRectF(cx - w / 2, cy - h / 2, w, h));
        } else if (kind == 1) {
            p.drawEllipse(QPointF(cx, cy), w / 2, h / 2);
        } else {
            QPolygonF poly;
            const int n = static_cast<int>(r.between(3, 7));
            for (int k = 0; k < n; ++k) {
                const double a = 6.283185307179586 * (k + r.uniform(0, 0.8)) / n;
                poly << QPointF(cx + std::cos(a) * w / 2 * r.uniform(0.5, 1),
                                cy + std::sin(a) * h / 2 * r.uniform(0.5, 1));
            }
            p.drawPolygon(poly);
        }
        // Some surfaces carry stripes (planks, bricks, windows).
        if (kind == 0 && r.chance(0.4)) {
            const int n = static_cast<int>(r.between(3, 12));
            QColor line = tinted(r, r.uniform(20, 150));
            line.setAlphaF(r.uniform(0.3, 0.8));
            p.setBrush(line);
            for (int k = 0; k < n; ++k)
                p.drawRect(QRectF(cx - w / 2, cy - h / 2 + h * (k + 0.5) / n, w, std::max(1.0, h * 0.03)));
        }
    }
}

void paintBright(QPainter& p, const FrameContent& f, const HudLayout& hud, double W) {
    if (!f.brightBehindHud || hud.balance.empty())
        return;
    Rng r(f.sceneSeed ^ 0xB41647u);
    const double u = hud.unit;
    // Behind the balance or behind the reward lines, now and then both.
    const double x = W - u * r.uniform(4, 12), y = u * r.uniform(0.5, 6);
    const double w = u * r.uniform(4, 12), h = u * r.uniform(2, 8);
    QColor c = tinted(r, r.uniform(170, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    if (r.chance(0.5))
        p.drawEllipse(QRectF(x, y, w, h));
    else
        p.drawRoundedRect(QRectF(x, y, w, h), u * 0.5, u * 0.5);
}

// Value noise (texture) and per-pixel noise, keyed on frame coordinates.
// The lattice values are taken once per cell and row rather than four times
// per pixel; each pixel's sum is the same expression over the same values.
void addNoise(QImage& img, QPoint origin, const FrameContent& f, double H) {
    Rng r(f.sceneSeed ^ 0x5EEDu);
    const double cell = H / r.uniform(20, 80);
    const double amp = r.uniform(3, 12);
    const std::uint32_t seed = f.sceneSeed;
    const int w = img.width();
    if (w <= 0 || img.height() <= 0)
        return;
    auto v = [&](std::int64_t a, std::int64_t b) { return (hash3(a, b, seed) & 1023) / 511.5 - 1.0; };
    std::vector<std::int64_t> cellX(static_cast<std::size_t>(w));
    std::vector<double> offX(cellX.size());
    for (int x = 0; x < w; ++x) {
        const double fx = (x + origin.x()) / cell;
        const auto cx = static_cast<std::int64_t>(std::floor(fx));
        cellX[static_cast<std::size_t>(x)] = cx;
        offX[static_cast<std::size_t>(x)] = fx - cx;
    }
    const std::int64_t firstCell = std::min(cellX.front(), cellX.back());
    const std::int64_t lastCell = std::max(cellX.front(), cellX.back()) + 1;
    const auto cells = static_cast<std::size_t>(lastCell - firstCell + 1);
    std::vector<double> upper(cells), lower(cells);
    std::int64_t rowCell = std::numeric_limits<std::int64_t>::min();
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const double fy = (y + origin.y()) / cell;
        const auto cy = static_cast<std::int64_t>(std::floor(fy));
        const double ty = fy - cy;
        if (cy != rowCell) {
            rowCell = cy;
            for (std::size_t k = 0; k < cells; ++k) {
                upper[k] = v(firstCell + static_cast<std::int64_t>(k), cy);
                lower[k] = v(firstCell + static_cast<std::int64_t>(k), cy + 1);
            }
        }
        for (int x = 0; x < w; ++x) {
            const auto k = static_cast<std::size_t>(cellX[static_cast<std::size_t>(x)] - firstCell);
            const double tx = offX[static_cast<std::size_t>(x)];
            const double tex = (upper[k] * (1 - tx) + upper[k + 1] * tx) * (1 - ty) +
                               (lower[k] * (1 - tx) + lower[k + 1] * tx) * ty;
            const int grain =
                static_cast<int>(hash3(x + origin.x(), y + origin.y(), seed ^ 0xA5A5u) % 9) - 4; // -4..4
            const int d = roundHalfAway(tex * amp) + grain;
            const QRgb px = line[x];
            auto ch = [d](int c) { return std::clamp(c + d, 0, 255); };
            line[x] = qRgb(ch(qRed(px)), ch(qGreen(px)), ch(qBlue(px)));
        }
    }
}

QPainterPath placedPath(const PlacedGlyph& pg) {
    const Glyphs& g = Glyphs::instance();
    const QPainterPath& path = g.glyph(pg.c);
    const double s = pg.cap / g.capHeight();
    const QRectF b = path.boundingRect();
    QTransform t;
    t.translate(pg.cx - (b.center().x()) * s, pg.top + pg.cap);
    t.scale(s, s);
    return t.map(path);
}

QPainterPath wordPath(const std::string& word, double left, double top, double cap, double tracking) {
    const Glyphs& g = Glyphs::instance();
    const QPainterPath path = g.word(word, tracking);
    const double s = cap / g.capHeight();
    QTransform t;
    t.translate(left - path.boundingRect().left() * s, top + cap);
    t.scale(s, s);
    return t.map(path);
}

void paintHud(QPainter& p, const HudLayout& hud, double H) {
    if (hud.balance.empty())
        return;
    const QColor ink(235, 235, 230);
    const double o = H / 1080.0; // shadow offset
    QPainterPath light, shadowed;
    auto addGlyphs = [&](const std::vector<PlacedGlyph>& gs) {
        for (const auto& pg : gs)
            light.addPath(placedPath(pg));
    };
    addGlyphs(hud.balance);
    addGlyphs(hud.change);
    QPainterPath dark;
    std::vector<QRectF> panels;
    for (const auto& line : hud.lines) {
        addGlyphs(line.figure);
        for (std::size_t w = 0; w < line.words.size(); ++w) {
            const QPainterPath wp =
                wordPath(line.words[w], line.wordLeft[w], line.phraseTop, line.cap, line.tracking);
            if (line.panel.isEmpty())
                light.addPath(wp);
            else
                dark.addPath(wp);
        }
        if (!line.panel.isEmpty())
            panels.push_back(line.panel);
    }
    QPainterPath arrow;
    QColor arrowColour;
    if (!hud.arrow.isEmpty()) {
        const QRectF a = hud.arrow;
        QPolygonF tri;
        const bool loss = hud.change.front().c == '-';
        if (loss)
            tri << a.topLeft() << a.topRight() << QPointF(a.center().x(), a.bottom());
        else
            tri << a.bottomLeft() << a.bottomRight() << QPointF(a.center().x(), a.top());
        arrow.addPolygon(tri);
        arrow.closeSubpath();
        arrowColour = loss ? QColor(215, 45, 35) : QColor(70, 200, 90);
    }
    light.setFillRule(Qt::WindingFill);
    shadowed = light;
    shadowed.addPath(arrow);
    // Soft shadow: a faint wide layer under a half-black core.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawPath(shadowed.translated(1.6 * o, 1.6 * o));
    p.setBrush(QColor(0, 0, 0, 128));
    p.drawPath(shadowed.translated(o, o));
    for (const QRectF& r : panels) {
        p.setBrush(QColor(222, 222, 215));
        p.drawRect(r);
    }
    p.setBrush(ink);
    p.drawPath(light);
    p.setBrush(QColor(35, 35, 35));
    p.drawPath(dark);
    if (!arrow.isEmpty()) {
        p.setBrush(arrowColour);
        p.drawPath(arrow);
    }
}

QImage paintSource(const FrameContent& f, const QRect& window) {
    QImage img(window.size(), QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-window.x(), -window.y());
    if (f.flatScene >= 0) {
        img.fill(QColor(f.flatScene, f.flatScene, f.flatScene));
    } else {
        paintScene(p, f, f.width, f.height);
    }
    p.end();
    if (f.flatScene < 0)
        addNoise(img, window.topLeft(), f, f.height);
    p.begin(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-window.x(), -window.y());
    const HudLayout hud = layoutCashHud(f);
    paintBright(p, f, hud, f.width);
    paintHud(p, hud, f.height);
    if (f.feed || f.plate || f.down)
        paintFeedPlateDown(p, f);
    p.end();
    return img;
}

void gaussianBlur(QImage& img, double sigma) {
    if (sigma <= 0.05)
        return;
    const int r = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> k(static_cast<std::size_t>(2 * r + 1));
    float sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += k[static_cast<std::size_t>(i + r)] =
            static_cast<float>(std::exp(-i * i / (2 * sigma * sigma)));
    for (auto& v : k)
        v /= sum;
    const int w = img.width(), h = img.height();
    std::vector<float> buf(static_cast<std::size_t>(w) * h * 3), tmp(buf.size());
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            float* d = &buf[(static_cast<std::size_t>(y) * w + x) * 3];
            d[0] = qRed(line[x]), d[1] = qGreen(line[x]), d[2] = qBlue(line[x]);
        }
    }
    // Each output sums its taps in the same order as a plain loop over
    // i = -r..r would; the three channels go together and the clamping of
    // the index is left to the pixels near the edges.
    auto pass = [&](const std::vector<float>& in, std::vector<float>& out, bool horizontal) {
        const int n = horizontal ? w : h;
        const std::size_t step = horizontal ? 3 : static_cast<std::size_t>(w) * 3;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int pos = horizontal ? x : y;
                const std::size_t here = (static_cast<std::size_t>(y) * w + x) * 3;
                const std::size_t base = here - static_cast<std::size_t>(pos) * step;
                float acc[3] = {0, 0, 0};
                if (pos - r >= 0 && pos + r < n) {
                    const float* p = in.data() + here - static_cast<std::size_t>(r) * step;
                    for (int i = 0; i <= 2 * r; ++i, p += step) {
                        const float kv = k[static_cast<std::size_t>(i)];
                        acc[0] += kv * p[0];
                        acc[1] += kv * p[1];
                        acc[2] += kv * p[2];
                    }
                } else {
                    for (int i = -r; i <= r; ++i) {
                        const float* p =
                            in.data() + base + static_cast<std::size_t>(std::clamp(pos + i, 0, n - 1)) * step;
                        const float kv = k[static_cast<std::size_t>(i + r)];
                        acc[0] += kv * p[0];
                        acc[1] += kv * p[1];
                        acc[2] += kv * p[2];
                    }
                }
                out[here] = acc[0];
                out[here + 1] = acc[1];
                out[here + 2] = acc[2];
            }
    };
    pass(buf, tmp, true);
    pass(tmp, buf, false);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const float* d = &buf[(static_cast<std::size_t>(y) * w + x) * 3];
            auto c = [](float v) { return std::clamp(roundHalfAway(v), 0, 255); };
            line[x] = qRgb(c(d[0]), c(d[1]), c(d[2]));
        }
    }
}

} // namespace

// Each source row's horizontal blend is made once and kept while the output
// rows that fall between it and its neighbour are made (an enlarged capture
// has several); the products and sums are the ones a pixel-by-pixel blend
// takes, so the output is the same.
QImage resampleBilinear(const QImage& source, const QRectF& src, int outW, int outH) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    QImage out(outW, outH, QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    if (w == 0 || h == 0 || outW <= 0 || outH <= 0)
        return out;
    const double sx = src.width() / outW, sy = src.height() / outH;
    const auto n = static_cast<std::size_t>(outW);
    std::vector<int> x0(n), x1(n);
    std::vector<float> fx(n);
    for (int i = 0; i < outW; ++i) {
        const double x = src.x() + (i + 0.5) * sx - 0.5;
        const double fl = std::floor(x);
        fx[static_cast<std::size_t>(i)] = static_cast<float>(x - fl);
        x0[static_cast<std::size_t>(i)] = std::clamp(static_cast<int>(fl), 0, w - 1);
        x1[static_cast<std::size_t>(i)] = std::clamp(static_cast<int>(fl) + 1, 0, w - 1);
    }
    // Two blended source rows, each as three channel planes of outW floats.
    std::vector<float> blended(2 * 3 * n);
    int held[2] = {-1, -1};
    auto blend = [&](int row, int slot) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(row));
        float* r = blended.data() + static_cast<std::size_t>(slot) * 3 * n;
        float* g = r + n;
        float* b = g + n;
        for (std::size_t i = 0; i < n; ++i) {
            const float tx = fx[i];
            const QRgb p0 = line[x0[i]], p1 = line[x1[i]];
            r[i] = qRed(p0) * (1 - tx) + qRed(p1) * tx;
            g[i] = qGreen(p0) * (1 - tx) + qGreen(p1) * tx;
            b[i] = qBlue(p0) * (1 - tx) + qBlue(p1) * tx;
        }
        held[slot] = row;
    };
    // The slot holding `row`, blending it into the slot `keep` does not hold.
    auto rowSlot = [&](int row, int keep) {
        for (int slot = 0; slot < 2; ++slot)
            if (held[slot] == row)
                return slot;
        const int slot = held[0] == keep ? 1 : 0;
        blend(row, slot);
        return slot;
    };
    std::vector<int> channel(3 * n);
    for (int j = 0; j < outH; ++j) {
        const double y = src.y() + (j + 0.5) * sy - 0.5;
        const double fl = std::floor(y);
        const float fy = static_cast<float>(y - fl);
        const int ra = std::clamp(static_cast<int>(fl), 0, h - 1);
        const int rb = std::clamp(static_cast<int>(fl) + 1, 0, h - 1);
        const float* top = blended.data() + static_cast<std::size_t>(rowSlot(ra, rb)) * 3 * n;
        const float* bot = blended.data() + static_cast<std::size_t>(rowSlot(rb, ra)) * 3 * n;
        for (std::size_t i = 0; i < 3 * n; ++i)
            channel[i] = std::clamp(roundHalfAway(top[i] * (1 - fy) + bot[i] * fy), 0, 255);
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (std::size_t i = 0; i < n; ++i)
            o[i] = qRgb(channel[i], channel[n + i], channel[2 * n + i]);
    }
    return out;
}

QImage renderFrame(const FrameContent& frame, const QRect& window) {
    const Degradation& d = frame.degradation;
    QImage img;
    if (std::abs(d.sourceScale - 1.0) < 1e-9) {
        img = paintSource(frame, window);
    } else {
        // The game ran at another size; the stream resampled its picture.
        FrameContent src = frame;
        const double s = d.sourceScale;
        src.width = static_cast<int>(std::lround(frame.width * s));
        src.height = static_cast<int>(std::lround(frame.height * s));
        const double kx = static_cast<double>(src.width) / frame.width;
        const double ky = static_cast<double>(src.height) / frame.height;
        const QRect srcWindow(static_cast<int>(std::floor(window.x() * kx)) - 2,
                              static_cast<int>(std::floor(window.y() * ky)) - 2,
                              static_cast<int>(std::ceil(window.width() * kx)) + 5,
                              static_cast<int>(std::ceil(window.height() * ky)) + 5);
        const QImage big = paintSource(src, srcWindow);
        img = resampleBilinear(big,
                               QRectF(window.x() * kx - srcWindow.x(), window.y() * ky - srcWindow.y(),
                                      window.width() * kx, window.height() * ky),
                               window.width(), window.height());
    }
    gaussianBlur(img, d.blurSigma);
    if (d.jpegQuality > 0) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        img.save(&buffer, "JPG", d.jpegQuality);
        buffer.close();
        QImage decoded;
        decoded.loadFromData(bytes, "JPG");
        img = decoded.convertToFormat(QImage::Format_RGB32);
    }
    return img;
}

// ---------------------------------------------------------------- capture

static double regionWidth(int W, int H) {
    return std::min(0.42 * H, static_cast<double>(W));
}

double captureScale(int frameWidth, int frameHeight) {
    return 907.0 / regionWidth(frameWidth, frameHeight);
}
double captureLeft(int frameWidth, int frameHeight) {
    return frameWidth - regionWidth(frameWidth, frameHeight);
}

QRect hudWindow(int frameWidth, int frameHeight) {
    const double left = captureLeft(frameWidth, frameHeight);
    const int x0 = std::max(0, (static_cast<int>(std::floor(left)) - 16) / 16 * 16);
    const int y1 =
        std::min(frameHeight, (static_cast<int>(std::ceil(0.22 * frameHeight)) + 16 + 15) / 16 * 16);
    return QRect(x0, 0, frameWidth - x0, y1);
}

QImage captureHudRegion(const QImage& image, QPoint origin, int W, int H, QString* error) {
    auto fail = [&](const QString& e) {
        if (error)
            *error = e;
        return QImage();
    };
    if (image.isNull())
        return fail(QStringLiteral("empty image"));
    if (W < 320 || H < 240)
        return fail(QStringLiteral("frame %1x%2 is smaller than 320x240").arg(W).arg(H));
    const double pw = regionWidth(W, H), ph = 0.22 * H;
    const QRectF region(W - pw - origin.x(), -origin.y(), pw, ph);
    if (region.left() < -0.5 || region.top() < -0.5 || region.right() > image.width() + 0.5 ||
        region.bottom() > image.height() + 0.5)
        return fail(QStringLiteral("image does not cover the HUD region"));
    const int outH = static_cast<int>(std::lround(907.0 * ph / pw));
    return resampleBilinear(image, region, 907, outH);
}

// ---------------------------------------------------------------- content

static std::int64_t pow10(int n) {
    std::int64_t v = 1;
    while (n-- > 0)
        v *= 10;
    return v;
}

std::int64_t randomBalance(Rng& rng) {
    if (rng.chance(0.02))
        return 0;
    const int digits = static_cast<int>(rng.between(1, 9));
    return rng.between(digits == 1 ? 1 : pow10(digits - 1), pow10(digits) - 1);
}

CashHud randomCashHud(Rng& rng, int frameHeight, double hudScale) {
    (void)frameHeight;
    (void)hudScale;
    CashHud hud;
    hud.balance = randomBalance(rng);
    if (rng.chance(0.5)) {
        const int digits = static_cast<int>(rng.between(1, 6));
        const std::int64_t v = rng.between(digits == 1 ? 1 : pow10(digits - 1), pow10(digits) - 1);
        hud.change = rng.chance(0.5) ? -v : v;
    }
    const int lines = rng.chance(0.3) ? 0 : static_cast<int>(rng.between(1, 4));
    for (int i = 0; i < lines; ++i) {
        RewardLine line;
        line.text = rng.pick(hud::eventPhrases());
        if (rng.chance(0.75)) {
            line.hasFigure = true;
            const int digits = static_cast<int>(rng.between(1, 5));
            line.figure = rng.between(digits == 1 ? 1 : pow10(digits - 1), pow10(digits) - 1);
        } else {
            line.hasXp = true;
            line.xp = static_cast<int>(rng.between(1, 999));
        }
        line.panel =
            (line.text == "KILL" || line.text == "HEADSHOT" || line.text == "ASSIST") && rng.chance(0.5);
        hud.lines.push_back(line);
    }
    return hud;
}

RandomFrames::RandomFrames(std::uint32_t seed, int count, Variation variation)
    : rng_(seed), extra_(seed ^ 0x6A09E667u), shift_(seed ^ 0x3C6EF372u), look_(seed ^ 0xA54FF53Au),
      left_(count), variation_(variation) {}

Look spacedLook() {
    Look look;
    look.letterSpacing = 0.08;
    look.panelPad = 0.5;
    look.nameIconGap = 0.8;
    look.squadDrain = 1.0;
    return look;
}

Look randomLook(Rng& rng) {
    Look look;
    look.letterSpacing = rng.uniform(0.0, 0.1);
    look.panelPad = rng.uniform(0.3, 0.5);
    look.iconHeight = rng.uniform(1.0, 1.3);
    look.nameIconGap = rng.uniform(0.4, 0.8);
    look.iconBracketGap = rng.uniform(0.4, 0.8);
    look.victimGap = rng.uniform(0.4, 0.8);
    look.squadDrain = rng.uniform(0.0, 1.0);
    return look;
}

void randomRangeFootage(Rng& rng, FrameContent& f) {
    // Mostly the common sizes, now and then any size in between, odd ones too.
    static const int sizes[4][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
    if (rng.chance(0.7)) {
        const auto s = static_cast<std::size_t>(rng.between(0, 3));
        f.width = sizes[s][0];
        f.height = sizes[s][1];
    } else {
        f.height = static_cast<int>(rng.between(720, 2160));
        f.width = static_cast<int>(std::lround(f.height * rng.uniform(1.6, 1.85)));
    }
    f.degradation.jpegQuality = rng.chance(0.9) ? static_cast<int>(rng.between(50, 95)) : 0;
    f.degradation.blurSigma = rng.chance(0.6) ? rng.uniform(0.0, 0.8) * f.height / 1080.0 : 0.0;
    f.degradation.sourceScale = rng.chance(0.5) ? rng.uniform(0.9, 1.1) : 1.0;
}

bool RandomFrames::next(FrameContent& f, std::int64_t& timeMs) {
    if (left_ <= 0)
        return false;
    --left_;
    static const int sizes[4][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
    const int s = variation_.anyResolution ? static_cast<int>(rng_.between(0, 3)) : 1;
    f = FrameContent();
    f.width = sizes[s][0];
    f.height = sizes[s][1];
    f.hudScale = rng_.uniform(variation_.minScale, variation_.maxScale);
    f.sceneSeed = rng_.next();
    f.brightBehindHud = rng_.chance(0.1);
    f.cash = randomCashHud(rng_, f.height, f.hudScale);
    if (variation_.degrade) {
        f.degradation.jpegQuality = rng_.chance(0.9) ? static_cast<int>(rng_.between(60, 95)) : 0;
        f.degradation.blurSigma = rng_.chance(0.5) ? rng_.uniform(0.2, 0.7) : 0.0;
        f.degradation.sourceScale = rng_.chance(0.3) ? rng_.uniform(0.75, 1.5) : 1.0;
    }
    if (variation_.feed)
        f.feed = randomKillFeed(extra_);
    if (variation_.downChance > 0)
        f.down = extra_.chance(variation_.downChance);
    if (variation_.plate)
        f.plate = randomPlate(extra_);
    if (variation_.shiftCash)
        f.cashShift = shift_.uniform(0.4, 1.3);
    if (variation_.lookRange) {
        f.look = randomLook(look_);
        randomRangeFootage(look_, f);
    }
    time_ += 1000;
    timeMs = time_;
    return true;
}

// ---------------------------------------------------------------- truth

QJsonObject truthJson(const FrameContent& f) {
    QJsonObject o;
    o["width"] = f.width;
    o["height"] = f.height;
    o["k"] = f.hudScale;
    o["sceneSeed"] = static_cast<double>(f.sceneSeed);
    o["brightBehindHud"] = f.brightBehindHud;
    o["sourceScale"] = f.degradation.sourceScale;
    o["blur"] = f.degradation.blurSigma;
    o["jpegQuality"] = f.degradation.jpegQuality;
    if (f.cashShift != 0.0)
        o["cashShift"] = f.cashShift;
    const Look exact;
    if (f.look.letterSpacing != exact.letterSpacing || f.look.panelPad != exact.panelPad ||
        f.look.iconHeight != exact.iconHeight || f.look.nameIconGap != exact.nameIconGap ||
        f.look.iconBracketGap != exact.iconBracketGap || f.look.victimGap != exact.victimGap ||
        f.look.squadDrain != exact.squadDrain) {
        QJsonObject l;
        l["letterSpacing"] = f.look.letterSpacing;
        l["panelPad"] = f.look.panelPad;
        l["iconHeight"] = f.look.iconHeight;
        l["nameIconGap"] = f.look.nameIconGap;
        l["iconBracketGap"] = f.look.iconBracketGap;
        l["victimGap"] = f.look.victimGap;
        l["squadDrain"] = f.look.squadDrain;
        o["look"] = l;
    }
    if (f.cash) {
        const HudLayout layout = layoutCashHud(f);
        o["balance"] = static_cast<double>(f.cash->balance);
        o["balanceText"] = QString::fromStdString(moneyText(f.cash->balance));
        if (f.cash->change && *f.cash->change != 0) {
            o["change"] = static_cast<double>(*f.cash->change);
            o["changeText"] = QString::fromStdString(moneyText(*f.cash->change));
        }
        QJsonArray lines;
        for (std::size_t i = 0; i < f.cash->lines.size(); ++i) {
            const RewardLine& l = f.cash->lines[i];
            QJsonObject lo;
            lo["text"] = QString::fromStdString(l.text);
            if (l.hasFigure)
                lo["figure"] = static_cast<double>(l.figure);
            if (l.hasXp)
                lo["xp"] = l.xp;
            lo["panel"] = !layout.lines[i].panel.isEmpty();
            lines.append(lo);
        }
        o["lines"] = lines;
    }
    addFeedPlateDownTruth(o, f);
    return o;
}

} // namespace synth
