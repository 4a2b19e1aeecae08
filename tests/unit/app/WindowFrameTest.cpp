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
