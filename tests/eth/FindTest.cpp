// varoctl find inside a private namespace pair: simulated devices answer the search on side 1,
// varoctl searches from side 0. Nothing is ever broadcast outside the pair.
#include "common/TempDir.h"
#include "modules/ChildProcess.h"
#include "modules/NetNs.h"

#include <gtest/gtest.h>

namespace {
std::string Bin(const char* name) {
    const char* dir = std::getenv("VARO_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

class VaroctlFind : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_ns.Ok()) GTEST_SKIP() << "network namespace tests skipped: " << m_ns.Error();
    }
    std::unique_ptr<CChildProcess> OnDeviceSide(const char* program, std::vector<std::string> args,
                                                const char* readyText) {
        std::vector<std::string> argv = {"ip", "netns", "exec", m_ns.Name(1), Bin(program)};
        argv.insert(argv.end(), args.begin(), args.end());
        auto p = std::make_unique<CChildProcess>(argv);
        EXPECT_TRUE(p->WaitFor(readyText, 5000)) << program;
        return p;
    }
    // Output and exit code of varoctl run on side 0.
    std::pair<std::string, int> Find(std::vector<std::string> options) {
        std::vector<std::string> argv = {"ip", "netns", "exec", m_ns.Name(0), Bin("varoctl")};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("find");
        CChildProcess p(argv);
        std::string out = p.ReadRest(8000);
        return {out, p.Wait()};
    }
    CNetNsPair m_ns;
};
}  // namespace

TEST_F(VaroctlFind, ListsEachDeviceOnceInSignedLittleEndianOrder) {
    auto nothing = Find({"--local", "198.18.0.1"});
    EXPECT_EQ(nothing.second, 0) << "an empty search is no error";
    EXPECT_EQ(nothing.first, "");

    // Read as signed little-endian integers the last octet weighs most and 200 is negative:
    // .0.200 < .1.3 < .0.5, an order that neither text nor network order gives.
    ASSERT_TRUE(m_ns.AddAddress(1, "198.18.0.5/24"));
    ASSERT_TRUE(m_ns.AddAddress(1, "198.18.0.200/24"));
    ASSERT_TRUE(m_ns.AddAddress(1, "198.18.1.3/24"));
    TempDir dir;
    // varosim answers on both 9100 and 9101: still one entry.
    auto both = OnDeviceSide("varosim",
                             {"--tcp", "198.18.0.5", "--image", dir.File("dev.img"), "--discovery", "198.18.0.5",
                              "--mac", "02:56:00:00:01:05"},
                             "discovery on 198.18.0.5");
    auto second = OnDeviceSide("varomodsim",
                               {"--discovery", "198.18.0.200", "--mac", "02:56:00:00:01:C8", "--only-port", "9101"},
                               "ready");
    auto third = OnDeviceSide("varomodsim", {"--discovery", "198.18.1.3", "--mac", "02:56:00:00:01:03"}, "ready");

    auto found = Find({"--local", "198.18.0.1"});
    EXPECT_EQ(found.second, 0);
    EXPECT_EQ(found.first, "198.18.0.200\n198.18.1.3\n198.18.0.5\n");
}

TEST_F(VaroctlFind, BadLocalAddressIsAUsageError) {
    auto r = Find({"--local", "198.18.0.300"});
    EXPECT_EQ(r.second, 64);
    EXPECT_EQ(r.first, "");
}
