#include "engine/output_naming.h"
#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using engine::InsertBeforeExtension;
using engine::MethodSuffix;

TEST(OutputNaming, SuffixPerMethodAndStrength)
{
    EXPECT_EQ(InsertBeforeExtension("IMG_0001.DNG", MethodSuffix(0, 0, 7, 19)), "IMG_0001-M.DNG");
    EXPECT_EQ(InsertBeforeExtension("photo.dng", MethodSuffix(1, 1, 9, 19)), "photo-M-RAW-R50.dng");
    EXPECT_EQ(InsertBeforeExtension("photo.dng", MethodSuffix(1, 1, 0, 19)), "photo-M-RAW-R5.dng");
    EXPECT_EQ(InsertBeforeExtension("photo.dng", MethodSuffix(1, 1, 19, 19)), "photo-M-RAW-R100.dng");
    EXPECT_EQ(MethodSuffix(2, 2, 18, 19), "-M-RAW-B95");
    EXPECT_EQ(MethodSuffix(3, 3, 1, 19), "-M-RGB-R10");
    EXPECT_EQ(InsertBeforeExtension("photo.dng", MethodSuffix(4, 4, 4, 19)), "photo-M-RGB-G25.dng");
    EXPECT_EQ(MethodSuffix(5, 5, 19, 19), "-M-RGB-B100");
}

TEST(OutputNaming, ExtensionAndPlugInCounter)
{
    EXPECT_TRUE(engine::HasDngExtension("a.DnG"));
    EXPECT_FALSE(engine::HasDngExtension("a.tif"));
    EXPECT_FALSE(engine::HasDngExtension("dng"));
    const std::set<std::string> existing{"/p/x-M.dng", "/p/x-M-2.dng"};
    auto exists = [&](const std::string& n) { return existing.count(n) > 0; };
    EXPECT_EQ(engine::FirstFreeName("/p/x-M.dng", exists), "/p/x-M-3.dng");
    EXPECT_EQ(engine::FirstFreeName("/p/y-M.dng", exists), "/p/y-M.dng");
}

TEST(Uuid, VersionFourTextForm)
{
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string u = platform::NewUuidText();
        ASSERT_EQ(u.size(), 36u);
        for (size_t k = 0; k < u.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23)
                EXPECT_EQ(u[k], '-');
            else
                EXPECT_TRUE((u[k] >= '0' && u[k] <= '9') || (u[k] >= 'a' && u[k] <= 'f')) << u;
        }
        EXPECT_EQ(u[14], '4');
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 50u);
}

} // namespace
