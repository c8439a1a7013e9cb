#include "lanora/protocol/ModuleProtocol.h"

// Our product names by family and variant code. Within a family the specific variants come
// first; a variant code of 0 names every other variant of the family.
namespace {
struct RDeviceName {
    uint16_t family, variant;
    const char* name;
};

constexpr RDeviceName kDeviceNames[] = {
    {0x0101, 0x0001, "Varo LX-10 Logo Inserter"},
    {0x0101, 0x0002, "Varo LX-12 Logo Inserter"},
    {0x0101, 0x0003, "Varo LX-20 Dual Logo Inserter"},
    {0x0101, 0x0000, "Varo LX Logo Inserter"},
    {0x0102, 0x0001, "Varo LX-40 HD Logo Inserter"},
    {0x0102, 0x0002, "Varo LX-42 HD Logo Inserter"},
    {0x0102, 0x0003, "Varo LX-44 3G Logo Inserter"},
    {0x0102, 0x0000, "Varo LX HD Logo Inserter"},
    {0x0103, 0x0001, "Varo LX-80 4K Logo Inserter"},
    {0x0103, 0x0002, "Varo LX-82 4K Logo Inserter"},
    {0x0103, 0x0000, "Varo LX 4K Logo Inserter"},
    {0x0201, 0x0001, "Varo CT-5 Caption Titler"},
    {0x0201, 0x0002, "Varo CT-7 Caption Titler"},
    {0x0201, 0x0000, "Varo CT Caption Titler"},
    {0x0202, 0x0001, "Varo CT-15 HD Caption Titler"},
    {0x0202, 0x0002, "Varo CT-17 HD Caption Titler"},
    {0x0202, 0x0000, "Varo CT HD Caption Titler"},
    {0x0301, 0x0001, "Varo TS-1 Test Line Generator"},
    {0x0301, 0x0002, "Varo TS-2 Test Line Generator"},
    {0x0301, 0x0003, "Varo TS-3 Test Line Inserter"},
    {0x0301, 0x0000, "Varo TS Test Line Generator"},
    {0x0302, 0x0001, "Varo TS-10 Test Table Generator"},
    {0x0302, 0x0002, "Varo TS-12 Test Table Generator"},
    {0x0302, 0x0000, "Varo TS Test Table Generator"},
    {0x0303, 0x0001, "Varo TS-20 HD Test Generator"},
    {0x0303, 0x0002, "Varo TS-22 3G Test Generator"},
    {0x0303, 0x0000, "Varo TS HD Test Generator"},
    {0x0401, 0x0001, "Varo MV-4 Multiviewer"},
    {0x0401, 0x0002, "Varo MV-8 Multiviewer"},
    {0x0401, 0x0003, "Varo MV-9 Multiviewer"},
    {0x0401, 0x0004, "Varo MV-16 Multiviewer"},
    {0x0401, 0x0000, "Varo MV Multiviewer"},
    {0x0402, 0x0001, "Varo MV-4H HD Multiviewer"},
    {0x0402, 0x0002, "Varo MV-8H HD Multiviewer"},
    {0x0402, 0x0003, "Varo MV-16H HD Multiviewer"},
    {0x0402, 0x0000, "Varo MV HD Multiviewer"},
    {0x0403, 0x0001, "Varo MV-4K Quad Multiviewer"},
    {0x0403, 0x0000, "Varo MV 4K Multiviewer"},
    {0x0501, 0x0001, "Varo DL-1 Dynamic Label Player"},
    {0x0501, 0x0002, "Varo DL-2 Dynamic Label Player"},
    {0x0501, 0x0000, "Varo DL Dynamic Label Player"},
    {0x0502, 0x0001, "Varo DL-10 HD Label Player"},
    {0x0502, 0x0000, "Varo DL HD Label Player"},
    {0x0601, 0x0001, "Varo CK-1 Clock Overlay"},
    {0x0601, 0x0002, "Varo CK-2 Clock and Timer Overlay"},
    {0x0601, 0x0000, "Varo CK Clock Overlay"},
    {0x0701, 0x0001, "Varo KP-6 Control Panel"},
    {0x0701, 0x0002, "Varo KP-12 Control Panel"},
    {0x0701, 0x0000, "Varo KP Control Panel"},
    {0x0801, 0x0001, "Varo NX-1 Network Bridge"},
    {0x0801, 0x0002, "Varo NX-2 Dual Network Bridge"},
    {0x0801, 0x0000, "Varo NX Network Bridge"},
};
static_assert(sizeof kDeviceNames / sizeof kDeviceNames[0] == 52);
}  // namespace

const char* ModuleDeviceName(uint16_t family, uint16_t variant) {
    for (const auto& row : kDeviceNames)
        if (row.family == family && (row.variant == variant || row.variant == 0)) return row.name;
    return nullptr;
}

size_t ModuleDeviceNameRows() { return sizeof kDeviceNames / sizeof kDeviceNames[0]; }
