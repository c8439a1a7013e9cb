#pragma once
#include "model/CPnPPics.h"

#include <string>

constexpr int32_t kPnPDnxhdSlotSize = 0x94000;
constexpr int32_t kPnPCodecSlotSize = 600064;

// "pictures_compressed": full-HD slots in DNxHD (format 0) or the system codec (format 1).
// A pictures element whose device buffer is the compressed frame: the pictures page loads,
// saves, reads, writes and previews it the same way, without the luma key. Compressing and
// decompressing are long work (ffmpeg, the codec); the page runs them off the window's thread.
class CPnPPicsCompressed : public CPnPPics {
public:
    CPnPPicsCompressed(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPicsCompressed() override;

    // 0 DNxHD, 1 the system codec; any other code has no buffer and no slot sizes.
    int32_t codec = 0;

    // One slot: 606208 bytes (DNxHD), 600064 bytes (system codec), 0 for other codes.
    int32_t SlotSize() const;

    // An image file (no alpha, the element's load mode, exactly width x height with mode 0),
    // compressed; any other file is one slot's bytes, decompressed. On failure (21301, 21350)
    // the element keeps what it had.
    PnPPicsLoad LoadFromFile(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng) override;
    // ".png", ".bmp": the working picture; anything else: the compressed buffer as it is.
    int SaveToFile(const std::string& path) const override;
    // A slot's bytes become the compressed buffer; the working picture is filled black and
    // decompressed into; the result is the loaded flag.
    bool FromDeviceBuffer(const uint8_t* data, size_t size) override;
    // The working picture into the compressed buffer (DNxHD in studio range).
    bool Convert() override;

    // The working picture into the compressed buffer; the buffer into the working picture.
    bool Compress(std::string* error = nullptr);
    bool Decompress(std::string* error = nullptr);
};
