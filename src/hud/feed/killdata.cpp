#include "hud/feed/killdata.h"

#include "hud/core/checksum.h"
#include "hud/core/image.h"
#include "hud/core/sections.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hud {

namespace {

constexpr std::uint32_t kMaxIcons = 512;
constexpr std::uint32_t kMaxIconSide = 512;
constexpr std::uint32_t kMaxDamageLogWidth = 2048;
constexpr std::uint32_t kMaxDamageLogHeight = 512;
constexpr std::uint32_t kDigitTemplateLength = 1024;
constexpr std::uint32_t kMaxDigitKeys = 16;
constexpr std::uint32_t kMaxDigitTemplates = 256;

// The header is prepared at these scales of its nominal size, so that HUD
// scales and capture rounding still find a variant within a few per cent.
constexpr float kFirstScale = 0.8f;
constexpr float kScaleStep = 1.06f;
constexpr float kLastScale = 1.26f;
constexpr int kMinVariantWidth = 8;
constexpr int kMinVariantHeight = 10;
// No capture of the header is taller than the reference frame itself, so a
// variant that would be taller can never be compared; building it anyway
// would let a damaged file ask for gigabytes.
constexpr int kMaxVariantHeight = static_cast<int>(kDamageLogRefHeight);

constexpr float kBlurSide = 0.209f;
constexpr float kBlurCentre = 0.582f;
constexpr int kLocalMeanRadius = 6; // 13 x 13 window

using detail::ByteReader;
using detail::sameTag;

// Parsers return nullptr on success, otherwise the failure message.
using Failure = const char*;

Failure parseIcons(ByteReader body, KillData& data) {
    if (body.remaining() < 4)
        return "damaged kill-feed data section";
    const std::uint32_t count = body.u32();
    if (count > kMaxIcons)
        return "damaged kill-feed icons";
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t nameLength = body.u8();
        if (nameLength > body.remaining())
            return "damaged kill-feed data section";
        KillIcon icon;
        icon.name.assign(reinterpret_cast<const char*>(body.here()), nameLength);
        body.skip(nameLength);
        const std::uint32_t width = body.u16();
        if (body.remaining() < 2 || !body.ok())
            return "damaged kill-feed icon";
        const std::uint32_t height = body.u16();
        if (width == 0 || height == 0 || width > kMaxIconSide || height > kMaxIconSide)
            return "damaged kill-feed icon";
        const std::size_t n = static_cast<std::size_t>(width) * height;
        if (n > body.remaining())
            return "damaged kill-feed data section";
        const std::uint8_t* bytes = body.here();
        body.skip(n);
        icon.key = iconKey(icon.name);
        icon.width = width;
        icon.height = height;
        icon.pixels.resize(n);
        std::size_t inked = 0;
        for (std::size_t k = 0; k < n; ++k) {
            icon.pixels[k] = static_cast<float>(bytes[k]) / 255.0f;
            if (bytes[k] >= 128)
                ++inked;
        }
        icon.ink = static_cast<float>(inked) / static_cast<float>(n);
        normalizeTemplate(icon.pixels);
        makeRowSums(icon);
        data.icons.push_back(std::move(icon));
    }
    return nullptr;
}

// Bilinear resampling with pixel centres aligned; taps clamp to the edge.
void resample(const std::vector<float>& src, int sw, int sh, int tw, int th, std::vector<float>& out) {
    struct Tap {
        int lo;
        int hi;
        float f;
    };
    auto taps = [](int size, int target) {
        std::vector<Tap> t(static_cast<std::size_t>(target));
        for (int i = 0; i < target; ++i) {
            const float at =
                (static_cast<float>(i) + 0.5f) * static_cast<float>(size) / static_cast<float>(target) - 0.5f;
            int lo = static_cast<int>(std::floor(at));
            lo = std::clamp(lo, 0, size - 1);
            const int hi = std::min(lo + 1, size - 1);
            const float f = std::clamp(at - static_cast<float>(lo), 0.0f, 1.0f);
            t[static_cast<std::size_t>(i)] = Tap{lo, hi, f};
        }
        return t;
    };
    const std::vector<Tap> cols = taps(sw, tw);
    const std::vector<Tap> rows = taps(sh, th);
    out.resize(static_cast<std::size_t>(tw) * static_cast<std::size_t>(th));
    for (int y = 0; y < th; ++y) {
        const Tap& r = rows[static_cast<std::size_t>(y)];
        const float* a = src.data() + static_cast<std::size_t>(r.lo) * static_cast<std::size_t>(sw);
        const float* b = src.data() + static_cast<std::size_t>(r.hi) * static_cast<std::size_t>(sw);
        float* dst = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(tw);
        for (int x = 0; x < tw; ++x) {
            const Tap& c = cols[static_cast<std::size_t>(x)];
            const float top = (1.0f - c.f) * a[c.lo] + c.f * a[c.hi];
            const float bottom = (1.0f - c.f) * b[c.lo] + c.f * b[c.hi];
            dst[x] = (1.0f - r.f) * top + r.f * bottom;
        }
    }
}

// The stored header of a DOWN section, still in the file's bytes.
struct StoredHeader {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    float relativeWidth = 0.0f;
};

Failure parseDamageLog(ByteReader body, KillData& data, StoredHeader& stored) {
    const bool hasRelativeWidth = body.remaining() >= 4;
    const float relativeWidth = hasRelativeWidth ? body.f32() : 0.0f;
    data.damageLogWidth = relativeWidth;
    const std::uint32_t width = body.u16();
    const std::uint32_t height = body.u16();
    if (!hasRelativeWidth || !body.ok() || width == 0 || height == 0 || width > kMaxDamageLogWidth ||
        height > kMaxDamageLogHeight || !(relativeWidth > 0.0f && relativeWidth <= 1.0f))
        return "damaged damage-log template";
    const std::size_t n = static_cast<std::size_t>(width) * height;
    if (body.remaining() < n)
        return "truncated damage-log template";
    stored.pixels = body.here();
    stored.width = static_cast<int>(width);
    stored.height = static_cast<int>(height);
    stored.relativeWidth = relativeWidth;
    return nullptr;
}

// The header at every scale the reader tries. Built once, after the whole
// file has parsed: a header of a few bytes makes megabytes of variants, so
// a file of many DOWN sections must not make one pyramid each.
void buildDamageLog(const StoredHeader& stored, KillData& data) {
    const int sw = stored.width;
    const int sh = stored.height;
    std::vector<float> header(static_cast<std::size_t>(sw) * static_cast<std::size_t>(sh));
    for (std::size_t k = 0; k < header.size(); ++k)
        header[k] = static_cast<float>(stored.pixels[k]);

    const float base = stored.relativeWidth * static_cast<float>(kDamageLogRefHeight);
    for (float s = kFirstScale; s <= kLastScale; s *= kScaleStep) {
        const float nominal = s * base;
        const int vw = std::max(kMinVariantWidth, static_cast<int>(std::lround(nominal)));
        const long vh = std::lround(nominal * static_cast<float>(sh) / static_cast<float>(sw));
        if (vh < kMinVariantHeight || vh > kMaxVariantHeight)
            continue;
        DamageLogVariant v;
        v.width = vw;
        v.height = static_cast<int>(vh);
        v.scale = s;
        resample(header, sw, sh, v.width, v.height, v.pixels);
        detail::blurAndRemoveLocalMean(v.pixels, v.width, v.height);
        normalizeTemplate(v.pixels);
        data.damageLog.push_back(std::move(v));
    }
}

Failure parseDigits(ByteReader body, KillData& data) {
    const bool hasLength = body.remaining() >= 4;
    const std::uint32_t length = body.u32();
    const std::uint32_t keys = body.u32();
    if (!hasLength || length != kDigitTemplateLength || !body.ok() || keys > kMaxDigitKeys)
        return "damaged distance templates";
    data.digitLength = kDigitTemplateLength;
    data.digits.cellLength = kDigitTemplateLength;
    constexpr std::size_t kTemplateBytes = std::size_t{4} * kDigitTemplateLength;
    for (std::uint32_t k = 0; k < keys; ++k) {
        const auto key = static_cast<signed char>(body.u8());
        const std::uint32_t count = body.u32();
        if (!body.ok() || count > kMaxDigitTemplates)
            return "damaged distance templates";
        detail::TemplateList& list = data.digits.byChar[key];
        for (std::uint32_t t = 0; t < count; ++t) {
            if (body.remaining() < kTemplateBytes)
                return "damaged kill-feed data section";
            detail::Template values(kDigitTemplateLength);
            for (float& f : values)
                f = body.f32();
            // Stored normalised (zero-mean, unit length): no value beyond
            // [-1, 1], with a margin for the builder's rounding.
            for (float f : values)
                if (!(std::fabs(f) <= 1.0f + 1e-4f))
                    return "kill-feed data section DIGT holds a template value outside -1..1 or not a number";
            list.push_back(std::move(values));
        }
    }
    return nullptr;
}

std::shared_ptr<const KillData> failWith(std::string* error, const char* message) {
    if (error)
        *error = message;
    return {};
}

// --- writer ---

using detail::putF32;
using detail::putU16;
using detail::putU32;
using Section = detail::SectionWriter;

bool storable(const KillDataSource::Icon& icon) {
    return icon.name.size() <= 255 && icon.width >= 1 && icon.height >= 1 &&
           icon.width <= static_cast<int>(kMaxIconSide) && icon.height <= static_cast<int>(kMaxIconSide) &&
           icon.pixels.size() == static_cast<std::size_t>(icon.width) * static_cast<std::size_t>(icon.height);
}

std::uint32_t writeIcons(std::vector<std::uint8_t>& out, const KillDataSource& source) {
    std::vector<const KillDataSource::Icon*> icons;
    for (const auto& icon : source.icons)
        if (storable(icon))
            icons.push_back(&icon);
    std::uint32_t sections = 0;
    std::size_t next = 0;
    do {
        const std::size_t count = std::min<std::size_t>(kMaxIcons, icons.size() - next);
        Section s(out, kTagIcons);
        putU32(out, static_cast<std::uint32_t>(count));
        for (std::size_t i = next; i < next + count; ++i) {
            const KillDataSource::Icon& icon = *icons[i];
            out.push_back(static_cast<std::uint8_t>(icon.name.size()));
            out.insert(out.end(), icon.name.begin(), icon.name.end());
            putU16(out, static_cast<std::uint32_t>(icon.width));
            putU16(out, static_cast<std::uint32_t>(icon.height));
            out.insert(out.end(), icon.pixels.begin(), icon.pixels.end());
        }
        s.close();
        next += count;
        ++sections;
    } while (next < icons.size());
    return sections;
}

std::uint32_t writeDamageLog(std::vector<std::uint8_t>& out, const KillDataSource& source) {
    const int w = source.damageLogImageWidth;
    const int h = source.damageLogImageHeight;
    if (w < 1 || h < 1 || w > static_cast<int>(kMaxDamageLogWidth) ||
        h > static_cast<int>(kMaxDamageLogHeight) ||
        source.damageLogPixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
        return 0;
    Section s(out, kTagDamageLog);
    putF32(out, source.damageLogWidth);
    putU16(out, static_cast<std::uint32_t>(w));
    putU16(out, static_cast<std::uint32_t>(h));
    out.insert(out.end(), source.damageLogPixels.begin(), source.damageLogPixels.end());
    s.close();
    return 1;
}

// A key with more templates than one entry holds is repeated (the reader
// appends), and entries beyond one section's key limit open another section.
std::uint32_t writeDigits(std::vector<std::uint8_t>& out, const KillDataSource& source) {
    struct Entry {
        char key;
        std::vector<const std::vector<float>*> list;
    };
    std::vector<Entry> entries;
    for (const auto& [key, list] : source.digits) {
        std::vector<const std::vector<float>*> usable;
        for (const auto& t : list)
            if (t.size() == kDigitTemplateLength)
                usable.push_back(&t);
        std::size_t i = 0;
        do {
            Entry e{key, {}};
            for (; i < usable.size() && e.list.size() < kMaxDigitTemplates; ++i)
                e.list.push_back(usable[i]);
            entries.push_back(std::move(e));
        } while (i < usable.size());
    }
    if (entries.empty())
        return 0;
    std::uint32_t sections = 0;
    for (std::size_t next = 0; next < entries.size(); next += kMaxDigitKeys) {
        const std::size_t count = std::min<std::size_t>(kMaxDigitKeys, entries.size() - next);
        Section s(out, kTagDistanceDigits);
        putU32(out, kDigitTemplateLength);
        putU32(out, static_cast<std::uint32_t>(count));
        for (std::size_t e = next; e < next + count; ++e) {
            out.push_back(static_cast<std::uint8_t>(entries[e].key));
            putU32(out, static_cast<std::uint32_t>(entries[e].list.size()));
            for (const std::vector<float>* t : entries[e].list)
                for (float f : *t)
                    putF32(out, f);
        }
        s.close();
        ++sections;
    }
    return sections;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string iconKey(std::string_view name) {
    std::string key(name);
    const std::size_t cut = key.rfind('_');
    if (cut != std::string::npos && cut + 1 < key.size() &&
        std::all_of(key.begin() + static_cast<std::ptrdiff_t>(cut) + 1, key.end(), isDigit))
        key.resize(cut);
    if (key == "skull_small")
        key = "skull";
    return key;
}

void normalizeTemplate(float* values, std::size_t n) {
    if (n == 0)
        return;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        sum += values[i];
    const double mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = static_cast<float>(values[i] - mean);
        squares += static_cast<double>(values[i]) * values[i];
    }
    const double scale = 1.0 / (std::sqrt(squares) + 1e-6);
    for (std::size_t i = 0; i < n; ++i)
        values[i] = static_cast<float>(values[i] * scale);
}

void normalizeTemplate(std::vector<float>& values) {
    normalizeTemplate(values.data(), values.size());
}

namespace detail {

void blurAndRemoveLocalMean(std::vector<float>& values, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (values.size() < w * h)
        return;
    // Kept per thread: the damage-log reader calls this on every pass.
    thread_local std::vector<float> rows;
    thread_local std::vector<double> sums;
    rows.resize(w * h);

    // Along rows; the first and last column stay as they are.
    for (std::size_t y = 0; y < h; ++y) {
        const float* src = values.data() + y * w;
        float* dst = rows.data() + y * w;
        dst[0] = src[0];
        for (std::size_t x = 1; x + 1 < w; ++x)
            dst[x] = kBlurSide * src[x - 1] + kBlurCentre * src[x] + kBlurSide * src[x + 1];
        dst[w - 1] = src[w - 1];
    }
    // Along columns, back into values; the first and last row come from the row
    // pass.
    std::copy_n(rows.begin(), w, values.begin());
    for (std::size_t y = 1; y + 1 < h; ++y) {
        const float* up = rows.data() + (y - 1) * w;
        const float* mid = rows.data() + y * w;
        const float* down = rows.data() + (y + 1) * w;
        float* dst = values.data() + y * w;
        for (std::size_t x = 0; x < w; ++x)
            dst[x] = kBlurSide * up[x] + kBlurCentre * mid[x] + kBlurSide * down[x];
    }
    if (h > 1)
        std::copy_n(rows.begin() + static_cast<std::ptrdiff_t>((h - 1) * w), w,
                    values.begin() + static_cast<std::ptrdiff_t>((h - 1) * w));

    // Integral image: sums[(y + 1) * (w + 1) + x + 1] covers rows <= y, columns
    // <= x.
    const std::size_t stride = w + 1;
    sums.assign(stride * (h + 1), 0.0);
    for (std::size_t y = 0; y < h; ++y) {
        double run = 0.0;
        const float* src = values.data() + y * w;
        const double* above = sums.data() + y * stride;
        double* dst = sums.data() + (y + 1) * stride;
        for (std::size_t x = 0; x < w; ++x) {
            run += src[x];
            dst[x + 1] = above[x + 1] + run;
        }
    }
    for (int y = 0; y < height; ++y) {
        const auto r0 = static_cast<std::size_t>(std::max(y - kLocalMeanRadius, 0));
        const auto r1 = static_cast<std::size_t>(std::min(y + kLocalMeanRadius + 1, height));
        const double* top = sums.data() + r0 * stride;
        const double* bottom = sums.data() + r1 * stride;
        float* dst = values.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < width; ++x) {
            const auto c0 = static_cast<std::size_t>(std::max(x - kLocalMeanRadius, 0));
            const auto c1 = static_cast<std::size_t>(std::min(x + kLocalMeanRadius + 1, width));
            const double total = bottom[c1] - top[c1] - bottom[c0] + top[c0];
            const double mean = total / static_cast<double>((c1 - c0) * (r1 - r0));
            dst[x] = static_cast<float>(dst[x] - mean);
        }
    }
}

} // namespace detail

std::shared_ptr<const KillData> parseKillData(const std::uint8_t* bytes, std::size_t size,
                                              std::string* error) {
    ByteReader file(bytes, size);
    std::uint32_t sections = 0;
    switch (detail::readFileStart(file, kKillDataMagic, kKillDataVersion, sections)) {
    case detail::FileStart::NotThisFile:
        return failWith(error, "not a kill-feed data file");
    case detail::FileStart::OtherVersion:
        return failWith(error, "unsupported kill-feed data version");
    case detail::FileStart::Ok:
        break;
    }

    auto data = std::make_shared<KillData>();
    StoredHeader header;
    const detail::Seal seal(bytes, size);
    bool checked = false;
    for (std::uint32_t s = 0; s < sections; ++s) {
        detail::Section section;
        if (!detail::nextSection(file, section))
            return failWith(error, "truncated kill-feed data");
        const char* tag = section.tag;
        const ByteReader& body = section.payload;

        Failure failure = nullptr;
        if (sameTag(tag, kTagIcons))
            failure = parseIcons(body, *data);
        else if (sameTag(tag, kTagDamageLog))
            failure = parseDamageLog(body, *data, header);
        else if (sameTag(tag, kTagDistanceDigits))
            failure = parseDigits(body, *data);
        else if (sameTag(tag, detail::kTagChecksum)) {
            if (!seal.matches(section.offset, section.length))
                failure = "kill-feed data checksum does not match";
            checked = true;
        }
        if (failure)
            return failWith(error, failure);
    }
    // A file that ends in a checksum section was sealed by its builder; a
    // changed section count or tag must not let it load unchecked.
    if (seal.sealed() && !checked)
        return failWith(error, "kill-feed data checksum does not match");
    if (data->icons.empty())
        return failWith(error, "kill-feed data has no icons");
    if (header.pixels)
        buildDamageLog(header, *data);
    if (data->damageLog.empty())
        return failWith(error, "kill-feed data has no damage-log header");
    makeDigitBounds(*data);
    return data;
}

void makeRowSums(KillIcon& icon) {
    const std::size_t w = icon.width;
    const std::size_t h = icon.height;
    icon.rowSums.clear();
    icon.topSums.clear();
    if (w == 0 || h == 0 || icon.pixels.size() < w * h)
        return;
    icon.rowSums.resize(w * h);
    for (std::size_t r = 0; r < h; ++r) {
        const float* row = icon.pixels.data() + r * w;
        float* out = icon.rowSums.data() + r * w;
        double run = 0.0;
        for (std::size_t k = 1; k <= w; ++k) {
            run += static_cast<double>(row[k - 1]);
            out[w - k] = static_cast<float>(run);
        }
    }
    std::vector<float> sorted(icon.pixels.begin(), icon.pixels.begin() + static_cast<std::ptrdiff_t>(w * h));
    std::sort(sorted.begin(), sorted.end(), [](float a, float b) { return a > b; });
    icon.topSums.assign(w * h + 1, 0.0);
    for (std::size_t k = 0; k < w * h; ++k)
        icon.topSums[k + 1] = icon.topSums[k] + static_cast<double>(sorted[k]);
}

void makeDigitBounds(KillData& data) {
    data.digitBounds.clear();
    if (data.digits.cellLength != static_cast<std::uint32_t>(kGlyphCellLength))
        return;
    for (const auto& [key, list] : data.digits.byChar) {
        DigitBounds made;
        made.key = key;
        made.count = list.size();
        made.sums.assign(list.size() * kDigitCoarseLength, 0.0f);
        made.rest.assign(list.size(), 0.0f);
        for (std::size_t t = 0; t < list.size(); ++t) {
            if (list[t].size() < static_cast<std::size_t>(kGlyphCellLength)) {
                data.digitBounds.clear(); // no bounds at all: every template is scored
                return;
            }
            made.rest[t] = coarsenCell(list[t].data(), kGlyphCellSide, kGlyphCellSide,
                                       made.sums.data() + t * kDigitCoarseLength);
        }
        data.digitBounds.push_back(std::move(made));
    }
}

std::shared_ptr<const KillData> loadKillData(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!detail::readWholeFile(path, bytes))
        return failWith(error, ("cannot open " + path).c_str());
    return parseKillData(bytes.data(), bytes.size(), error);
}

std::vector<std::uint8_t> serializeKillData(const KillDataSource& source) {
    std::vector<std::uint8_t> out;
    const std::size_t countAt = detail::putFileStart(out, kKillDataMagic, kKillDataVersion);
    std::uint32_t sections = 0;
    sections += writeIcons(out, source);
    sections += writeDamageLog(out, source);
    sections += writeDigits(out, source);
    detail::patchU32(out, countAt, sections);
    detail::appendChecksum(out);
    return out;
}

} // namespace hud
