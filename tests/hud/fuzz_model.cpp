// Any byte string either loads or fails with a message. A model that loads
// survives a write and a second read: every template of its set's cell length
// comes back (a later section may have changed a set's cell length, and
// templates of the old length cannot be written).
#include "hud/core/model.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool sameStorable(const hud::detail::Templates& original, const hud::detail::Templates& back) {
    if (original.cellLength != back.cellLength)
        return original.cellLength == 0 && back.cellLength == 0;
    for (const auto& [ch, list] : original.byChar) {
        hud::detail::TemplateList storable;
        for (const auto& t : list)
            if (t.size() == original.cellLength)
                storable.push_back(t);
        const auto* again = back.find(static_cast<char>(ch));
        if (!again || again->size() != storable.size())
            return false;
        // Bitwise, so that NaN payloads compare equal to themselves.
        for (std::size_t i = 0; i < storable.size(); ++i)
            if (std::memcmp((*again)[i].data(), storable[i].data(), storable[i].size() * sizeof(float)) != 0)
                return false;
    }
    return original.byChar.size() == back.byChar.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto model = hud::parseModel(data, size, &error);
    if (!model) {
        if (error.empty())
            std::abort();
        return 0;
    }
    const auto bytes = hud::serializeModel(*model);
    const auto again = hud::parseModel(bytes.data(), bytes.size(), &error);
    if (!again || !sameStorable(model->money, again->money) ||
        !sameStorable(model->figures, again->figures) || !sameStorable(model->glyphs, again->glyphs) ||
        again->moneyPairs.size() != model->moneyPairs.size())
        std::abort();
    return 0;
}
