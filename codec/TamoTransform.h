#pragma once
#include <cstdint>

class CBitstream;

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
// in scan order, each rounded to the nearest integer, ties to even.
void TransformPicture(TransformImpl impl, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                      int width, int rows, int columns, Coef* store);

// One block of samples with the given stride, coefficients in natural order.
void TransformBlockReference(const uint8_t* src, int stride, Coef* out);

// Per implementation (AVX2 only callable when Avx2Available()).
void TransformPicturePortable(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                              int rows, int columns, Coef* store);
void TransformPictureAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                          int rows, int columns, Coef* store);

// Quantiser of one component at one scale, in scan order: for AC coefficients
// level = sign(x) * floor(|x| * 32 / d) with d = scale * weight, computed exactly on 16-bit lanes
// as mulhi(mulhi(32 |x|, mul), post) (a multiply by a rounded-up reciprocal, then a shift by a
// power of two); mul = 0 at DC leaves it out. |x| <= 1024 always holds for 8-bit samples.
struct QuantTable {
    alignas(32) uint16_t mul[64];
    alignas(32) uint16_t post[64];
};
void MakeQuantTable(int scale, const uint8_t* weights, QuantTable& q);
// Levels in scan order; returns the mask of non-zero levels (bit p for scan position p).
uint64_t QuantizeBlockPortable(const Coef* x, const QuantTable& q, int16_t* levels);
uint64_t QuantizeBlockAvx2(const Coef* x, const QuantTable& q, int16_t* levels);

// Codes `count` consecutive macroblocks of the store (DC predictors Y, Cb, Cr in `pred`) with
// the quantisers q[0] (luma) and q[1] (chroma) of `scale`; or only counts their bits.
void CodeMacroblocksPortable(CBitstream& bw, int pred[3], const Coef* x, int count, const QuantTable* q, int scale);
void CodeMacroblocksAvx2(CBitstream& bw, int pred[3], const Coef* x, int count, const QuantTable* q, int scale);
int64_t CountMacroblocksPortable(int pred[3], const Coef* x, int count, const QuantTable* q);
int64_t CountMacroblocksAvx2(int pred[3], const Coef* x, int count, const QuantTable* q);

}  // namespace tamo
