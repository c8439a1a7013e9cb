// Stand-in for libFuzzer where the compiler has none: feeds the target the seed files, then
// a fixed number of pseudo-random inputs and mutations of the seeds. Deterministic per seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
uint64_t g_state = 0x9E3779B97F4A7C15ull;
uint64_t Next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return g_state;
}

void Run(const std::vector<uint8_t>& v) {
    // A copy of exactly the right size, so reads past the end are caught by the sanitizers.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[v.size() ? v.size() : 1]);
    if (!v.empty()) std::memcpy(buf.get(), v.data(), v.size());
    LLVMFuzzerTestOneInput(buf.get(), v.size());
}

std::vector<uint8_t> Mutate(std::vector<uint8_t> v) {
    int n = 1 + int(Next() % 8);
    for (int i = 0; i < n; ++i) {
        switch (Next() % 6) {
        case 0:
            if (!v.empty()) v[Next() % v.size()] ^= uint8_t(1u << (Next() % 8));
            break;
        case 1:
            if (!v.empty()) v[Next() % v.size()] = uint8_t(Next());
            break;
        case 2:
            if (!v.empty()) v.resize(Next() % v.size());
            break;
        case 3: {
            size_t pos = v.empty() ? 0 : Next() % (v.size() + 1);
            size_t len = 1 + Next() % 16;
            std::vector<uint8_t> ins(len);
            for (auto& b : ins) b = uint8_t(Next());
            v.insert(v.begin() + long(pos), ins.begin(), ins.end());
            break;
        }
        case 4: {
            // Interesting values: zero, all ones, big counts.
            static const uint8_t vals[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
            if (!v.empty()) v[Next() % v.size()] = vals[Next() % sizeof vals];
            break;
        }
        case 5:
            if (v.size() >= 4) {
                size_t pos = Next() % (v.size() - 3);
                uint32_t x = (Next() & 1) ? 0xFFFFFFFFu : 0x7FFFFFFFu;
                std::memcpy(&v[pos], &x, 4);
            }
            break;
        }
    }
    return v;
}
}  // namespace

int main(int argc, char** argv) {
    long runs = 20000;
    std::vector<std::vector<uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc) {
            std::filesystem::path dir(argv[++i]);
            std::error_code ec;
            for (auto& e : std::filesystem::directory_iterator(dir, ec)) {
                if (!e.is_regular_file()) continue;
                std::ifstream f(e.path(), std::ios::binary);
                seeds.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
            }
        } else if (argv[i][0] != '-') {
            std::ifstream f(argv[i], std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
    }
    for (auto& s : seeds) Run(s);
    for (long r = 0; r < runs; ++r) {
        std::vector<uint8_t> v;
        if (!seeds.empty() && (Next() % 4) != 0) {
            v = Mutate(seeds[Next() % seeds.size()]);
        } else {
            v.resize(Next() % 4096);
            for (auto& b : v) b = uint8_t(Next());
        }
        Run(v);
    }
    std::printf("fuzz driver: %ld inputs, %zu seeds, no crash\n", runs + long(seeds.size()), seeds.size());
    return 0;
}
