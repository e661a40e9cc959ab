#include "dng/error.h"
#include "dng/image.h"

#include <gtest/gtest.h>

namespace {

TEST(Image, CloneIsDeepAndViewsShareStorage)
{
    dng::Image img(5, 3, 2, dng::PixelType::kUInt16);
    auto a = img.View16Of(1);
    auto b = img.View16Of(1);
    a.Row(2)[4] = 77;
    EXPECT_EQ(b.Row(2)[4], 77);
    EXPECT_EQ(img.Row16(0, 0)[0], 0);
    auto copy = img.Clone();
    a.Row(2)[4] = 1;
    EXPECT_EQ(copy->Row16(2, 1)[4], 77);
}

TEST(Image, RefusesImpossibleSizesAndWrongPixelType)
{
    EXPECT_THROW(dng::Image(0, 10, 1, dng::PixelType::kUInt16), dng::Error);
    EXPECT_THROW(dng::Image(65001, 10, 1, dng::PixelType::kUInt16), dng::Error);
    EXPECT_THROW(dng::Image(60000, 60000, 1, dng::PixelType::kUInt16), dng::Error);
    dng::Image img(4, 4, 1, dng::PixelType::kUInt8);
    EXPECT_THROW(img.View16Of(0), dng::Error);
    EXPECT_THROW(img.View8Of(1), dng::Error);
}

} // namespace
