// A damaged VaroConfig.ini must never crash start-up: read every kind of value from any bytes.
#include "app/ConfigStore.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One scratch file for the whole run, removed at exit.
    static struct Scratch {
        std::string path;
        Scratch() {
            char tmpl[] = "/tmp/varo-fuzz-ini-XXXXXX";
            int fd = mkstemp(tmpl);
            if (fd >= 0) close(fd);
            path = tmpl;
        }
        ~Scratch() {
            std::remove(path.c_str());
            std::remove((path + ".tmp").c_str());
        }
    } scratch;
    const std::string& path = scratch.path;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CConfigStore store(path);
    (void)store.ReadInt("Main", "Interface", 3);
    (void)store.ReadString("Main", "ModelName", "");
    uint8_t font[60];
    (void)store.ReadStruct("PnP_Preferences", "Font", font, sizeof font);
    store.WriteInt("Layout", "Left", 5);
    return 0;
}
