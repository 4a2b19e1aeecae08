#include <gtest/gtest.h>

#include "app/WindowFrame.h"

TEST(WindowFrame, TakesEightyFivePercentCappedAndCentred) {
    struct Case {
        std::optional<platform::Rect> visible;
        platform::Rect expected;
    };
    const Case cases[] = {
        {platform::Rect{0, 0, 1280, 850}, {96, 63.75, 1088, 722.5}},
        {std::nullopt, {96, 63.75, 1088, 722.5}},                     // no screen: the fallback frame
        {platform::Rect{0, 0, 2560, 1415}, {680, 307.5, 1200, 800}},  // both caps
        {platform::Rect{0, 0, 900, 560}, {67.5, 42, 765, 476}},       // below the minimum size
        {platform::Rect{1920, 30, 1280, 850}, {2016, 93.75, 1088, 722.5}},  // offset by the frame's origin
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowFrame::contentRect(c.visible), c.expected)
            << "visible " << (c.visible ? c.visible->width : -1) << "x" << (c.visible ? c.visible->height : -1);
    }
}

TEST(WindowFrame, RestoresTheStoredFrameWithinTheMinimumAndTheScreen) {
    const platform::Rect screen{0, 0, 1280, 850};
    struct Case {
        std::optional<std::string> stored;
        platform::Rect expected;
    };
    const Case cases[] = {
        {"40 30 900 600", {40, 30, 900, 600}},
        {" 40 30 900 600 ", {40, 30, 900, 600}},
        {"40 30 300 200", {40, 30, 800, 500}},        // grown to the minimum size
        {"0 0 3000 2000", {0, 0, 1280, 850}},         // shrunk to the screen
        {"5000 4000 900 600", {190, 125, 900, 600}},  // off every screen: centred
        {"-100 -20 900 600", {-100, -20, 900, 600}},  // partly off the screen stays
        {std::nullopt, WindowFrame::contentRect(screen)},
        {"", WindowFrame::contentRect(screen)},
        {"40 30 900", WindowFrame::contentRect(screen)},
        {"40 30 900 600 7", WindowFrame::contentRect(screen)},
        {"a b c d", WindowFrame::contentRect(screen)},
        {"nan 0 900 600", WindowFrame::contentRect(screen)},
    };
    for (const auto& c : cases) {
        const auto restored = WindowFrame::restoredRect(c.stored, screen);
        EXPECT_EQ(restored, c.expected) << "stored \"" << c.stored.value_or("(none)") << "\" gave " << restored.x << " "
                                        << restored.y << " " << restored.width << " " << restored.height;
    }
    EXPECT_EQ(WindowFrame::settingText({40.4, -30.6, 900, 600}), "40 -31 900 600");
    EXPECT_EQ(WindowFrame::restoredRect(WindowFrame::settingText({40, 30, 900, 600}), screen),
              (platform::Rect{40, 30, 900, 600}));
}
