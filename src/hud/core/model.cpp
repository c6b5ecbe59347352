#include "hud/core/model.h"

#include "hud/core/checksum.h"
#include "hud/core/image.h"
#include "hud/core/sections.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hud {

namespace {

using detail::ByteReader;
using detail::sameTag;

enum class Parsed { Ok, Damaged, BadValue };

// A stored template is zero-mean and of unit length, so no value of it can
// lie outside [-1, 1]; the margin allows for the rounding of the builder.
bool normalisedValues(const float* values, std::size_t n) {
    constexpr float kLimit = 1.0f + 1e-4f;
    for (std::size_t i = 0; i < n; ++i)
        if (!(std::fabs(values[i]) <= kLimit)) // also false for NaN
            return false;
    return true;
}

bool finiteValues(const float* values, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

Parsed parseTemplates(ByteReader& c, detail::Templates& set) {
    const std::uint32_t cellLength = c.u32();
    set.cellLength = cellLength;
    const std::uint32_t entries = c.u32();
    if (!c.ok())
        return Parsed::Damaged;
    if (cellLength == 0 || cellLength > kMaxCellLength || entries > kMaxEntries)
        return Parsed::Damaged;
    const std::size_t bytesPerTemplate = std::size_t{4} * cellLength;
    for (std::uint32_t e = 0; e < entries; ++e) {
        const signed char ch = c.i8();
        const std::uint32_t count = c.u32();
        if (!c.ok() || count > kMaxTemplatesPerChar)
            return Parsed::Damaged;
        detail::TemplateList& list = set.byChar[ch];
        for (std::uint32_t t = 0; t < count; ++t) {
            if (!c.has(bytesPerTemplate))
                return Parsed::Damaged;
            detail::Template tmpl(cellLength);
            c.floats(tmpl.data(), cellLength);
            if (!normalisedValues(tmpl.data(), tmpl.size()))
                return Parsed::BadValue;
            list.push_back(std::move(tmpl));
        }
    }
    return Parsed::Ok;
}

Parsed parsePairs(ByteReader& c, PairTable& table) {
    const std::uint32_t weightCount = c.u32();
    const std::uint32_t pairs = c.u32();
    if (!c.ok())
        return Parsed::Damaged;
    if (weightCount == 0 || weightCount > kMaxCellLength || pairs > kMaxPairs)
        return Parsed::Damaged;
    const std::size_t bytesPerPair = std::size_t{4} * weightCount;
    for (std::uint32_t p = 0; p < pairs; ++p) {
        const signed char first = c.i8();
        const signed char second = c.i8();
        const float bias = c.f32();
        if (!c.ok() || !c.has(bytesPerPair))
            return Parsed::Damaged;
        PairParams& record = table[PairKey{first, second}];
        record.weights.assign(weightCount, 0.0f);
        c.floats(record.weights.data(), weightCount);
        record.bias = bias;
        if (!std::isfinite(bias) || !finiteValues(record.weights.data(), weightCount))
            return Parsed::BadValue;
    }
    return Parsed::Ok;
}

Parsed parsePhraseShapes(ByteReader& c, PhraseShapes& shapes) {
    const std::uint32_t bands = c.u32();
    const std::uint32_t perCap = c.u32();
    const std::uint32_t letters = c.u32();
    if (!c.ok() || bands == 0 || bands > kMaxShapeBands || perCap == 0 || perCap > kMaxShapeColumns ||
        letters > kMaxEntries)
        return Parsed::Damaged;
    shapes.bands = bands;
    shapes.columnsPerCap = perCap;
    for (std::uint32_t l = 0; l < letters; ++l) {
        const signed char ch = c.i8();
        const std::uint32_t columns = c.u32();
        if (!c.ok() || columns == 0 || columns > kMaxShapeColumns || !c.has(std::size_t{4} * columns * bands))
            return Parsed::Damaged;
        LetterShape& shape = shapes.letters[ch];
        shape.columns = columns;
        shape.ink.assign(std::size_t{columns} * bands, 0.0f);
        c.floats(shape.ink.data(), shape.ink.size());
        for (float v : shape.ink)
            if (!(v >= 0.0f && v <= 1.0f))
                return Parsed::BadValue;
    }
    const std::uint32_t phrases = c.u32();
    if (!c.ok() || phrases > kMaxEntries)
        return Parsed::Damaged;
    for (std::uint32_t p = 0; p < phrases; ++p) {
        const std::uint32_t length = c.u32();
        if (!c.ok() || length == 0 || length > kMaxShapeColumns || !c.has(length))
            return Parsed::Damaged;
        PhraseShape phrase;
        for (std::uint32_t i = 0; i < length; ++i)
            phrase.text.push_back(static_cast<char>(c.u8()));
        const auto inked = static_cast<std::size_t>(
            std::count_if(phrase.text.begin(), phrase.text.end(), [](char ch) { return ch != ' '; }));
        if (!c.has(4 * inked))
            return Parsed::Damaged;
        phrase.letterLeft.assign(inked, 0.0f);
        c.floats(phrase.letterLeft.data(), inked);
        for (float v : phrase.letterLeft)
            if (!(v >= 0.0f && v <= static_cast<float>(kMaxShapeColumns)))
                return Parsed::BadValue;
        shapes.phrases.push_back(std::move(phrase));
    }
    return Parsed::Ok;
}

Parsed parseFigureGlyphs(ByteReader& c, FigureGlyphs& glyphs) {
    const std::uint32_t perCap = c.u32();
    const std::uint32_t count = c.u32();
    if (!c.ok() || perCap == 0 || perCap > kMaxGlyphPixelsPerCap || count > kMaxEntries)
        return Parsed::Damaged;
    glyphs.pixelsPerCap = perCap;
    constexpr auto kLimit = static_cast<float>(kMaxGlyphCaps);
    const std::uint32_t maxSide = kMaxGlyphPixelsPerCap * kMaxGlyphCaps;
    for (std::uint32_t g = 0; g < count; ++g) {
        const signed char ch = c.i8();
        FigureGlyph glyph;
        glyph.inkWidth = c.f32();
        glyph.originX = c.f32();
        glyph.originY = c.f32();
        glyph.columns = c.u32();
        glyph.rows = c.u32();
        if (!c.ok() || glyph.columns == 0 || glyph.columns > maxSide || glyph.rows == 0 ||
            glyph.rows > maxSide)
            return Parsed::Damaged;
        const std::size_t n = std::size_t{glyph.columns} * glyph.rows;
        if (!c.has(4 * n))
            return Parsed::Damaged;
        glyph.coverage.assign(n, 0.0f);
        c.floats(glyph.coverage.data(), n);
        if (!(glyph.inkWidth >= 0.0f && glyph.inkWidth <= kLimit) || !(std::fabs(glyph.originX) <= kLimit) ||
            !(std::fabs(glyph.originY) <= kLimit))
            return Parsed::BadValue;
        for (float v : glyph.coverage)
            if (!(v >= 0.0f && v <= 1.0f))
                return Parsed::BadValue;
        glyphs.byChar[ch] = std::move(glyph);
    }
    return Parsed::Ok;
}

std::shared_ptr<const Model> failWith(std::string* error, const char* message) {
    if (error)
        *error = message;
    return {};
}

// --- writer ---

using detail::putF32;
using detail::putU32;
using Section = detail::SectionWriter;

// Writes a template set, split into as many sections as the per-section limits
// need (a repeated character appends, so splitting loses nothing). Templates
// whose length differs from the set's cell length cannot be stored and are left out.
std::uint32_t writeTemplates(std::vector<std::uint8_t>& out, const char (&tag)[4],
                             const detail::Templates& set) {
    if (set.cellLength == 0 || set.cellLength > kMaxCellLength)
        return 0;
    struct Entry {
        signed char ch;
        std::vector<const detail::Template*> list;
    };
    std::vector<Entry> entries;
    for (const auto& [ch, list] : set.byChar) {
        std::vector<const detail::Template*> usable;
        for (const auto& t : list)
            if (t.size() == set.cellLength)
                usable.push_back(&t);
        std::size_t i = 0;
        do {
            Entry e{ch, {}};
            for (; i < usable.size() && e.list.size() < kMaxTemplatesPerChar; ++i)
                e.list.push_back(usable[i]);
            entries.push_back(std::move(e));
        } while (i < usable.size());
    }
    std::uint32_t sections = 0;
    std::size_t next = 0;
    do {
        Section s(out, tag);
        putU32(out, set.cellLength);
        const std::size_t count = std::min<std::size_t>(kMaxEntries, entries.size() - next);
        putU32(out, static_cast<std::uint32_t>(count));
        for (std::size_t e = next; e < next + count; ++e) {
            out.push_back(static_cast<std::uint8_t>(entries[e].ch));
            putU32(out, static_cast<std::uint32_t>(entries[e].list.size()));
            for (const detail::Template* t : entries[e].list)
                for (float f : *t)
                    putF32(out, f);
        }
        next += count;
        s.close();
        ++sections;
    } while (next < entries.size());
    return sections;
}

// Pair records of one weight count share a section; records of another count
// go into sections of their own.
std::uint32_t writePairs(std::vector<std::uint8_t>& out, const char (&tag)[4], const PairTable& table) {
    std::map<std::size_t, std::vector<const PairTable::value_type*>> byLength;
    for (const auto& record : table)
        if (!record.second.weights.empty() && record.second.weights.size() <= kMaxCellLength)
            byLength[record.second.weights.size()].push_back(&record);
    std::uint32_t sections = 0;
    for (const auto& [length, records] : byLength) {
        for (std::size_t next = 0; next < records.size(); next += kMaxPairs) {
            const std::size_t count = std::min<std::size_t>(kMaxPairs, records.size() - next);
            Section s(out, tag);
            putU32(out, static_cast<std::uint32_t>(length));
            putU32(out, static_cast<std::uint32_t>(count));
            for (std::size_t i = next; i < next + count; ++i) {
                const auto& [key, params] = *records[i];
                out.push_back(static_cast<std::uint8_t>(key.first));
                out.push_back(static_cast<std::uint8_t>(key.second));
                putF32(out, params.bias);
                for (float w : params.weights)
                    putF32(out, w);
            }
            s.close();
            ++sections;
        }
    }
    return sections;
}

void writePhraseShapes(std::vector<std::uint8_t>& out, std::uint32_t& sections, const PhraseShapes& shapes) {
    if (shapes.bands == 0 || shapes.bands > kMaxShapeBands || shapes.columnsPerCap == 0 ||
        shapes.columnsPerCap > kMaxShapeColumns || shapes.letters.size() > kMaxEntries ||
        shapes.phrases.size() > kMaxEntries)
        return;
    Section s(out, kTagPhraseShapes);
    putU32(out, shapes.bands);
    putU32(out, shapes.columnsPerCap);
    putU32(out, static_cast<std::uint32_t>(shapes.letters.size()));
    for (const auto& [ch, shape] : shapes.letters) {
        out.push_back(static_cast<std::uint8_t>(ch));
        putU32(out, shape.columns);
        for (float v : shape.ink)
            putF32(out, v);
    }
    putU32(out, static_cast<std::uint32_t>(shapes.phrases.size()));
    for (const PhraseShape& p : shapes.phrases) {
        putU32(out, static_cast<std::uint32_t>(p.text.size()));
        for (char ch : p.text)
            out.push_back(static_cast<std::uint8_t>(ch));
        for (float v : p.letterLeft)
            putF32(out, v);
    }
    s.close();
    ++sections;
}

void writeFigureGlyphs(std::vector<std::uint8_t>& out, std::uint32_t& sections, const FigureGlyphs& glyphs) {
    if (glyphs.pixelsPerCap == 0 || glyphs.pixelsPerCap > kMaxGlyphPixelsPerCap ||
        glyphs.byChar.size() > kMaxEntries)
        return;
    Section s(out, kTagFigureGlyphs);
    putU32(out, glyphs.pixelsPerCap);
    putU32(out, static_cast<std::uint32_t>(glyphs.byChar.size()));
    for (const auto& [ch, glyph] : glyphs.byChar) {
        out.push_back(static_cast<std::uint8_t>(ch));
        putF32(out, glyph.inkWidth);
        putF32(out, glyph.originX);
        putF32(out, glyph.originY);
        putU32(out, glyph.columns);
        putU32(out, glyph.rows);
        for (float v : glyph.coverage)
            putF32(out, v);
    }
    s.close();
    ++sections;
}

} // namespace

namespace detail {

bool CoarseList::stillFor(const TemplateList& templates) const {
    if (list != &templates || storage.size() != templates.size())
        return false;
    for (std::size_t t = 0; t < templates.size(); ++t)
        if (storage[t] != templates[t].data() || sizes[t] != templates[t].size())
            return false;
    return true;
}

const CoarseList* CoarseTemplates::find(const Templates& set, const TemplateList* templates) const {
    if (!templates || owner != &set)
        return nullptr;
    for (const CoarseList& c : lists)
        if (c.list == templates)
            return c.stillFor(*templates) ? &c : nullptr;
    return nullptr;
}

} // namespace detail

namespace {

// The coarse forms of a set whose cells have a known shape.
void makeCoarse(detail::Templates& set) {
    int columns = 0;
    int rows = 0;
    if (set.cellLength == static_cast<std::uint32_t>(kMoneyCellLength)) {
        columns = kMoneyCellColumns;
        rows = kMoneyCellRows;
    } else if (set.cellLength == static_cast<std::uint32_t>(kGlyphCellLength)) {
        columns = kGlyphCellSide;
        rows = kGlyphCellSide;
    } else {
        return;
    }
    auto coarse = std::make_shared<detail::CoarseTemplates>();
    coarse->owner = &set;
    coarse->coarseLength = static_cast<std::size_t>(columns / 2) * static_cast<std::size_t>(rows / 2);
    for (const auto& [c, list] : set.byChar) {
        detail::CoarseList made;
        made.list = &list;
        made.sums.assign(list.size() * coarse->coarseLength, 0.0f);
        made.rest.assign(list.size(), -1.0f);
        for (std::size_t t = 0; t < list.size(); ++t) {
            made.storage.push_back(list[t].data());
            made.sizes.push_back(list[t].size());
            if (list[t].size() >= set.cellLength)
                made.rest[t] =
                    coarsenCell(list[t].data(), columns, rows, made.sums.data() + t * coarse->coarseLength);
        }
        // The money lists' 4 x 4 forms are made once here rather than by
        // every search that bounds with them.
        if (columns == kMoneyCellColumns && rows == kMoneyCellRows && !list.empty())
            made.roughStride = roughenMoneyTemplates(made.sums.data(), made.rest.data(), made.rest.size(),
                                                     made.roughByValue, made.roughRest);
        coarse->lists.push_back(std::move(made));
    }
    set.coarse = std::move(coarse);
}

} // namespace

detail::Templates joinTemplates(const detail::Templates& base, const detail::Templates& extra) {
    detail::Templates joined;
    if (extra.byChar.empty() || extra.cellLength != base.cellLength)
        return joined;
    joined.cellLength = base.cellLength;
    joined.byChar = base.byChar;
    for (const auto& [c, list] : extra.byChar) {
        detail::TemplateList& to = joined.byChar[c];
        to.insert(to.end(), list.begin(), list.end());
    }
    return joined;
}

std::shared_ptr<const Model> parseModel(const std::uint8_t* data, std::size_t length, std::string* error) {
    ByteReader c(data, length);
    std::uint32_t sections = 0;
    switch (detail::readFileStart(c, kModelMagic, kModelVersion, sections)) {
    case detail::FileStart::NotThisFile:
        return failWith(error, "not a HUD model file");
    case detail::FileStart::OtherVersion:
        return failWith(error, "unsupported HUD model version");
    case detail::FileStart::Ok:
        break;
    }

    auto model = std::make_shared<Model>();
    const detail::Seal seal(data, length);
    bool checked = false;
    for (std::uint32_t s = 0; s < sections; ++s) {
        detail::Section section;
        if (!detail::nextSection(c, section))
            return failWith(error, "truncated HUD model");
        const char* tag = section.tag;
        ByteReader& payload = section.payload;

        Parsed parsed = Parsed::Ok;
        if (sameTag(tag, kTagMoneyCells))
            parsed = parseTemplates(payload, model->money);
        else if (sameTag(tag, kTagFigureCells))
            parsed = parseTemplates(payload, model->figures);
        else if (sameTag(tag, kTagGlyphCells))
            parsed = parseTemplates(payload, model->glyphs);
        else if (sameTag(tag, kTagMoneyPairs))
            parsed = parsePairs(payload, model->moneyPairs);
        else if (sameTag(tag, kTagFigurePairs))
            parsed = parsePairs(payload, model->figurePairs);
        else if (sameTag(tag, kTagPhraseShapes))
            parsed = parsePhraseShapes(payload, model->phraseShapes);
        else if (sameTag(tag, kTagMoneySettlers))
            parsed = parsePairs(payload, model->moneySettlers);
        else if (sameTag(tag, kTagFigureSettlers))
            parsed = parsePairs(payload, model->figureSettlers);
        else if (sameTag(tag, kTagMoneySoft))
            parsed = parseTemplates(payload, model->moneySoft);
        else if (sameTag(tag, kTagFigureSoft))
            parsed = parseTemplates(payload, model->figureSoft);
        else if (sameTag(tag, kTagFigureGlyphs))
            parsed = parseFigureGlyphs(payload, model->figureGlyphs);
        else if (sameTag(tag, detail::kTagChecksum)) {
            if (!seal.matches(section.offset, section.length))
                return failWith(error, "HUD model checksum does not match");
            checked = true;
        }
        if (parsed == Parsed::Damaged)
            return failWith(error, "damaged HUD model section");
        if (parsed == Parsed::BadValue) {
            const std::string what =
                "HUD model section " + std::string(tag, 4) +
                (sameTag(tag, kTagMoneyPairs) || sameTag(tag, kTagFigurePairs) ||
                         sameTag(tag, kTagMoneySettlers) || sameTag(tag, kTagFigureSettlers)
                     ? " holds a weight that is not a finite number"
                 : sameTag(tag, kTagPhraseShapes)
                     ? " holds an ink share outside 0..1 or a letter place out of range"
                 : sameTag(tag, kTagFigureGlyphs)
                     ? " holds a coverage outside 0..1 or a glyph place out of range"
                     : " holds a template value outside -1..1 or not a number");
            return failWith(error, what.c_str());
        }
    }
    // A file that ends in a checksum section was sealed by its builder; a
    // changed section count or tag must not let it load unchecked.
    if (seal.sealed() && !checked)
        return failWith(error, "HUD model checksum does not match");
    if (model->money.cellLength != static_cast<std::uint32_t>(kMoneyCellLength))
        return failWith(error, "HUD model has no money templates");
    for (const detail::Templates* soft : {&model->moneySoft, &model->figureSoft})
        if (soft->cellLength != 0 && soft->cellLength != static_cast<std::uint32_t>(kMoneyCellLength))
            return failWith(error, "HUD model soft digit templates of the wrong cell length");
    makeCoarse(model->money);
    makeCoarse(model->figures);
    makeCoarse(model->glyphs);
    model->moneyWithSoft = joinTemplates(model->money, model->moneySoft);
    model->figuresWithSoft = joinTemplates(model->figures, model->figureSoft);
    makeCoarse(model->moneyWithSoft);
    makeCoarse(model->figuresWithSoft);
    return model;
}

std::shared_ptr<const Model> loadModel(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!detail::readWholeFile(path, bytes))
        return failWith(error, ("cannot open " + path).c_str());
    return parseModel(bytes.data(), bytes.size(), error);
}

std::vector<std::uint8_t> serializeModel(const Model& model) {
    std::vector<std::uint8_t> out;
    const std::size_t countAt = detail::putFileStart(out, kModelMagic, kModelVersion);
    std::uint32_t sections = 0;
    sections += writeTemplates(out, kTagMoneyCells, model.money);
    sections += writeTemplates(out, kTagFigureCells, model.figures);
    sections += writeTemplates(out, kTagGlyphCells, model.glyphs);
    sections += writePairs(out, kTagMoneyPairs, model.moneyPairs);
    sections += writePairs(out, kTagFigurePairs, model.figurePairs);
    writePhraseShapes(out, sections, model.phraseShapes);
    sections += writePairs(out, kTagMoneySettlers, model.moneySettlers);
    sections += writePairs(out, kTagFigureSettlers, model.figureSettlers);
    sections += writeTemplates(out, kTagMoneySoft, model.moneySoft);
    sections += writeTemplates(out, kTagFigureSoft, model.figureSoft);
    writeFigureGlyphs(out, sections, model.figureGlyphs);
    detail::patchU32(out, countAt, sections);
    detail::appendChecksum(out);
    return out;
}

} // namespace hud
