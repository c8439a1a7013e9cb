#pragma once
// Internal to the conversions: the AVX2 kernel, called only when the processor has AVX2.
#include <cstdint>

// Converts the leading whole 32-pixel groups of one row into the planes (chroma only when asked)
// and returns how many pixels it did; the caller converts the rest.
int RowToPlanes709Avx2(const uint32_t* px, int width, bool chroma, uint8_t* y, uint8_t* cb, uint8_t* cr);
