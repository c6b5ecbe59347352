// The kill-feed data file: icons as the feed draws them at the 2160-line
// capture scale, the damage-log header at the 562.5-line scale of its
// capture, and distance digit templates harvested from painted feed rows
// exactly where the reader samples them.

#include "build-killfeed.h"
#include "cluster.h"

#include "hudio.h"
#include "synth.h"

#include "hud/feed/feed.h"
#include "hud/core/image.h"
#include "hud/feed/killdata.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"
#include "hud/cash/vocab.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace killfeed {

const char* const kHelpText =
    "Kill-feed data (--killfeed FILE, hud/killfeed.bin): ICON holds every icon of the feed and its\n"
    "variants (rifle_2, skull_small) as grey levels, drawn at the feed cap of the 2160-line capture\n"
    "(24 pixels). DOWN holds the damage-log header (\"DAMAGE LOG\" on its red band) as the luma of the\n"
    "band painted at four times the 562.5-line capture scale and averaged down to that scale, with its\n"
    "relative width 0.12 (band width / frame height). DIGT holds 32x32 templates of the distance\n"
    "figures \"0\"..\"9\" and \"m\": kill-feed rows with random distances are painted over varied scenes\n"
    "at 1080, 1440 and 2160 lines (JPEG 60 to 95, blur, scaling), captured as the engine captures the\n"
    "feed, and every figure is sampled with the reader's own cell sampler at its true glyph box, in the\n"
    "band the reader takes from the figures between the brackets. Per key the templates are the\n"
    "centres of a spherical k-means over the cells (seeded farthest-first). --killfeed-frames and\n"
    "--killfeed-templates set the footage and the count; --killfeed-seed the footage seed. The same\n"
    "options give the same bytes. Without --out only the kill-feed data is built.";

namespace {

using Cell = std::vector<float>;

// Feed and plate captures are scaled to this frame height.
constexpr double kFeedRefHeight = 2160.0;
constexpr double kFeedCapAtRef = 0.0111 * kFeedRefHeight; // 23.976
constexpr char kDigitKeys[] = "0123456789m";

// ---------------------------------------------------------------- icons

std::vector<std::uint8_t> greyBytes(const QImage& image) {
    const QImage g = image.convertToFormat(QImage::Format_Grayscale8);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(g.width()) * static_cast<std::size_t>(g.height()));
    for (int y = 0; y < g.height(); ++y)
        std::memcpy(out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(g.width()),
                    g.constScanLine(y), static_cast<std::size_t>(g.width()));
    return out;
}

bool addIcons(hud::KillDataSource& source, QString* error) {
    for (const std::string& name : synth::iconNames()) {
        for (int v = 0; v <= synth::iconVariantCount(name); ++v) {
            const QImage img = synth::iconImage(name, kFeedCapAtRef, v);
            if (img.isNull() || img.width() < 1 || img.height() < 1) {
                *error = QStringLiteral("the painter has no icon %1").arg(QString::fromStdString(name));
                return false;
            }
            if (img.width() > 512 || img.height() > 512) {
                *error = QStringLiteral("icon %1 is %2x%3, larger than the file allows")
                             .arg(QString::fromStdString(name))
                             .arg(img.width())
                             .arg(img.height());
                return false;
            }
            hud::KillDataSource::Icon icon;
            icon.name = synth::iconVariantName(name, v);
            icon.width = img.width();
            icon.height = img.height();
            icon.pixels = greyBytes(img);
            source.icons.push_back(std::move(icon));
        }
    }
    if (source.icons.empty()) {
        *error = QStringLiteral("the painter has no icons");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- damage log

double luma(QRgb c) {
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

// The header band painted large and averaged down to the damage-log
// capture's scale, so the stored image carries neither the aliasing of one
// resolution nor that of one capture.
bool addDamageLog(hud::KillDataSource& source, QString* error) {
    constexpr int kOversample = 4;
    synth::FrameContent f;
    f.height = static_cast<int>(hud::kDamageLogRefHeight * kOversample);
    f.width = f.height * 16 / 9;
    f.flatScene = 90;
    f.down = true;
    const QRectF band = synth::damageLogHeader(f);
    if (band.isEmpty()) {
        *error = QStringLiteral("the painter has no damage-log header");
        return false;
    }
    const QRect window =
        band.toAlignedRect().adjusted(-16, -16, 16, 16).intersected(QRect(0, 0, f.width, f.height));
    const QImage img = synth::renderFrame(f, window).convertToFormat(QImage::Format_RGB32);
    const double rel = band.width() / f.height;
    const int outW = static_cast<int>(std::lround(band.width() / kOversample));
    const int outH = static_cast<int>(std::lround(band.height() / kOversample));
    if (outW < 1 || outH < 1 || outW > 2048 || outH > 512) {
        *error = QStringLiteral("damage-log header of %1x%2 pixels").arg(outW).arg(outH);
        return false;
    }
    constexpr int kSub = 8;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(outW) * static_cast<std::size_t>(outH));
    const double pw = band.width() / outW, ph = band.height() / outH;
    for (int j = 0; j < outH; ++j)
        for (int i = 0; i < outW; ++i) {
            double sum = 0;
            for (int sj = 0; sj < kSub; ++sj)
                for (int si = 0; si < kSub; ++si) {
                    const double x = band.left() + (i + (si + 0.5) / kSub) * pw - window.x();
                    const double y = band.top() + (j + (sj + 0.5) / kSub) * ph - window.y();
                    const int px = std::clamp(static_cast<int>(std::floor(x)), 0, img.width() - 1);
                    const int py = std::clamp(static_cast<int>(std::floor(y)), 0, img.height() - 1);
                    sum += luma(img.pixel(px, py));
                }
            pixels[static_cast<std::size_t>(j) * static_cast<std::size_t>(outW) +
                   static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(std::clamp(std::lround(sum / (kSub * kSub)), 0L, 255L));
        }
    source.damageLogWidth = static_cast<float>(rel);
    source.damageLogImageWidth = outW;
    source.damageLogImageHeight = outH;
    source.damageLogPixels = std::move(pixels);
    return true;
}

// ---------------------------------------------------------------- distance digits

std::string randomName(synth::Rng& rng) {
    const int len = static_cast<int>(rng.between(3, 12));
    std::string s;
    for (int i = 0; i < len; ++i) {
        const double u = rng.uniform();
        s += u < 0.82   ? static_cast<char>('A' + rng.between(0, 25))
             : u < 0.95 ? static_cast<char>('0' + rng.between(0, 9))
                        : '_';
    }
    return s;
}

// Every digit equally often in every place but the first.
int randomDistance(synth::Rng& rng) {
    const int digits = static_cast<int>(rng.between(1, 4));
    int v = static_cast<int>(rng.between(digits == 1 ? 0 : 1, 9));
    for (int i = 1; i < digits; ++i)
        v = v * 10 + static_cast<int>(rng.between(0, 9));
    return v;
}

synth::FrameContent digitFrame(synth::Rng& rng) {
    static const int sizes[3][2] = {{1920, 1080}, {2560, 1440}, {3840, 2160}};
    synth::FrameContent f;
    const int s = static_cast<int>(rng.between(0, 2));
    f.width = sizes[s][0];
    f.height = sizes[s][1];
    f.sceneSeed = rng.next();
    synth::KillFeed feed;
    std::vector<std::string> icons;
    for (const std::string& n : synth::iconNames())
        if (n != "skull")
            icons.push_back(n);
    const int rows = static_cast<int>(rng.between(4, 7));
    static const synth::FeedWho whos[4] = {synth::FeedWho::Enemy, synth::FeedWho::Team, synth::FeedWho::Squad,
                                           synth::FeedWho::Me};
    for (int i = 0; i < rows; ++i) {
        synth::FeedRowContent r;
        r.killer = randomName(rng);
        r.killerWho = whos[rng.between(0, 3)];
        r.victim = randomName(rng);
        r.victimWho = whos[rng.between(0, 3)];
        r.icon = rng.pick(icons);
        r.headshot = rng.chance(0.25);
        r.distance = randomDistance(rng);
        feed.rows.push_back(r);
    }
    f.feed = feed;
    f.degradation.jpegQuality = rng.chance(0.85) ? static_cast<int>(rng.between(60, 95)) : 0;
    f.degradation.blurSigma = rng.chance(0.5) ? rng.uniform(0.2, 0.7) : 0.0;
    f.degradation.sourceScale = rng.chance(0.3) ? rng.uniform(0.75, 1.5) : 1.0;
    return f;
}

// The engine's capture of an area, painting only what it needs.
QImage feedImage(const synth::FrameContent& f, const synth::RegionCapture& c) {
    const QRect region = c.region.toAlignedRect();
    const int x0 = std::max(0, (region.left() - 16) / 16 * 16);
    const int y0 = std::max(0, (region.top() - 16) / 16 * 16);
    const int x1 = std::min(f.width, (region.right() + 1 + 16 + 15) / 16 * 16);
    const int y1 = std::min(f.height, (region.bottom() + 1 + 16 + 15) / 16 * 16);
    const QRect window(x0, y0, x1 - x0, y1 - y0);
    const QImage part = synth::renderFrame(f, window);
    return synth::resampleBilinear(part, c.region.translated(-window.topLeft()), c.width, c.height);
}

struct Harvest {
    std::map<char, std::vector<Cell>> pool;
    int frames = 0, rows = 0, skippedRows = 0;
};

// Samples every distance figure of one frame at its true box.
void harvestFrame(const synth::FrameContent& f, Harvest& h, std::size_t poolLimit) {
    const synth::RegionCapture capture = synth::feedCapture(f.width, f.height);
    if (!capture.valid)
        return;
    const QImage cap = feedImage(f, capture);
    ++h.frames;
    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(cap), planes);
    const int W = cap.width(), H = cap.height();
    std::vector<hud::Blob> comps;
    for (const hud::Blob& b : hud::labelComponents(planes.mask, W, H))
        if (b.height() >= 6 && b.height() <= 48 && b.width() <= 120 && b.area >= 6)
            comps.push_back(b);
    auto mapX = [&](double x) { return capture.toCapture(QPointF(x, 0)).x(); };
    auto mapY = [&](double y) { return capture.toCapture(QPointF(0, y)).y(); };
    const synth::FeedLayout layout = synth::layoutFeed(f);
    const double m = layout.cap * capture.height / capture.region.height();
    for (const synth::FeedLayout::Row& row : layout.rows) {
        if (row.figures.empty() || row.openBracket.isEmpty() || row.closeBracket.isEmpty())
            continue;
        const double bx0 = mapX(row.openBracket.right()), bx1 = mapX(row.closeBracket.left());
        const double capTop = mapY(row.capTop);
        // The figures' band, measured as the reader measures it: median top
        // and bottom of the glyphs of about a cap between the brackets.
        std::vector<int> tops, bottoms;
        for (const hud::Blob& b : comps) {
            const double cy = (b.y0 + b.y1) / 2.0;
            if (b.x0 <= bx0 || b.x1 >= bx1 || cy < capTop - 0.3 * m || cy > capTop + 1.3 * m)
                continue;
            if (b.height() >= 0.8 * m && b.height() <= 1.2 * m) {
                tops.push_back(b.y0);
                bottoms.push_back(b.y1);
            }
        }
        if (tops.empty()) {
            ++h.skippedRows;
            continue;
        }
        ++h.rows;
        const double top = hud::medianInt(tops), bottom = hud::medianInt(bottoms);
        const double bandH = bottom - top + 1;
        const int r0 = std::max(0, static_cast<int>(std::floor(top - 0.1 * bandH)));
        const int r1 = std::min(H - 1, static_cast<int>(std::floor(bottom + 0.1 * bandH)));
        float cell[hud::kGlyphCellLength];
        for (const auto& [c, box] : row.figures) {
            // The pixels whose centres lie inside the glyph's ink box.
            const int c0 = std::max(0, static_cast<int>(std::lround(mapX(box.left()))));
            const int c1 = std::min(W - 1, static_cast<int>(std::lround(mapX(box.right()))) - 1);
            hud::Blob piece;
            piece.x0 = W;
            piece.y0 = H;
            piece.x1 = piece.y1 = -1;
            for (int y = r0; y <= r1; ++y)
                for (int x = c0; x <= c1; ++x)
                    if (planes.mask[static_cast<std::size_t>(y) * static_cast<std::size_t>(W) +
                                    static_cast<std::size_t>(x)]) {
                        piece.x0 = std::min(piece.x0, x);
                        piece.x1 = std::max(piece.x1, x);
                        piece.y0 = std::min(piece.y0, y);
                        piece.y1 = std::max(piece.y1, y);
                        ++piece.area;
                    }
            if (piece.area < 4)
                continue;
            std::vector<Cell>& list = h.pool[c];
            if (list.size() >= poolLimit)
                continue;
            hud::figureCell(planes, piece, top, bottom, cell);
            list.emplace_back(cell, cell + hud::kGlyphCellLength);
        }
    }
}

bool addDigits(const BuildOptions& o, hud::KillDataSource& source, QString* error) {
    Harvest h;
    synth::Rng rng(o.seed);
    for (int i = 0; i < o.frames; ++i) {
        harvestFrame(digitFrame(rng), h, static_cast<std::size_t>(o.poolPerKey));
        if (o.verbose && (i + 1) % 50 == 0)
            std::fprintf(stderr, "  %d kill-feed frames\n", i + 1);
    }
    std::fprintf(stderr,
                 "corvex-build-model: kill feed: %d frames, %d rows sampled, %d without figures found\n",
                 h.frames, h.rows, h.skippedRows);
    for (const char* k = kDigitKeys; *k; ++k) {
        const auto it = h.pool.find(*k);
        if (it == h.pool.end() || it->second.empty()) {
            *error = QStringLiteral("no samples of the distance figure '%1'").arg(QChar(*k));
            return false;
        }
        source.digits[*k] = synth::clusterCells(it->second, static_cast<std::size_t>(o.templatesPerKey), 10);
        if (o.verbose)
            std::fprintf(stderr, "  '%c': %zu cells, %zu templates\n", *k, it->second.size(),
                         source.digits[*k].size());
    }
    return true;
}

// How the distances of the check's frames read.
struct DistanceCheck {
    int rows = 0, found = 0, right = 0, wrong = 0, none = 0, cells = 0, cellsRight = 0;
    std::map<std::string, int> confusions;
};

// Distances of painted kill-feed rows, read whole and, for the templates
// alone, every figure cell at its true box.
DistanceCheck checkDistances(const hud::Model& model, const hud::KillData& data, int frames,
                             std::uint32_t seed, bool verbose) {
    DistanceCheck c;
    synth::Rng rng(seed);
    for (int i = 0; i < frames; ++i) {
        const synth::FrameContent f = digitFrame(rng);
        const synth::RegionCapture capture = synth::feedCapture(f.width, f.height);
        const QImage cap = feedImage(f, capture).convertToFormat(QImage::Format_RGB32);
        const hud::FeedRead read = hud::readFeedRows(model, data, cap.constBits(), cap.width(), cap.height(),
                                                     static_cast<int>(cap.bytesPerLine()));
        const synth::FeedLayout layout = synth::layoutFeed(f);
        for (const synth::FeedLayout::Row& row : layout.rows) {
            ++c.rows;
            const double top = capture.toCapture(QPointF(0, row.capTop)).y();
            const hud::FeedRow* match = nullptr;
            for (const hud::FeedRow& r : read.rows)
                if (std::abs(r.y - top) < 12)
                    match = &r;
            if (!match)
                continue;
            ++c.found;
            if (!match->hasDistance) {
                ++c.none;
                if (verbose)
                    std::fprintf(
                        stderr,
                        "not read: %d (%dx%d blur %.2f q %d scale %.2f) bracket %d-%d m %d glyphs %zu\n",
                        row.row.distance, f.width, f.height, f.degradation.blurSigma,
                        f.degradation.jpegQuality, f.degradation.sourceScale, match->bracketX0,
                        match->bracketX1, match->mX0, match->glyphs.size());
                continue;
            }
            if (match->distance == row.row.distance) {
                ++c.right;
            } else {
                ++c.wrong;
                ++c.confusions[std::to_string(row.row.distance) + " as " + std::to_string(match->distance)];
            }
        }
        Harvest h;
        harvestFrame(f, h, 100000);
        for (const auto& [ch, list] : h.pool)
            for (const Cell& cell : list) {
                const hud::GlyphClass g = hud::classifyGlyph(cell.data(), data.digits, "0123456789m");
                ++c.cells;
                c.cellsRight += g.character == ch;
            }
    }
    return c;
}

// The damage-log header on frames with and without it, and the plate.
void checkDownAndPlate(const hud::Model& model, const std::shared_ptr<const hud::KillData>& data, int frames,
                       std::uint32_t seed, bool verbose) {
    synth::Rng more(seed ^ 0xD0A7u);
    double downMin = 1, downSum = 0, upMax = 0;
    int downs = 0, ups = 0, upHigh = 0, plates = 0, platesRight = 0;
    for (int i = 0; i < frames; ++i) {
        synth::FrameContent f = digitFrame(more);
        f.down = i % 2 == 0;
        synth::Plate plate;
        plate.name = more.pick(hud::weaponTable()).name;
        f.plate = plate;
        const synth::RegionCapture dc = synth::damageLogCapture(f.width, f.height);
        const QImage dimg = feedImage(f, dc).convertToFormat(QImage::Format_RGB32);
        hud::DownDetector detector;
        detector.killData = data;
        const hud::DownRead d = hud::readDownScore(detector, dimg.constBits(), dimg.width(), dimg.height(),
                                                   static_cast<int>(dimg.bytesPerLine()), true);
        if (f.down) {
            ++downs;
            downMin = std::min(downMin, static_cast<double>(d.score));
            downSum += d.score;
        } else {
            ++ups;
            upMax = std::max(upMax, static_cast<double>(d.score));
            upHigh += d.score >= 0.65;
        }
        if (f.down)
            continue;
        const synth::RegionCapture pc = synth::plateCapture(f.width, f.height);
        const QImage pimg = feedImage(f, pc).convertToFormat(QImage::Format_RGB32);
        const hud::PlateRead p = hud::readPlate(model, *data, pimg.constBits(), pimg.width(), pimg.height(),
                                                static_cast<int>(pimg.bytesPerLine()));
        ++plates;
        platesRight += p.name == plate.name;
        if (verbose && p.name != plate.name)
            std::fprintf(stderr, "plate %s (%dx%d) read '%s' as '%s' score %.2f\n", plate.name.c_str(),
                         f.width, f.height, p.read.c_str(), p.name.c_str(), static_cast<double>(p.score));
    }
    std::printf("damage log: %d frames down, score mean %.3f, lowest %.3f; %d frames up, highest %.3f, %d at "
                "0.65 or more\n",
                downs, downs ? downSum / downs : 0.0, downMin, ups, upMax, upHigh);
    std::printf("plate: %d of %d names right\n", platesRight, plates);
}

} // namespace

int checkKillData(const std::vector<std::uint8_t>& bytes, int frames, std::uint32_t seed, bool verbose) {
    std::string error;
    const auto data = hud::parseKillData(bytes.data(), bytes.size(), &error);
    QString modelError;
    const auto model = synth::loadModelFile(synth::defaultModelPath(), &modelError);
    if (!data || !model) {
        std::fprintf(stderr, "corvex-build-model: check: %s%s\n", error.c_str(), qPrintable(modelError));
        return 1;
    }
    const DistanceCheck c = checkDistances(*model, *data, frames, seed, verbose);
    checkDownAndPlate(*model, data, frames, seed, verbose);
    std::printf("kill-feed check on %d frames: %d rows, %d found, distance right %d, wrong %d, not read %d "
                "(%.2f %% of found rows right); cells at true boxes %.2f %% right\n",
                frames, c.rows, c.found, c.right, c.wrong, c.none, c.found ? 100.0 * c.right / c.found : 0.0,
                c.cells ? 100.0 * c.cellsRight / c.cells : 0.0);
    int shown = 0;
    for (const auto& [text, n] : c.confusions)
        if (shown++ < 20)
            std::printf("  %s (%d)\n", text.c_str(), n);
    return 0;
}

std::vector<std::uint8_t> buildKillData(const BuildOptions& options, QString* error) {
    QString dummy;
    QString* e = error ? error : &dummy;
    if (options.frames < 1 || options.templatesPerKey < 1 || options.templatesPerKey > 256 ||
        options.poolPerKey < 1) {
        *e = QStringLiteral("bad kill-feed frame or template count (templates 1 to 256)");
        return {};
    }
    hud::KillDataSource source;
    if (!addIcons(source, e) || !addDamageLog(source, e) || !addDigits(options, source, e))
        return {};
    std::vector<std::uint8_t> bytes = hud::serializeKillData(source);
    std::string check;
    if (!hud::parseKillData(bytes.data(), bytes.size(), &check)) {
        *e = QStringLiteral("the built kill-feed data does not load: %1").arg(QString::fromStdString(check));
        return {};
    }
    return bytes;
}

} // namespace killfeed
