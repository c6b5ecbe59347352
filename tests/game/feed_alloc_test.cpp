// Heap allocations of the kill-feed reader over a steady stream of frames.
// The reader runs several times a second for hours; once its buffers have
// grown to the feed's size, a pass should allocate only what it hands back
// (the rows' signatures, trace texts and figure ranges). This executable
// replaces the global allocation functions to count them, so it holds only
// this test.

#include "footage_fixture.h"

#include "hud/feed/feed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

class FeedAllocations : public FootageTest {
protected:
    static long countPass(const hud::FrameView& v, hud::FeedRead& read);
};

// What one row brings back on the heap at most: its signature, its trace
// text, its figure ranges (icon keys fit the string's own storage).
constexpr long kPerRow = 3;
// The row list itself.
constexpr long kPerPass = 1;

long FeedAllocations::countPass(const hud::FrameView& v, hud::FeedRead& read) {
    allocations = 0;
    counting = true;
    read = hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
    counting = false;
    return allocations.load();
}

TEST_F(FeedAllocations, SteadyStreamAllocatesOnlyTheRows) {
    // Clean and blurred frames of the same seven rows, the blurred one
    // sending rows down the second looks (the narrower name gap, the name
    // run), taken in turn as a stream whose quality changes would.
    const char* names[] = {"VIPER_07", "NORDWIND", "KESTREL", "AXO", "B4SILISK", "MORROW_X", "TALLGRASS"};
    synth::FrameContent look;
    look.width = 3840;
    look.height = 2160;
    look.sceneSeed = 7;
    look.degradation.jpegQuality = 85;
    synth::KillFeed feed;
    for (int i = 0; i < 7; ++i) {
        synth::FeedRowContent row =
            feedRow(names[i], synth::FeedWho::Enemy, names[(i + 3) % 7], synth::FeedWho::Enemy,
                    synth::iconNames()[static_cast<std::size_t>(i) % synth::iconNames().size()].c_str(),
                    i == 5 ? -1 : 7 + 113 * i, i % 3 == 0);
        if (i == 1)
            row.killerWho = synth::FeedWho::Me;
        if (i == 4)
            row.victimWho = synth::FeedWho::Me;
        feed.rows.push_back(row);
    }
    look.feed = feed;
    synth::FrameContent blurred = look;
    blurred.degradation.jpegQuality = 50;
    blurred.degradation.blurSigma = 1.6;
    const QImage clean = synth::captureFeedRegion(synth::renderFrame(look));
    const QImage soft = synth::captureFeedRegion(synth::renderFrame(blurred));
    const hud::FrameView views[2] = {synth::frameView(clean), synth::frameView(soft)};

    hud::FeedRead read;
    // The first passes size the buffers.
    for (int k = 0; k < 4; ++k)
        countPass(views[k % 2], read);
    for (int k = 0; k < 6; ++k) {
        const long n = countPass(views[k % 2], read);
        ASSERT_GE(read.rows.size(), 5u) << read.note;
        EXPECT_LE(n, kPerPass + kPerRow * static_cast<long>(read.rows.size()))
            << (k % 2 ? "blurred" : "clean") << " pass " << k;
    }
}

} // namespace
