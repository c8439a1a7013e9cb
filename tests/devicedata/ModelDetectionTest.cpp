#include "common/TempDir.h"
#include "devicedata/ModelDetection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

TEST(ModelDetection, SignatureText) {
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {std::string("ABC\0xyz", 7), "ABC"},
        {"HD-OVL  \t ", "HD-OVL"},
        {std::string("\x01" "ABC", 4), ""},
        {"\xC4HD", ""},
        {std::string(32, ' '), ""},
        {"0123456789ABCDEF0123456789ABCD  ", "0123456789ABCDEF0123456789ABCD"},
        {std::string(40, 'X'), std::string(32, 'X')},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buf(32, 0);
        std::memcpy(buf.data(), c.bytes.data(), std::min<size_t>(32, c.bytes.size()));
        EXPECT_EQ(EvaluateSignature(buf.data(), buf.size()), c.text) << c.bytes;
    }
    EXPECT_EQ(SignatureAddress(0), 0x00FFFFFFu);
    EXPECT_EQ(SignatureAddress(1), 0x80FFFFFFu);
    EXPECT_EQ(SignatureAddress(3), 0x80FFFFFFu);
}

TEST(ModelDetection, ModelsWithoutSignatureList) {
    TempDir dir;
    EXPECT_TRUE(ListModelsWithoutSignature(dir.File("none")).empty());
    TempDir::WriteAll(dir.File("SD-1.xml"), "<x/>");
    TempDir::WriteAll(dir.File("SD-2.XML"), "<x/>");
    TempDir::WriteAll(dir.File("notes.txt"), "");
    auto names = ListModelsWithoutSignature(dir.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"SD-1", "SD-2"}));
}

TEST(ModelDetection, SignatureNamesAFileInModelsPnPOnly) {
    TempDir dir;
    for (const char* sub : {"ModelsPnP/sub", "ModelsOld"}) std::filesystem::create_directories(dir.File(sub));
    TempDir::WriteAll(dir.File("ModelsPnP/HD-1.xml"), "<x/>");
    TempDir::WriteAll(dir.File("ModelsPnP/sub/in.xml"), "<x/>");
    TempDir::WriteAll(dir.File("ModelsOld/old.xml"), "<x/>");
    TempDir::WriteAll(dir.File("outside.xml"), "<x/>");
    const std::string folder = dir.Path() + "/";
    EXPECT_EQ(SignatureModelPath(folder, "HD-1"), dir.File("ModelsPnP/HD-1.xml"));
    EXPECT_EQ(SignatureModelPath(folder, "hd-1"), dir.File("ModelsPnP/HD-1.xml"));  // any case, as on the PC
    EXPECT_EQ(SignatureModelPath(folder, "V1.2"), dir.File("ModelsPnP/V1.2.xml"));  // a dot alone is fine
    // Every one of these would open an existing file if it were let through.
    for (const char* sig : {"../outside", "..\\outside", "../ModelsOld/old", "sub/in", "sub\\in", "/etc/hostname",
                            "x/../HD-1", "..", "..HD-1"})
        EXPECT_EQ(SignatureModelPath(folder, sig), "") << sig;
}
