// The kill feed, the weapon plate and the damage log of the synthetic game:
// their icons, typesetting, painting, the engine's captures of their areas
// and random content for them.

#include "synth.h"

#include "hud/cash/vocab.h"

#include <QFontMetricsF>
#include <QJsonArray>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>

namespace synth {

namespace {

// Kill feed, in units of the frame height.
constexpr double kFeedCap = 0.0111;
constexpr double kFeedPitch = 0.0222;
constexpr double kFeedLeft = 0.012;
constexpr double kFeedTop = 0.455;
constexpr std::size_t kFeedRows = 7;

// Row parts, in units of the feed cap m.
constexpr double kMarkerSize = 0.8;
constexpr double kMarkerGap = 0.35;
constexpr double kSkullGap = 0.3;
constexpr double kBracketHeight = 1.35;
constexpr double kBracketBar = 0.12;
constexpr double kBracketWidth = 0.38;
constexpr double kBracketClear = 0.15;
constexpr double kUnitSpace = 0.15;
constexpr double kBandPad = 0.3;
// The game's weapon icon height; a frame's look scales the icons from it.
constexpr double kIconHeight = 1.1;
constexpr double kIconMinWidth = 1.2;
constexpr double kIconMaxWidth = 3.75;
constexpr double kSkullHeight = 1.0;
constexpr double kSkullSmallHeight = 0.85;
constexpr double kFigureTracking = 0.0;

// Weapon plate, in units of the frame height.
constexpr double kPlateCap = 0.0102;
constexpr double kPlateRight = 0.0333;
constexpr double kPlateTop = 0.840;
constexpr double kPlateWordGap = 0.5; // of the plate cap
// The plate's letters get the names' room too: at the font's own spacing
// neighbours touch once the picture is scaled, and the plate reader takes one
// component for one letter.
constexpr double kPlateTracking = 0.08; // of the plate cap

// Damage log, in units of the frame height.
constexpr double kLogLeft = 0.187;
constexpr double kLogTop = 0.667;
constexpr double kLogWidth = 0.12;
constexpr double kLogHeight = 0.025;

const QColor kIconInk(245, 245, 245);
const QColor kFigureInk(230, 230, 230);
const QColor kOrange(235, 150, 30);
const QColor kBlue(70, 140, 235);
const QColor kPlateInk(235, 235, 235);
const QColor kLogBand(150, 30, 25);
const QColor kLogTitle(250, 250, 250);
const QColor kLogRow(165, 165, 160);

QColor nameColour(FeedWho who, double squadDrain) {
    switch (who) {
    case FeedWho::Me:
        return QColor(205, 205, 205);
    case FeedWho::Squad: {
        // From the game's (210, 185, 90) towards a drained (210, 190, 130).
        const double t = std::clamp(squadDrain, 0.0, 1.0);
        return QColor(210, static_cast<int>(std::lround(185 + 5 * t)),
                      static_cast<int>(std::lround(90 + 40 * t)));
    }
    default:
        return QColor(170, 170, 170);
    }
}

// The marker beside a name: orange for the player, blue for the player's
// team (the squad is part of it), none for enemies.
std::optional<QColor> markerColour(FeedWho who) {
    switch (who) {
    case FeedWho::Me:
        return kOrange;
    case FeedWho::Team:
    case FeedWho::Squad:
        return kBlue;
    default:
        return std::nullopt;
    }
}

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// ------------------------------------------------------------- typesetting

// A line of text placed in the frame: its outline and the ink box of each
// letter (spaces have none).
struct Run {
    QPainterPath path;
    std::vector<std::pair<char, QRectF>> letters;
    QRectF ink;
};

Run setRun(const std::string& text, double left, double capTop, double cap, double tracking) {
    Run run;
    const Glyphs& g = Glyphs::instance();
    if (text.empty() || !g.ok())
        return run;
    const double s = cap / g.capHeight();
    const std::vector<double> origins = g.letterOrigins(text, tracking);
    double inkLeft = 0;
    bool any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const QPainterPath& p = g.glyph(text[i]);
        if (p.isEmpty())
            continue;
        const double l = origins[i] + p.boundingRect().left();
        inkLeft = any ? std::min(inkLeft, l) : l;
        any = true;
    }
    if (!any)
        return run;
    QTransform t;
    t.translate(left - inkLeft * s, capTop + cap);
    t.scale(s, s);
    QPainterPath ref;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const QPainterPath& p = g.glyph(text[i]);
        if (p.isEmpty())
            continue;
        const QPainterPath placed = p.translated(origins[i], 0);
        ref.addPath(placed);
        const QRectF box = t.mapRect(placed.boundingRect());
        run.letters.emplace_back(text[i], box);
        run.ink = run.ink.isNull() ? box : run.ink.united(box);
    }
    run.path = t.map(ref);
    run.path.setFillRule(Qt::WindingFill);
    return run;
}

double runWidth(const std::string& text, double cap, double tracking) {
    return setRun(text, 0, 0, cap, tracking).ink.width();
}

// ------------------------------------------------------------------ icons

// Silhouettes are drawn from plain shapes and united; holes are cut from
// what stands so far, and later shapes (spokes in a wheel) go over the cuts.
// The design units are blown up while the outlines are combined: the path
// operations flatten curves with a fixed tolerance.
class Shape {
public:
    Shape() {
        path_.setFillRule(Qt::WindingFill);
        cuts_.setFillRule(Qt::WindingFill);
    }
    void rect(double x, double y, double w, double h) {
        path_.addRect(QRectF(x * kZ, y * kZ, w * kZ, h * kZ));
    }
    void poly(std::initializer_list<QPointF> points) { addPoly(path_, points); }
    void ellipse(double cx, double cy, double rx, double ry) {
        path_.addEllipse(QPointF(cx * kZ, cy * kZ), rx * kZ, ry * kZ);
    }
    void rounded(double x, double y, double w, double h, double r) {
        path_.addRoundedRect(QRectF(x * kZ, y * kZ, w * kZ, h * kZ), r * kZ, r * kZ);
    }
    // A straight bar of the given thickness from a to b.
    void bar(QPointF a, QPointF b, double thick) {
        const QPointF d = b - a;
        const double len = std::hypot(d.x(), d.y());
        if (len <= 0)
            return;
        const QPointF n(-d.y() / len * thick / 2, d.x() / len * thick / 2);
        poly({a + n, b + n, b - n, a - n});
    }
    void cutRect(double x, double y, double w, double h) {
        cuts_.addRect(QRectF(x * kZ, y * kZ, w * kZ, h * kZ));
    }
    void cutEllipse(double cx, double cy, double rx, double ry) {
        cuts_.addEllipse(QPointF(cx * kZ, cy * kZ), rx * kZ, ry * kZ);
    }
    void cutPoly(std::initializer_list<QPointF> points) { addPoly(cuts_, points); }
    // Unites what was added, cuts the holes; shapes added afterwards stay whole.
    void commit() {
        QPainterPath p = path_;
        if (!done_.isEmpty())
            p.addPath(done_);
        p = p.simplified();
        if (!cuts_.isEmpty())
            p = p.subtracted(cuts_.simplified());
        done_ = p;
        path_ = QPainterPath();
        path_.setFillRule(Qt::WindingFill);
        cuts_ = QPainterPath();
        cuts_.setFillRule(Qt::WindingFill);
    }
    // The finished outline scaled to the given height (in feed caps), ink box
    // at the origin, its broad parts ribbed.
    QPainterPath finish(double height, double minWidth = kIconMinWidth) {
        commit();
        const QRectF b = done_.boundingRect();
        if (b.height() <= 0)
            return QPainterPath();
        const double s = height / b.height();
        // The longest weapons are drawn a little slimmer to fit the row, the
        // shortest a little broader.
        const double sx = std::clamp(s, minWidth / b.width(), kIconMaxWidth / b.width());
        QTransform t;
        t.scale(sx * kZ, s * kZ);
        t.translate(-b.left(), -b.top());
        QPainterPath p = ribbed(t.map(done_));
        return QTransform::fromScale(1 / kZ, 1 / kZ).map(p);
    }

private:
    static constexpr double kZ = 400;
    // The game's icons carry dark ribs across their broad parts (vents,
    // panels, plates), so no part of a silhouette is much broader than a
    // letter stroke; the rim around the ribs keeps the silhouette in one piece.
    // The ribs are thin: in a 1080-line stream they blur shut, and the icon
    // is then a solid silhouette. Works in blown-up units (kZ per feed cap).
    static QPainterPath ribbed(const QPainterPath& p) {
        constexpr double rim = 0.1 * kZ, period = 0.3 * kZ, gap = 0.1 * kZ;
        // The inside is the outline shrunk by the rim, taken as the overlap of
        // copies shifted eight ways: a stroker's outline leaves whole parts
        // of some shapes (curved bodies, holes) unribbed.
        QPainterPath interior = p;
        for (int k = 0; k < 8; ++k) {
            const double a = k * 0.7853981633974483;
            interior = interior.intersected(p.translated(rim * std::cos(a), rim * std::sin(a)));
        }
        if (interior.isEmpty())
            return p;
        const QRectF b = interior.boundingRect();
        QPainterPath ribs;
        for (double x = std::floor(b.left() / period) * period + (period - gap) / 2; x < b.right();
             x += period)
            ribs.addRect(QRectF(x, b.top() - 1, gap, b.height() + 2));
        return p.subtracted(ribs.intersected(interior));
    }
    static void addPoly(QPainterPath& path, std::initializer_list<QPointF> points) {
        QPolygonF poly;
        for (const QPointF& q : points)
            poly << q * kZ;
        path.addPolygon(poly);
        path.closeSubpath();
    }
    QPainterPath path_, cuts_, done_;
};

using P = QPointF;

QPainterPath rifleIcon(int variant) {
    Shape s;
    if (variant == 0) {
        s.poly({P(0, 0.20), P(0.15, 0.20), P(0.78, 0.30), P(0.78, 0.60), P(0.15, 0.75), P(0, 0.75)});
        s.rect(0.75, 0.24, 1.3, 0.34);
        s.rect(0.9, 0.14, 0.85, 0.12);
        s.rect(2.0, 0.28, 0.62, 0.26);
        s.rect(2.6, 0.35, 0.6, 0.09);
        s.poly({P(2.42, 0.30), P(2.52, 0.30), P(2.52, 0.12), P(2.46, 0.12)});
        s.poly({P(1.0, 0.55), P(1.22, 0.55), P(1.12, 1.0), P(0.9, 1.0)});
        s.poly({P(1.4, 0.55), P(1.68, 0.55), P(1.72, 0.9), P(1.86, 1.25), P(1.58, 1.25), P(1.45, 0.92)});
        s.rect(1.15, 0.74, 0.3, 0.05);
    } else {
        // A second rifle family: no rail, gas tube, a stronger curve.
        s.poly({P(0, 0.28), P(0.2, 0.26), P(0.8, 0.33), P(0.8, 0.58), P(0.2, 0.78), P(0, 0.80)});
        s.rect(0.78, 0.26, 1.25, 0.32);
        s.rect(1.6, 0.16, 0.2, 0.12);
        s.rect(2.0, 0.30, 0.55, 0.24);
        s.rect(2.0, 0.22, 0.65, 0.09);
        s.rect(2.55, 0.36, 0.65, 0.08);
        s.poly({P(2.95, 0.38), P(3.02, 0.38), P(3.02, 0.18), P(2.97, 0.18)});
        s.poly({P(1.02, 0.55), P(1.24, 0.55), P(1.14, 1.0), P(0.92, 1.0)});
        s.poly({P(1.45, 0.55), P(1.72, 0.55), P(1.85, 0.85), P(2.05, 1.18), P(1.8, 1.25), P(1.6, 0.92)});
        s.rect(1.18, 0.74, 0.3, 0.05);
    }
    return s.finish(kIconHeight);
}

QPainterPath sniperIcon() {
    Shape s;
    s.poly({P(0, 0.42), P(0.25, 0.38), P(0.95, 0.5), P(0.95, 0.78), P(0.5, 0.82), P(0.3, 1.0), P(0, 1.0)});
    s.rect(0.9, 0.48, 1.1, 0.26);
    s.rect(1.05, 0.16, 0.85, 0.16);
    s.poly({P(0.85, 0.06), P(1.08, 0.12), P(1.08, 0.36), P(0.85, 0.42)});
    s.poly({P(1.88, 0.12), P(2.1, 0.04), P(2.1, 0.44), P(1.88, 0.36)});
    s.rect(1.2, 0.3, 0.1, 0.2);
    s.rect(1.65, 0.3, 0.1, 0.2);
    s.rect(2.0, 0.54, 1.5, 0.1);
    s.rect(3.35, 0.5, 0.18, 0.18);
    s.poly({P(1.05, 0.72), P(1.27, 0.72), P(1.2, 1.05), P(0.98, 1.05)});
    s.rect(1.45, 0.72, 0.28, 0.3);
    s.bar(P(2.6, 0.6), P(2.4, 1.25), 0.07);
    s.bar(P(2.65, 0.6), P(2.85, 1.25), 0.07);
    s.cutEllipse(0.55, 0.66, 0.1, 0.07);
    return s.finish(kIconHeight);
}

QPainterPath boltgunIcon() {
    // A bolt-action rifle: classic wooden stock without a pistol grip, a long
    // thin scope, the bolt knob hanging below, a long bare barrel.
    Shape s;
    s.poly({P(0, 0.42), P(0.12, 0.40), P(0.85, 0.58), P(0.85, 0.84), P(0.5, 0.86), P(0.12, 1.2), P(0, 1.2)});
    s.poly({P(0.8, 0.56), P(2.35, 0.56), P(2.35, 0.76), P(0.95, 0.84)});
    s.rect(0.85, 0.46, 0.75, 0.12);
    s.rect(0.9, 0.16, 1.0, 0.11);
    s.poly({P(0.78, 0.08), P(0.95, 0.13), P(0.95, 0.30), P(0.78, 0.35)});
    s.poly({P(1.85, 0.12), P(2.05, 0.06), P(2.05, 0.37), P(1.85, 0.31)});
    s.rect(1.1, 0.25, 0.08, 0.23);
    s.rect(1.6, 0.25, 0.08, 0.23);
    s.rect(2.3, 0.59, 1.1, 0.075);
    s.bar(P(1.45, 0.55), P(1.58, 0.95), 0.06);
    s.ellipse(1.6, 1.0, 0.09, 0.09);
    s.poly({P(1.0, 0.82), P(1.3, 0.82), P(1.26, 1.0), P(1.04, 1.0)});
    s.cutEllipse(1.15, 0.9, 0.07, 0.05);
    return s.finish(kIconHeight);
}

QPainterPath huntingIcon() {
    // A hunting rifle: Monte Carlo stock, short scope, small magazine.
    Shape s;
    s.poly({P(0, 0.45), P(0.2, 0.40), P(0.5, 0.52), P(0.85, 0.55), P(0.85, 0.82), P(0.5, 0.82), P(0.2, 1.15),
            P(0, 1.15)});
    s.poly({P(0.85, 0.55), P(2.1, 0.6), P(2.1, 0.78), P(0.85, 0.84)});
    s.rect(0.85, 0.46, 0.7, 0.12);
    s.rect(0.85, 0.20, 0.8, 0.14);
    s.rect(0.78, 0.14, 0.14, 0.26);
    s.rect(1.6, 0.12, 0.16, 0.30);
    s.rect(1.0, 0.3, 0.08, 0.18);
    s.rect(1.4, 0.3, 0.08, 0.18);
    s.rect(2.05, 0.60, 0.8, 0.08);
    s.rect(1.25, 0.80, 0.25, 0.2);
    s.poly({P(0.92, 0.82), P(1.2, 0.82), P(1.16, 1.02), P(0.96, 1.02)});
    s.cutEllipse(1.06, 0.91, 0.06, 0.05);
    return s.finish(kIconHeight);
}

QPainterPath pistolIcon() {
    Shape s;
    s.rect(0, 0.05, 1.5, 0.35);
    s.rect(0.05, 0.38, 1.15, 0.18);
    s.poly({P(0.05, 0.45), P(0.5, 0.45), P(0.66, 1.25), P(0.1, 1.25)});
    s.ellipse(0.75, 0.65, 0.22, 0.16);
    s.cutEllipse(0.75, 0.66, 0.13, 0.085);
    return s.finish(kIconHeight);
}

QPainterPath shotgunIcon() {
    Shape s;
    s.poly({P(0, 0.1), P(0.25, 0.1), P(0.95, 0.25), P(0.95, 0.62), P(0.25, 0.95), P(0, 0.95)});
    s.rect(0.9, 0.18, 0.75, 0.44);
    s.rect(1.6, 0.2, 1.4, 0.16);
    s.rect(1.6, 0.4, 1.15, 0.14);
    s.rect(1.8, 0.34, 0.7, 0.3);
    s.poly({P(1.0, 0.55), P(1.25, 0.55), P(1.12, 1.25), P(0.86, 1.25)});
    s.rect(1.2, 0.78, 0.3, 0.06);
    s.rect(1.45, 0.6, 0.06, 0.24);
    for (int i = 0; i < 4; ++i)
        s.cutRect(1.9 + 0.15 * i, 0.58, 0.05, 0.07);
    return s.finish(kIconHeight);
}

QPainterPath lmgIcon() {
    Shape s;
    s.poly({P(0, 0.15), P(0.2, 0.15), P(0.8, 0.25), P(0.8, 0.6), P(0.2, 0.72), P(0, 0.72)});
    s.rect(0.75, 0.18, 1.1, 0.38);
    s.rect(1.05, 0.02, 0.5, 0.08);
    s.rect(1.05, 0.02, 0.08, 0.2);
    s.rect(1.47, 0.02, 0.08, 0.2);
    s.rect(1.85, 0.22, 0.75, 0.22);
    s.rect(2.6, 0.29, 0.6, 0.09);
    s.rect(1.1, 0.56, 0.55, 0.55);
    s.poly({P(0.85, 0.55), P(1.07, 0.55), P(0.98, 0.98), P(0.76, 0.98)});
    s.bar(P(2.45, 0.42), P(2.25, 1.12), 0.06);
    s.bar(P(2.5, 0.42), P(2.7, 1.12), 0.06);
    s.cutRect(0.15, 0.32, 0.4, 0.2);
    for (int i = 0; i < 4; ++i)
        s.cutEllipse(1.98 + 0.17 * i, 0.33, 0.045, 0.045);
    return s.finish(kIconHeight);
}

QPainterPath grenadeIcon() {
    Shape s;
    s.ellipse(0.72, 0.78, 0.62, 0.47);
    s.rect(0.52, 0.18, 0.4, 0.2);
    s.poly({P(0.85, 0.18), P(1.15, 0.22), P(1.38, 0.6), P(1.28, 0.66), P(1.05, 0.32), P(0.85, 0.28)});
    s.ellipse(0.38, 0.17, 0.17, 0.17);
    s.cutEllipse(0.38, 0.17, 0.09, 0.09);
    s.cutRect(0.2, 0.62, 1.04, 0.05);
    s.cutRect(0.2, 0.9, 1.04, 0.05);
    return s.finish(kIconHeight);
}

QPainterPath c4Icon() {
    // Blocks of charge strapped together, the detonator on top.
    Shape s;
    s.rect(0, 0.45, 1.8, 0.8);
    s.rect(0.6, 0.2, 0.6, 0.27);
    s.bar(P(1.1, 0.25), P(1.45, 0.0), 0.07);
    s.cutRect(0.12, 0.67, 1.56, 0.1);
    s.cutRect(0.12, 0.94, 1.56, 0.1);
    s.cutRect(0.72, 0.29, 0.36, 0.09);
    return s.finish(kIconHeight);
}

QPainterPath rpgIcon() {
    Shape s;
    s.rect(0, 0.38, 2.3, 0.22);
    s.poly({P(0, 0.30), P(0.25, 0.38), P(0.25, 0.60), P(0, 0.68)});
    s.poly({P(2.25, 0.42), P(2.55, 0.10), P(3.0, 0.10), P(3.35, 0.49), P(3.0, 0.88), P(2.55, 0.88),
            P(2.25, 0.56)});
    s.poly({P(0.95, 0.58), P(1.17, 0.58), P(1.08, 1.25), P(0.86, 1.25)});
    s.poly({P(1.5, 0.58), P(1.72, 0.58), P(1.63, 1.1), P(1.41, 1.1)});
    s.rect(1.25, 0.18, 0.12, 0.22);
    return s.finish(kIconHeight);
}

QPainterPath mortarIcon() {
    Shape s;
    s.bar(P(0.55, 1.05), P(1.6, 0.0), 0.26);
    s.poly({P(0.1, 1.1), P(1.05, 1.05), P(1.1, 1.2), P(0.05, 1.25)});
    s.bar(P(1.22, 0.42), P(1.0, 1.25), 0.07);
    s.bar(P(1.26, 0.42), P(1.7, 1.25), 0.07);
    s.rect(1.1, 0.85, 0.45, 0.05);
    return s.finish(kIconHeight);
}

QPainterPath explosionIcon() {
    Shape s;
    static const double radius[14] = {1.0,  0.5, 0.85, 0.45, 0.95, 0.55, 0.8,
                                      0.42, 1.0, 0.5,  0.9,  0.48, 0.78, 0.5};
    QPolygonF star;
    for (int i = 0; i < 14; ++i) {
        const double a = 6.283185307179586 * (i + 0.3) / 14;
        star << QPointF(0.85 + 0.85 * radius[i] * std::cos(a), 0.625 + 0.625 * radius[i] * std::sin(a));
    }
    for (int i = 0; i < 14; ++i) {
        const QPointF a = star[i], b = star[(i + 1) % 14], c(0.85, 0.625);
        s.poly({a, b, c});
    }
    s.cutEllipse(0.85, 0.625, 0.16, 0.12);
    return s.finish(kIconHeight);
}

QPainterPath heliIcon() {
    Shape s;
    s.ellipse(0.85, 0.7, 0.6, 0.35);
    s.rect(0.7, 0.3, 0.7, 0.15);
    s.poly({P(1.3, 0.5), P(2.9, 0.58), P(2.9, 0.7), P(1.3, 0.85)});
    s.poly({P(2.75, 0.6), P(2.95, 0.25), P(3.1, 0.25), P(3.0, 0.7)});
    s.rect(1.0, 0.14, 0.08, 0.2);
    s.rect(0.0, 0.1, 2.4, 0.07);
    s.rect(0.2, 1.18, 1.35, 0.07);
    s.bar(P(0.6, 1.0), P(0.55, 1.2), 0.06);
    s.bar(P(1.15, 1.0), P(1.2, 1.2), 0.06);
    s.cutPoly({P(0.38, 0.55), P(0.75, 0.5), P(0.75, 0.72), P(0.32, 0.72)});
    return s.finish(kIconHeight);
}

QPainterPath tankIcon() {
    Shape s;
    s.rounded(0.1, 0.8, 2.3, 0.45, 0.2);
    s.poly({P(0, 0.8), P(0.2, 0.6), P(2.35, 0.6), P(2.5, 0.8)});
    s.poly({P(0.7, 0.6), P(0.85, 0.3), P(1.65, 0.3), P(1.85, 0.6)});
    s.rect(1.8, 0.38, 1.2, 0.1);
    s.rect(1.0, 0.18, 0.25, 0.14);
    for (int i = 0; i < 6; ++i)
        s.cutEllipse(0.38 + 0.37 * i, 1.03, 0.09, 0.09);
    return s.finish(kIconHeight);
}

QPainterPath carIcon() {
    Shape s;
    s.poly({P(0, 0.65), P(0.1, 0.45), P(0.65, 0.42), P(0.95, 0.1), P(1.75, 0.1), P(2.05, 0.42), P(2.5, 0.48),
            P(2.6, 0.65), P(2.6, 0.95), P(0, 0.95)});
    s.ellipse(0.55, 1.0, 0.25, 0.25);
    s.ellipse(2.05, 1.0, 0.25, 0.25);
    s.cutPoly({P(1.02, 0.2), P(1.35, 0.2), P(1.35, 0.42), P(0.82, 0.42)});
    s.cutPoly({P(1.45, 0.2), P(1.72, 0.2), P(1.92, 0.42), P(1.45, 0.42)});
    s.cutEllipse(0.55, 1.0, 0.09, 0.09);
    s.cutEllipse(2.05, 1.0, 0.09, 0.09);
    return s.finish(kIconHeight);
}

QPainterPath artilleryIcon() {
    Shape s;
    s.ellipse(1.2, 0.85, 0.4, 0.4);
    s.bar(P(0.1, 1.22), P(1.2, 0.85), 0.1);
    s.bar(P(1.0, 0.8), P(3.2, 0.05), 0.12);
    s.poly({P(1.0, 0.35), P(1.45, 0.35), P(1.5, 0.75), P(0.95, 0.75)});
    s.bar(P(1.1, 0.75), P(2.0, 0.45), 0.18);
    s.cutEllipse(1.2, 0.85, 0.25, 0.25);
    s.commit();
    s.bar(P(0.85, 0.85), P(1.55, 0.85), 0.08);
    s.bar(P(1.2, 0.5), P(1.2, 1.2), 0.08);
    s.ellipse(1.2, 0.85, 0.1, 0.1);
    return s.finish(kIconHeight);
}

QPainterPath hammerIcon() {
    Shape s;
    s.poly({P(0, 0.52), P(0.35, 0.5), P(1.5, 0.55), P(1.5, 0.72), P(0.35, 0.77), P(0, 0.75)});
    s.poly({P(1.42, 0.05), P(1.95, 0.0), P(1.98, 1.25), P(1.45, 1.2)});
    s.rect(1.3, 0.45, 0.2, 0.37);
    s.cutRect(0.1, 0.56, 0.04, 0.15);
    s.cutRect(0.22, 0.55, 0.04, 0.17);
    return s.finish(kIconHeight);
}

QPainterPath skullIcon(int variant) {
    Shape s;
    s.ellipse(0.45, 0.42, 0.45, 0.42);
    s.rect(0.2, 0.6, 0.5, 0.4);
    if (variant == 0) {
        s.cutEllipse(0.28, 0.48, 0.12, 0.13);
        s.cutEllipse(0.62, 0.48, 0.12, 0.13);
    } else {
        s.cutEllipse(0.28, 0.5, 0.14, 0.12);
        s.cutEllipse(0.62, 0.5, 0.14, 0.12);
    }
    s.cutPoly({P(0.45, 0.62), P(0.39, 0.75), P(0.51, 0.75)});
    for (int i = 0; i < 3; ++i)
        s.cutRect(0.335 + 0.1 * i, 0.87, 0.035, 0.2);
    return s.finish(variant == 0 ? kSkullHeight : kSkullSmallHeight, 0.0);
}

// Splits "rifle_2" into ("rifle", 1) and "skull_small" into ("skull", 1).
std::pair<std::string, int> splitIconName(const std::string& name, int variant) {
    if (name == "rifle_2")
        return {"rifle", 1};
    if (name == "skull_small")
        return {"skull", 1};
    return {name, variant};
}

QPainterPath buildIcon(const std::string& name, int variant) {
    if (variant < 0 || variant >= 1 + iconVariantCount(name))
        return QPainterPath();
    if (name == "rifle")
        return rifleIcon(variant);
    if (name == "skull")
        return skullIcon(variant);
    static const std::map<std::string, QPainterPath (*)()> shapes = {{"sniper", sniperIcon},
                                                                     {"boltgun", boltgunIcon},
                                                                     {"hunting", huntingIcon},
                                                                     {"pistol", pistolIcon},
                                                                     {"shotgun", shotgunIcon},
                                                                     {"lmg", lmgIcon},
                                                                     {"grenade", grenadeIcon},
                                                                     {"c4", c4Icon},
                                                                     {"rpg", rpgIcon},
                                                                     {"mortar", mortarIcon},
                                                                     {"explosion", explosionIcon},
                                                                     {"heli", heliIcon},
                                                                     {"tank", tankIcon},
                                                                     {"car", carIcon},
                                                                     {"artillery", artilleryIcon},
                                                                     {"hammer", hammerIcon}};
    const auto it = shapes.find(name);
    return it == shapes.end() ? QPainterPath() : it->second();
}

} // namespace

// ------------------------------------------------------------------ icons

const std::vector<std::string>& iconNames() {
    static const std::vector<std::string> names = {
        "rifle", "sniper", "boltgun",   "hunting", "pistol", "shotgun", "lmg",       "grenade", "c4",
        "rpg",   "mortar", "explosion", "heli",    "tank",   "car",     "artillery", "hammer",  "skull"};
    return names;
}

int iconVariantCount(const std::string& name) {
    return name == "rifle" || name == "skull" ? 1 : 0;
}

std::string iconVariantName(const std::string& name, int variant) {
    if (variant == 0)
        return name;
    if (name == "rifle" && variant == 1)
        return "rifle_2";
    if (name == "skull" && variant == 1)
        return "skull_small";
    return std::string();
}

QPainterPath iconPath(const std::string& name, int variant) {
    const auto [base, v] = splitIconName(name, variant);
    static std::mutex lock;
    static std::map<std::pair<std::string, int>, QPainterPath> cache;
    const std::lock_guard<std::mutex> guard(lock);
    const auto key = std::make_pair(base, v);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, buildIcon(base, v)).first;
    return it->second;
}

QImage iconImage(const std::string& name, double cap, int variant) {
    const QPainterPath path = iconPath(name, variant);
    if (path.isEmpty() || !(cap > 0) || cap > 1000)
        return QImage();
    const QRectF b = path.boundingRect();
    const int w = std::max(1, static_cast<int>(std::ceil(b.width() * cap - 1e-6)));
    const int h = std::max(1, static_cast<int>(std::ceil(b.height() * cap - 1e-6)));
    QImage img(w, h, QImage::Format_Grayscale8);
    img.fill(0);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.scale(cap, cap);
    p.drawPath(path);
    p.end();
    return img;
}

std::vector<double> Glyphs::letterOrigins(const std::string& text, double tracking) const {
    const QFontMetricsF metrics(font());
    const QString word = QString::fromStdString(text);
    std::vector<double> out;
    // The advance of the first i letters leaves out the kerning between
    // letter i - 1 and letter i; the advance through letter i, less its own
    // width, includes it.
    for (int i = 0; i < word.size(); ++i)
        out.push_back(metrics.horizontalAdvance(word.left(i + 1)) -
                      metrics.horizontalAdvance(word.mid(i, 1)) + i * tracking * cap_);
    return out;
}

// ------------------------------------------------------------ kill feed

namespace {

// One row laid out, with the outlines the painter fills.
struct RowArt {
    FeedLayout::Row row;
    QPainterPath killerText, victimText, figures, brackets, icons;
};

// `height` in feed caps for a weapon icon (built kIconHeight tall); 0 keeps
// the icon's own size.
QPainterPath placeIcon(const std::string& name, double x, double midY, double m, QRectF& box,
                       double height = 0) {
    const QPainterPath p = iconPath(name);
    if (p.isEmpty()) {
        box = QRectF();
        return p;
    }
    const QRectF b = p.boundingRect();
    const double s = height > 0 ? m * height / kIconHeight : m;
    box = QRectF(x, midY - b.height() * s / 2, b.width() * s, b.height() * s);
    QTransform t;
    t.translate(box.left(), box.top());
    t.scale(s, s);
    return t.map(p);
}

QPainterPath bracketPath(const QRectF& r, double bar, bool opening) {
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    const double x = opening ? r.left() : r.right() - bar;
    p.addRect(QRectF(x, r.top(), bar, r.height()));
    p.addRect(QRectF(r.left(), r.top(), r.width(), bar));
    p.addRect(QRectF(r.left(), r.bottom() - bar, r.width(), bar));
    return p.simplified();
}

RowArt layoutRow(const FeedRowContent& want, const Look& look, double capTop, double m, double left) {
    RowArt art;
    FeedLayout::Row& r = art.row;
    r.row = want;
    r.capTop = capTop;
    const double mid = capTop + m / 2;
    double x = left;
    if (markerColour(want.killerWho)) {
        r.killerMarker = QRectF(x, mid - kMarkerSize * m / 2, kMarkerSize * m, kMarkerSize * m);
        x = r.killerMarker.right() + kMarkerGap * m;
    }
    Run killer = setRun(upper(want.killer), x, capTop, m, look.letterSpacing);
    r.killerName = killer.ink;
    art.killerText = killer.path;
    if (!killer.ink.isNull())
        x = killer.ink.right();
    x += look.nameIconGap * m;
    art.icons.addPath(placeIcon(want.icon, x, mid, m, r.icon, look.iconHeight));
    if (!r.icon.isNull())
        x = r.icon.right();
    if (want.headshot) {
        x += kSkullGap * m;
        art.icons.addPath(placeIcon("skull", x, mid, m, r.skull));
        x = r.skull.right();
    }
    if (want.distance >= 0) {
        x += look.iconBracketGap * m;
        const double top = mid - kBracketHeight * m / 2;
        r.openBracket = QRectF(x, top, kBracketWidth * m, kBracketHeight * m);
        x = r.openBracket.right() + kBracketClear * m;
        Run digits = setRun(std::to_string(std::min(want.distance, 9999)), x, capTop, m, kFigureTracking);
        Run unit = setRun("m", digits.ink.right() + kUnitSpace * m, capTop, m, 0);
        r.figures = digits.letters;
        r.figures.insert(r.figures.end(), unit.letters.begin(), unit.letters.end());
        art.figures = digits.path;
        art.figures.addPath(unit.path);
        x = unit.ink.right() + kBracketClear * m;
        r.closeBracket = QRectF(x, top, kBracketWidth * m, kBracketHeight * m);
        art.brackets = bracketPath(r.openBracket, kBracketBar * m, true);
        art.brackets.addPath(bracketPath(r.closeBracket, kBracketBar * m, false));
        x = r.closeBracket.right() + look.victimGap * m;
    } else {
        x += look.nameIconGap * m;
    }
    Run victim = setRun(upper(want.victim), x, capTop, m, look.letterSpacing);
    r.victimName = victim.ink;
    art.victimText = victim.path;
    if (!victim.ink.isNull())
        x = victim.ink.right();
    if (markerColour(want.victimWho)) {
        x += kMarkerGap * m;
        r.victimMarker = QRectF(x, mid - kMarkerSize * m / 2, kMarkerSize * m, kMarkerSize * m);
        x = r.victimMarker.right();
    }
    const double half = kBracketHeight * m / 2 + kBandPad * m;
    r.band = QRectF(left - kBandPad * m, mid - half, x - left + 2 * kBandPad * m, 2 * half);
    return art;
}

std::vector<RowArt> layoutFeedArt(const FrameContent& f) {
    std::vector<RowArt> out;
    if (!f.feed || f.height <= 0)
        return out;
    const double H = f.height, m = kFeedCap * H;
    double scroll = f.feed->scroll;
    if (!(scroll >= 0))
        scroll = 0;
    scroll = std::min(scroll, 1.0);
    const std::size_t n = std::min(f.feed->rows.size(), kFeedRows);
    for (std::size_t i = 0; i < n; ++i) {
        // The rows slide down into their places; the newest fades in above.
        const double capTop = kFeedTop * H + (static_cast<double>(i) - scroll) * kFeedPitch * H;
        RowArt art = layoutRow(f.feed->rows[i], f.look, capTop, m, kFeedLeft * H);
        art.row.opacity = i == 0 ? 1.0 - scroll : 1.0;
        out.push_back(std::move(art));
    }
    return out;
}

} // namespace

FeedLayout layoutFeed(const FrameContent& frame) {
    FeedLayout out;
    if (!frame.feed)
        return out;
    out.cap = kFeedCap * frame.height;
    for (RowArt& art : layoutFeedArt(frame))
        out.rows.push_back(std::move(art.row));
    return out;
}

// ------------------------------------------------------------ weapon plate

namespace {

struct PlateArt {
    PlateLayout layout;
    QPainterPath path;
};

PlateArt layoutPlateArt(const FrameContent& f) {
    PlateArt art;
    if (!f.plate || f.down || f.height <= 0)
        return art;
    const double H = f.height, p = kPlateCap * H;
    art.layout.cap = p;
    // Words of the name, then for weapons the slash and the two counts.
    struct Token {
        std::string text;
        int kind; // 0 name, 1 slash, 2 ammunition
    };
    std::vector<Token> tokens;
    std::string word;
    for (char c : upper(f.plate->name) + " ") {
        if (c == ' ') {
            if (!word.empty())
                tokens.push_back({word, 0});
            word.clear();
        } else {
            word += c;
        }
    }
    if (f.plate->weapon) {
        tokens.push_back({"/", 1});
        tokens.push_back({std::to_string(std::clamp(f.plate->magazine, 0, 9999)), 2});
        tokens.push_back({std::to_string(std::clamp(f.plate->reserve, 0, 9999)), 2});
    }
    if (tokens.empty())
        return art;
    double total = 0;
    for (const Token& t : tokens)
        total += runWidth(t.text, p, kPlateTracking);
    total += kPlateWordGap * p * static_cast<double>(tokens.size() - 1);
    double x = f.width - kPlateRight * H - total;
    const double top = kPlateTop * H;
    for (const Token& t : tokens) {
        Run run = setRun(t.text, x, top, p, kPlateTracking);
        art.path.addPath(run.path);
        if (t.kind == 0)
            art.layout.letters.insert(art.layout.letters.end(), run.letters.begin(), run.letters.end());
        else if (t.kind == 1)
            art.layout.slash = run.ink;
        else
            art.layout.ammo.insert(art.layout.ammo.end(), run.letters.begin(), run.letters.end());
        if (!run.ink.isNull()) {
            art.layout.line = art.layout.line.isNull() ? run.ink : art.layout.line.united(run.ink);
            x = run.ink.right();
        }
        x += kPlateWordGap * p;
    }
    return art;
}

} // namespace

PlateLayout layoutPlate(const FrameContent& frame) {
    return layoutPlateArt(frame).layout;
}

// ------------------------------------------------------------ damage log

QRectF damageLogHeader(const FrameContent& frame) {
    const double W = frame.width, H = frame.height;
    return QRectF(W - kLogLeft * H, kLogTop * H, kLogWidth * H, kLogHeight * H);
}

namespace {

struct LogArt {
    DamageLogLayout layout;
    QPainterPath title, rows;
};

LogArt layoutLogArt(const FrameContent& f) {
    LogArt art;
    DamageLogLayout& l = art.layout;
    l.band = damageLogHeader(f);
    const double bh = l.band.height();
    l.titleCap = 0.42 * bh;
    Run title =
        setRun("DAMAGE LOG", l.band.left() + 0.32 * bh, l.band.top() + (bh - l.titleCap) / 2, l.titleCap, 0);
    l.title = title.ink;
    art.title = title.path;
    // Who hit the player, with what and for how much: dimmer, smaller lines.
    Rng r(f.sceneSeed ^ 0xDA4A6E5u);
    l.rowCap = 0.0085 * f.height;
    const int rows = static_cast<int>(r.between(2, 3));
    double top = l.band.bottom() + 0.007 * f.height;
    for (int i = 0; i < rows; ++i) {
        const hud::WeaponEntry& w = r.pick(hud::weaponTable());
        const std::string text =
            randomPlayerName(r) + "  " + upper(w.name) + "  " + std::to_string(r.between(8, 95));
        Run run = setRun(text, title.ink.isNull() ? l.band.left() : title.ink.left(), top, l.rowCap, 0);
        l.rows.emplace_back(text, run.ink.topLeft());
        art.rows.addPath(run.path);
        top += 0.019 * f.height;
    }
    return art;
}

} // namespace

DamageLogLayout layoutDamageLog(const FrameContent& frame) {
    return layoutLogArt(frame).layout;
}

// ------------------------------------------------------------ painting

namespace {

// The HUD's soft shadow: a faint wide layer under a half-black core, offset
// down and right by a pixel at 1080 lines. Each part keeps its own fill rule
// (glyphs fill by winding, the icons' holes by parity).
void paintShadowed(QPainter& p, const std::vector<std::pair<QPainterPath, QColor>>& parts, double o) {
    p.setPen(Qt::NoPen);
    for (const auto& layer : {std::make_pair(1.6 * o, 40), std::make_pair(o, 128)}) {
        p.setBrush(QColor(0, 0, 0, layer.second));
        for (const auto& part : parts)
            if (!part.first.isEmpty())
                p.drawPath(part.first.translated(layer.first, layer.first));
    }
    for (const auto& part : parts) {
        if (part.first.isEmpty())
            continue;
        p.setBrush(part.second);
        p.drawPath(part.first);
    }
}

QPainterPath rectPath(const QRectF& r) {
    QPainterPath p;
    if (!r.isNull())
        p.addRect(r);
    return p;
}

} // namespace

void paintFeedPlateDown(QPainter& p, const FrameContent& f) {
    const double o = f.height / 1080.0;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (const RowArt& art : layoutFeedArt(f)) {
        const FeedLayout::Row& r = art.row;
        if (r.opacity <= 0)
            continue;
        p.setOpacity(r.opacity);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 115)); // black at 45 %
        p.drawRect(r.band);
        std::vector<std::pair<QPainterPath, QColor>> parts = {
            {art.killerText, nameColour(r.row.killerWho, f.look.squadDrain)},
            {art.victimText, nameColour(r.row.victimWho, f.look.squadDrain)},
            {art.icons, kIconInk},
            {art.brackets, kFigureInk},
            {art.figures, kFigureInk}};
        if (const auto c = markerColour(r.row.killerWho))
            parts.emplace_back(rectPath(r.killerMarker), *c);
        if (const auto c = markerColour(r.row.victimWho))
            parts.emplace_back(rectPath(r.victimMarker), *c);
        paintShadowed(p, parts, o);
    }
    p.setOpacity(1.0);
    const PlateArt plate = layoutPlateArt(f);
    paintShadowed(p, {{plate.path, kPlateInk}}, o);
    if (f.down) {
        const LogArt log = layoutLogArt(f);
        p.setPen(Qt::NoPen);
        p.setBrush(kLogBand);
        p.drawRect(log.layout.band);
        paintShadowed(p, {{log.title, kLogTitle}, {log.rows, kLogRow}}, o);
    }
    p.restore();
}

// ------------------------------------------------------------ captures

namespace {

// The engine's region rule: a rectangle in units of the frame height,
// anchored left or right, clamped into the frame; the output keeps the
// region's aspect at `refHeight` lines.
RegionCapture regionCapture(int W, int H, bool fromRight, double x0, double x1, double y0, double y1,
                            double refHeight, bool needsTall) {
    RegionCapture c;
    c.refHeight = refHeight;
    if (W < 320 || H < 240 || (needsTall && H < 1000))
        return c;
    double left = fromRight ? W - x1 * H : x0 * H;
    double width = (x1 - x0) * H;
    left = std::max(0.0, left);
    width = std::min({width, static_cast<double>(W), W - left});
    const double top = std::min(y0 * H, static_cast<double>(H));
    const double height = std::min((y1 - y0) * H, H - top);
    if (width < 8 || height < 8)
        return c;
    c.region = QRectF(left, top, width, height);
    c.width = std::max(16, static_cast<int>(std::lround(width * refHeight / H)));
    c.height = static_cast<int>(std::lround(c.width * height / width));
    c.valid = c.height >= 8;
    return c;
}

QRect outerRect(const RegionCapture& c) {
    if (!c.valid)
        return QRect();
    const int x0 = static_cast<int>(std::floor(c.region.left()));
    const int y0 = static_cast<int>(std::floor(c.region.top()));
    const int x1 = static_cast<int>(std::ceil(c.region.right()));
    const int y1 = static_cast<int>(std::ceil(c.region.bottom()));
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

} // namespace

QPointF RegionCapture::toCapture(const QPointF& q) const {
    if (region.width() <= 0 || region.height() <= 0)
        return QPointF();
    return QPointF((q.x() - region.left()) * width / region.width(),
                   (q.y() - region.top()) * height / region.height());
}

QRectF RegionCapture::toCapture(const QRectF& r) const {
    return QRectF(toCapture(r.topLeft()), toCapture(r.bottomRight()));
}

QImage RegionCapture::capture(const QImage& frame) const {
    if (!valid || frame.isNull())
        return QImage();
    return resampleBilinear(frame, region, width, height);
}

RegionCapture feedCapture(int frameWidth, int frameHeight) {
    return regionCapture(frameWidth, frameHeight, false, 0.0, 0.42, 0.44, 0.63, 2160, true);
}
RegionCapture plateCapture(int frameWidth, int frameHeight) {
    return regionCapture(frameWidth, frameHeight, true, 0.01, 0.46, 0.822, 0.868, 2160, true);
}
RegionCapture damageLogCapture(int frameWidth, int frameHeight) {
    return regionCapture(frameWidth, frameHeight, true, 0.02, 0.28, 0.60, 0.74, 562.5, false);
}

QRect feedRegion(int frameWidth, int frameHeight) {
    return outerRect(feedCapture(frameWidth, frameHeight));
}
QRect plateRegion(int frameWidth, int frameHeight) {
    return outerRect(plateCapture(frameWidth, frameHeight));
}
QRect damageLogRegion(int frameWidth, int frameHeight) {
    return outerRect(damageLogCapture(frameWidth, frameHeight));
}

QImage captureFeedRegion(const QImage& frame) {
    return feedCapture(frame.width(), frame.height()).capture(frame);
}
QImage capturePlateRegion(const QImage& frame) {
    return plateCapture(frame.width(), frame.height()).capture(frame);
}
QImage captureDamageLogRegion(const QImage& frame) {
    return damageLogCapture(frame.width(), frame.height()).capture(frame);
}

// ------------------------------------------------------------ truth

namespace {

QString whoText(FeedWho who) {
    switch (who) {
    case FeedWho::Me:
        return QStringLiteral("me");
    case FeedWho::Team:
        return QStringLiteral("team");
    case FeedWho::Squad:
        return QStringLiteral("squad");
    default:
        return QStringLiteral("enemy");
    }
}

QJsonArray rectJson(const QRectF& r) {
    return QJsonArray{r.x(), r.y(), r.width(), r.height()};
}

} // namespace

void addFeedPlateDownTruth(QJsonObject& o, const FrameContent& f) {
    if (f.feed) {
        QJsonObject feed;
        feed["scroll"] = f.feed->scroll;
        QJsonArray rows;
        for (const FeedLayout::Row& r : layoutFeed(f).rows) {
            QJsonObject ro;
            ro["killer"] = QString::fromStdString(upper(r.row.killer));
            ro["killerWho"] = whoText(r.row.killerWho);
            ro["victim"] = QString::fromStdString(upper(r.row.victim));
            ro["victimWho"] = whoText(r.row.victimWho);
            ro["icon"] = QString::fromStdString(r.row.icon);
            ro["headshot"] = r.row.headshot;
            if (r.row.distance >= 0)
                ro["distance"] = std::min(r.row.distance, 9999);
            // What the row means for the player: 1 a kill, 2 a death, 3 both
            // sides (killed themself), 0 someone else's kill.
            const bool k = r.row.killerWho == FeedWho::Me, v = r.row.victimWho == FeedWho::Me;
            ro["side"] = k && v ? 3 : k ? 1 : v ? 2 : 0;
            ro["capTop"] = r.capTop;
            ro["band"] = rectJson(r.band);
            ro["opacity"] = r.opacity;
            rows.append(ro);
        }
        feed["rows"] = rows;
        o["feed"] = feed;
    }
    const PlateLayout plate = layoutPlate(f);
    if (f.plate && !f.down) {
        QJsonObject po;
        po["name"] = QString::fromStdString(f.plate->name);
        po["key"] = QString::fromStdString(hud::weaponKey(f.plate->name));
        po["weapon"] = f.plate->weapon;
        for (const hud::WeaponEntry& e : hud::weaponTable())
            if (e.name == f.plate->name)
                po["class"] = QString::fromStdString(e.weaponClass);
        if (f.plate->weapon) {
            po["magazine"] = std::clamp(f.plate->magazine, 0, 9999);
            po["reserve"] = std::clamp(f.plate->reserve, 0, 9999);
        }
        po["line"] = rectJson(plate.line);
        o["plate"] = po;
    }
    if (f.down) {
        o["down"] = true;
        o["damageLog"] = rectJson(damageLogHeader(f));
    }
}

// ------------------------------------------------------------ random content

std::string randomPlayerName(Rng& rng) {
    static const std::vector<std::string> words = {
        "VIPER", "GHOST", "WOLF",  "SHADOW", "RAVEN", "HAWK",  "BLAZE", "FROST", "NOVA", "ZERO",
        "REX",   "ACE",   "KILO",  "DELTA",  "ECHO",  "TANGO", "MAX",   "JAY",   "KAI",  "LEO",
        "ODIN",  "THOR",  "STORM", "VENOM",  "ROGUE", "SNIPE", "BOLT",  "FANG",  "CROW", "DUKE",
        "NINJA", "PANDA", "TIGER", "BEAR",   "FOX",   "LYNX",  "ORCA",  "PIKE",  "SAGE", "MOOSE"};
    std::string name;
    const double style = rng.uniform();
    if (style < 0.55) {
        name = rng.pick(words);
        if (rng.chance(0.6))
            name += std::to_string(rng.between(1, 999));
    } else if (style < 0.8) {
        name = rng.pick(words) + "_" + rng.pick(words);
    } else {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
        const int n = static_cast<int>(rng.between(3, 12));
        for (int i = 0; i < n; ++i)
            name += alphabet[rng.between(0, i == 0 ? 25 : 36)];
    }
    if (name.size() > 12)
        name.resize(12);
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    while (name.size() < 3)
        name += static_cast<char>('0' + rng.between(0, 9));
    return name;
}

FeedRowContent randomFeedRow(Rng& rng, const std::string& me) {
    FeedRowContent row;
    const double who = rng.uniform();
    if (who < 0.22) {
        row.killer = me;
        row.killerWho = FeedWho::Me;
        row.victim = randomPlayerName(rng);
    } else if (who < 0.34) {
        row.killer = randomPlayerName(rng);
        row.victim = me;
        row.victimWho = FeedWho::Me;
    } else if (who < 0.36) {
        row.killer = row.victim = me;
        row.killerWho = row.victimWho = FeedWho::Me;
    } else {
        row.killer = randomPlayerName(rng);
        row.victim = randomPlayerName(rng);
        const double k = rng.uniform();
        if (k < 0.45)
            row.victimWho = rng.chance(0.8) ? FeedWho::Team : FeedWho::Squad;
        else
            row.killerWho = k < 0.85 ? FeedWho::Team : FeedWho::Squad;
    }
    struct Weighted {
        const char* icon;
        int weight;
        int maxDistance;
    };
    static const Weighted icons[] = {{"rifle", 30, 400},     {"sniper", 8, 900}, {"boltgun", 5, 700},
                                     {"hunting", 4, 500},    {"pistol", 8, 80},  {"shotgun", 6, 60},
                                     {"lmg", 6, 400},        {"grenade", 5, 60}, {"c4", 3, 40},
                                     {"rpg", 4, 250},        {"mortar", 2, 600}, {"explosion", 4, 100},
                                     {"heli", 3, 400},       {"tank", 3, 900},   {"car", 3, 60},
                                     {"artillery", 2, 1500}, {"hammer", 2, 3}};
    int total = 0;
    for (const Weighted& w : icons)
        total += w.weight;
    std::int64_t roll = rng.between(0, total - 1);
    const Weighted* chosen = &icons[0];
    for (const Weighted& w : icons) {
        if (roll < w.weight) {
            chosen = &w;
            break;
        }
        roll -= w.weight;
    }
    row.icon = chosen->icon;
    static const std::vector<std::string> guns = {"rifle",  "sniper",  "boltgun", "hunting",
                                                  "pistol", "shotgun", "lmg"};
    const bool gun = std::find(guns.begin(), guns.end(), row.icon) != guns.end();
    row.headshot = gun && rng.chance(0.25);
    row.distance = rng.chance(0.04) ? -1 : static_cast<int>(rng.between(1, chosen->maxDistance));
    return row;
}

KillFeed randomKillFeed(Rng& rng) {
    KillFeed feed;
    const std::string me = randomPlayerName(rng);
    const int rows = static_cast<int>(rng.between(0, 3) + rng.between(0, 4));
    for (int i = 0; i < rows; ++i)
        feed.rows.push_back(randomFeedRow(rng, me));
    feed.scroll = rng.chance(0.2) ? rng.uniform(0.0, 1.0) : 0.0;
    return feed;
}

Plate randomPlate(Rng& rng) {
    Plate plate;
    const hud::WeaponEntry& e = rng.pick(hud::weaponTable());
    plate.name = e.name;
    plate.weapon = e.weapon;
    plate.magazine = static_cast<int>(rng.between(0, rng.chance(0.8) ? 40 : 200));
    plate.reserve = static_cast<int>(rng.between(0, 360));
    return plate;
}

} // namespace synth
