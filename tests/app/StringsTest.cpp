// Built-in message texts that several callers (pages and varoctl) take from the table.
#include <gtest/gtest.h>

#include "app/Strings.h"
#include "pictures/CPicture.h"

TEST(Strings, ImageLoadResultsHaveTheirMessages) {
    struct Case {
        int result;
        const char* text;
    } cases[] = {
        {CPicture::kLoadCannotOpen, "Error opening image file:\n\nlogo.png"},
        {CPicture::kLoadInvalid, "Invalid image file format:\n\nlogo.png"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatMessage(kStrImageError + c.result, {"logo.png"}), c.text) << c.result;
}
