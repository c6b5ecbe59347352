// Any byte string either loads or fails with a message. Data that loads is
// whole: every icon and header variant holds exactly its pixels, within the
// limits the readers rely on, and the damage-log reader can run on it.
#include "hud/feed/killdata.h"
#include "hud/plate/down.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool finite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

// A small grey area with a bright bar, so that the reader gets past its
// flat-area test somewhere.
const std::vector<std::uint8_t>& area(int width, int height) {
    static const std::vector<std::uint8_t> pixels = [width, height] {
        std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4,
                                    70);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if ((x / 3 + y / 4) % 3 == 0)
                    for (int c = 0; c < 3; ++c)
                        p[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x)) *
                              4 +
                          static_cast<std::size_t>(c)] = 230;
        return p;
    }();
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto killData = hud::parseKillData(data, size, &error);
    if (!killData) {
        check(!error.empty());
        return 0;
    }

    check(!killData->icons.empty());
    for (const hud::KillIcon& icon : killData->icons) {
        check(icon.width >= 1 && icon.width <= 512 && icon.height >= 1 && icon.height <= 512);
        check(icon.pixels.size() == static_cast<std::size_t>(icon.width) * icon.height);
        check(icon.name.size() <= 255);
        check(icon.key == hud::iconKey(icon.name));
        check(icon.ink >= 0.0f && icon.ink <= 1.0f);
        check(finite(icon.pixels));
    }

    check(!killData->damageLog.empty());
    check(killData->damageLogWidth > 0.0f && killData->damageLogWidth <= 1.0f);
    for (const hud::DamageLogVariant& v : killData->damageLog) {
        check(v.width >= 8 && v.height >= 10 && v.height <= 562);
        check(v.pixels.size() == static_cast<std::size_t>(v.width) * static_cast<std::size_t>(v.height));
        check(v.scale >= 0.8f && v.scale <= 1.26f);
        check(finite(v.pixels));
    }

    check(killData->digitLength == 0 || killData->digitLength == 1024);
    if (killData->digitLength == 0)
        check(killData->digits.byChar.empty());
    check(killData->digits.byChar.size() <= 256);
    for (const auto& entry : killData->digits.byChar)
        for (const auto& t : entry.second)
            check(t.size() == 1024);

    // The reader on the loaded header variants: a small area, both searches.
    constexpr int kWidth = 40;
    constexpr int kHeight = 24;
    hud::DownDetector detector;
    detector.killData = killData;
    const auto& pixels = area(kWidth, kHeight);
    for (bool fullScan : {true, false}) {
        const hud::DownRead r =
            hud::readDownScore(detector, pixels.data(), kWidth, kHeight, kWidth * 4, fullScan);
        check(r.score >= 0.0f && !std::isnan(r.score));
        check(detector.lockedVariant < static_cast<int>(killData->damageLog.size()));
    }
    return 0;
}
