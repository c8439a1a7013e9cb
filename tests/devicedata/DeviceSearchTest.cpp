#include "app/IpAddress.h"
#include "devicedata/DeviceSearch.h"

#include <gtest/gtest.h>

TEST(DeviceSearch, RefillKeepsOrAppendsThePreviousSelection) {
    const uint32_t a = IpFromOctets(10, 0, 0, 5), b = IpFromOctets(10, 0, 0, 9), c = IpFromOctets(192, 168, 1, 2);
    struct Case {
        std::vector<uint32_t> found;
        uint32_t previous;
        std::vector<uint32_t> entries;
        int selected;
    } cases[] = {
        {{a, b}, b, {a, b}, 1},     // found again: stays selected
        {{a, b}, c, {a, b, c}, 0},  // not found: kept as an extra entry, first selected
        {{}, c, {c}, 0},            // nothing found: the previous address alone, selected
        {{a}, 0, {a}, 0},
        {{}, 0, {}, -1},
    };
    for (const auto& k : cases) {
        RDeviceList l = RefillDeviceList(k.found, k.previous);
        EXPECT_EQ(l.entries, k.entries);
        EXPECT_EQ(l.selected, k.selected);
    }
}
