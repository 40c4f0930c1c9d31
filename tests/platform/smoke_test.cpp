#include "platform/text.h"

#include <gtest/gtest.h>

TEST(TextBoundary, WaveDashIsMicrosofts) {
    EXPECT_EQ(wp::Cp932ToQString("\x81\x60").at(0).unicode(), 0xFF5E);
}
