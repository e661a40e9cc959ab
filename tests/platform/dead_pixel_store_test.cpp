// The per-body dead-pixel lists in the settings file: encoding, key numbering, limits, removal and
// serial numbers that must not reach the file.
#include "platform/dead_pixel_store.h"
#include "platform/ini_file.h"

#include "fixtures/temp_file.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using platform::DeadPixel;
using platform::DeadPixelStore;
using platform::IniFile;
using Pixels = std::vector<DeadPixel>;

struct TempIni : fixtures::TempFile {
    explicit TempIni(const std::string& text) : TempFile(std::vector<uint8_t>(text.begin(), text.end()), ".ini") {}
    std::string Text() const
    {
        std::ifstream in(Path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST(DeadPixelStore, PixelsRoundTripThroughTheFile)
{
    TempIni file("");
    IniFile ini(file.Path());
    DeadPixelStore store(ini);
    const Pixels pixels{{12, 3}, {5000, 9999}, {0, 0}, {1234, 567}};
    for (auto [x, y] : pixels)
        EXPECT_TRUE(store.Add("4711", "LEICA M (Typ 240)", x, y));
    EXPECT_EQ(file.Text(), "[4711]\n1=12.0003\n2=5000.9999\n3=0\n4=1234.0567\n"
                           "[dead pixels camera]\n4711=LEICA M (Typ 240)\n");
    IniFile again(file.Path());
    EXPECT_EQ(DeadPixelStore(again).Load("4711"), pixels);
    // Every row, through the shortest text the settings file writes.
    for (int32_t column : {0, 7, 65534, 2147483647})
        for (int32_t row = 0; row <= DeadPixelStore::kMaxRow; ++row) {
            char text[64];
            const auto end = std::to_chars(text, text + sizeof text, DeadPixelStore::Encode(column, row)).ptr;
            double read = 0.0;
            std::from_chars(text, end, read);
            DeadPixel p;
            ASSERT_TRUE(DeadPixelStore::Decode(read, p) && p == (DeadPixel{column, row})) << std::string(text, end);
        }
}

TEST(DeadPixelStore, KeysWithGapsForeignKeysAndNoPixels)
{
    TempIni file("[SN1]\n1=10.0020\n2=11.0021\n01=99.0099\n0=98.0098\n200=97.0097\n4=12.0022\n"
                 "[SN2]\n1=-1\n2=abc\n3=-1.5\n5=\n6=1e400\n7=3.0004\n[SN3]\n01=1.0001\n");
    IniFile ini(file.Path());
    DeadPixelStore store(ini);
    // Keys "1" to "199" only, in key order; "01" neither counts as key 1 nor is read.
    EXPECT_EQ(store.Load("sn1"), (Pixels{{10, 20}, {11, 21}, {12, 22}}));
    EXPECT_EQ(store.FirstFreeKey("SN1"), 3);
    EXPECT_TRUE(store.Add("SN1", "Nikon D800", 40, 41));
    EXPECT_EQ(store.FirstFreeKey("SN1"), 5);
    EXPECT_EQ(store.Load("SN1"), (Pixels{{10, 20}, {11, 21}, {40, 41}, {12, 22}}));
    // No number, or not above -1: no pixel. Any key still counts for the repair option.
    EXPECT_EQ(store.Load("SN2"), (Pixels{{3, 4}}));
    EXPECT_TRUE(store.HasPixels("SN2"));
    EXPECT_TRUE(store.HasPixels("SN3"));
    EXPECT_TRUE(store.Load("SN3").empty());
    EXPECT_EQ(store.FirstFreeKey("SN3"), 1);
    EXPECT_FALSE(store.HasPixels("SN4"));
}

TEST(DeadPixelStore, FullBodyTakesNoMoreAndRemovalLeavesGaps)
{
    std::string keys;
    for (int n = 1; n <= 199; ++n)
        keys += std::to_string(n) + "=" + std::to_string(n) + ".0001\n";
    TempIni file("[dead pixels camera]\nB=Canon EOS 40D\n[B]\n" + keys);
    IniFile ini(file.Path());
    DeadPixelStore store(ini);
    EXPECT_EQ(store.FirstFreeKey("B"), 200);
    EXPECT_FALSE(store.Add("B", "Canon EOS 40D", 7, 7));
    EXPECT_EQ(file.Text(), "[dead pixels camera]\nB=Canon EOS 40D\n[B]\n" + keys);

    EXPECT_TRUE(store.Remove("B", 57, 1));
    EXPECT_FALSE(store.Remove("B", 57, 1));
    EXPECT_FALSE(ini.ValueExists("B", "57"));
    EXPECT_TRUE(ini.ValueExists("B", "58"));
    EXPECT_TRUE(store.Add("B", "Canon EOS 40D", 7, 7));
    EXPECT_EQ(ini.ReadString("B", "57", ""), "7.0007");
    EXPECT_FALSE(store.Add("B", "Canon EOS 40D", 8, 8));
    // Once its only pixel is gone a body has none, but stays listed.
    ASSERT_TRUE(store.Add("C", "Nikon D200", 3, 3));
    EXPECT_TRUE(store.Remove("C", 3, 3));
    EXPECT_FALSE(store.HasPixels("C"));
    ASSERT_EQ(store.Bodies().size(), 2u);
    EXPECT_EQ(store.Bodies()[1].serial + "=" + store.Bodies()[1].model, "C=Nikon D200");
}

TEST(DeadPixelStore, HostileSerialsAndModelsNeverReachTheFile)
{
    const std::string original = "[dead pixels camera]\nOK=Model\n[OK]\n1=5.0005\n";
    TempIni file(original);
    IniFile ini(file.Path());
    DeadPixelStore store(ini);
    for (const std::string& serial : std::vector<std::string>{"]", "a]b", "a=b", "x\ny", "x\r", "", "   ", "[x", ";x",
                                                              " Dead Pixels Camera ", std::string("a\0b", 3)}) {
        EXPECT_FALSE(store.Add(serial, "Model", 1, 1)) << serial;
        EXPECT_FALSE(store.RegisterBody(serial, "Model")) << serial;
        EXPECT_TRUE(store.Load(serial).empty()) << serial;
    }
    EXPECT_FALSE(store.Add("OK", "Model\n[OK]", 1, 1));
    EXPECT_FALSE(store.Add("OK", "Model", -1, 0));
    EXPECT_FALSE(store.Add("OK", "Model", 0, 10000)); // would read back as column 1, row 0
    EXPECT_EQ(file.Text(), original);
    EXPECT_EQ(store.Load("OK"), (Pixels{{5, 5}}));
}

} // namespace
