#pragma once
#include <cstdint>

// The forward DCT of the encoder and the basis images of the decoder, in single precision.
// Every implementation computes each value with the same operations in the same order (products
// summed from the first term on, no fused multiply-add), so all give identical results.
namespace tamo {

// Coefficients fit 16 bits: DC is -1024 ... 1016 and no AC value exceeds about 930.
using Coef = int16_t;

enum class TransformImpl { Reference, Portable, Avx2 };

bool Avx2Available();
// AVX2 when the processor (and the system) supports it, else the portable one.
TransformImpl BestTransform();

// M(k, n) = C(k) cos((2n + 1) k pi / 16), row k at [8k].
const float* ForwardMatrix();
// The 64 basis images in scan order, 64 floats each (x + 8y), 32-byte aligned.
const float* BasisImages();

// Transforms every macroblock of a picture (raster order) into `store`: per macroblock six
// blocks (Y top-left, Y top-right, Cb, Cr, Y bottom-left, Y bottom-right) of 64 coefficients
// in natural order (u + 8v), each rounded to the nearest integer, ties to even.
void TransformPicture(TransformImpl impl, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                      int width, int rows, int columns, Coef* store);

// One block of samples with the given stride, coefficients in natural order.
void TransformBlockReference(const uint8_t* src, int stride, Coef* out);

// Per implementation (AVX2 only callable when Avx2Available()).
void TransformPicturePortable(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                              int rows, int columns, Coef* store);
void TransformPictureAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                          int rows, int columns, Coef* store);

// Quantises the AC coefficients of a block, all in natural order:
// levels[n] = sign(x) * min(floor(|x| * 32 / d), 1024), computed as |x| times
// recip[n] = (1 + 2^-20) * 32 / d in single precision, which is exact for every |x| that occurs
// (see the test); recip[0] = 0 leaves DC out. Returns the mask of non-zero levels.
void QuantizerReciprocals(int scale, const uint8_t* weights, float* recip);
uint64_t QuantizeBlockPortable(const Coef* x, const float* recip, int32_t* levels);
uint64_t QuantizeBlockAvx2(const Coef* x, const float* recip, int32_t* levels);

}  // namespace tamo
