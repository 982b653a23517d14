// The integer vector operations the pixel families are written in, once for each width: SSE2
// (16 pixels a step), AVX2 (32) and AVX-512BW (64). Every operation works on 16-bit lanes
// within each 128-bit block, so a family's arithmetic is the same text at every width; only
// StorePixels, which writes pixels in memory order, has to cross the blocks.
//
// This header and the ones built on it are compiled once per instruction set, each time in a
// translation unit with that set's compiler options. Everything here therefore has internal
// linkage: two units' copies of one template must never be merged by the linker, or SSE2 code
// could end up running an AVX encoding.
#pragma once

#include <immintrin.h>

#include "driver/wdk.h"

#define ZYN_VECTOR_INLINE inline __attribute__((always_inline))

namespace zyn {
namespace {
namespace isa {

struct Sse2 {
    using V = __m128i;
    static constexpr ULONG kPixels = 16;
    using Half = Sse2; // the narrowest: nothing below it

    static ZYN_VECTOR_INLINE V Load(const UCHAR* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static ZYN_VECTOR_INLINE void Store(UCHAR* p, V v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    // A store past the caches, to an address aligned to the vector's size.
    static ZYN_VECTOR_INLINE void Stream(UCHAR* p, V v) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    }
    static ZYN_VECTOR_INLINE V Set16(SHORT k) { return _mm_set1_epi16(k); }
    static ZYN_VECTOR_INLINE V Set32(LONG k) { return _mm_set1_epi32(k); }
    static ZYN_VECTOR_INLINE V Zero() { return _mm_setzero_si128(); }
    static ZYN_VECTOR_INLINE V And(V a, V b) { return _mm_and_si128(a, b); }
    static ZYN_VECTOR_INLINE V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static ZYN_VECTOR_INLINE V SubSatU16(V a, V b) { return _mm_subs_epu16(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shl16(V a) { return _mm_slli_epi16(a, N); }
    template <int N> static ZYN_VECTOR_INLINE V Shr16(V a) { return _mm_srli_epi16(a, N); }
    static ZYN_VECTOR_INLINE V Min16(V a, V b) { return _mm_min_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Max16(V a, V b) { return _mm_max_epi16(a, b); }
    // SSE2 has no unsigned minimum: a - (a -sat b) is min(a, b) for unsigned lanes.
    static ZYN_VECTOR_INLINE V MinU16(V a, V b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
    static ZYN_VECTOR_INLINE V MulLo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V MulHiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
    static ZYN_VECTOR_INLINE V MulAddPairs(V a, V b) { return _mm_madd_epi16(a, b); }
    static ZYN_VECTOR_INLINE V PackSat16(V a, V b) { return _mm_packs_epi32(a, b); }
    static ZYN_VECTOR_INLINE V PackU8(V a, V b) { return _mm_packus_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static ZYN_VECTOR_INLINE V ShiftBytesRight8(V a) { return _mm_srli_si128(a, 8); }
    static ZYN_VECTOR_INLINE V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static ZYN_VECTOR_INLINE V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shr32(V a) { return _mm_srli_epi32(a, N); }
    // The 4-byte groups of pixels in the order StorePixels' unpacking writes them out.
    static ZYN_VECTOR_INLINE V StoreOrder(V a) { return a; }
    static ZYN_VECTOR_INLINE ULONG Total32(V a) {
        alignas(16) ULONG lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), a);
        return lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
};

#if defined(__AVX2__)
struct Avx2 {
    using V = __m256i;
    static constexpr ULONG kPixels = 32;
    using Half = Sse2;

    static ZYN_VECTOR_INLINE V Load(const UCHAR* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static ZYN_VECTOR_INLINE void Store(UCHAR* p, V v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static ZYN_VECTOR_INLINE void Stream(UCHAR* p, V v) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static ZYN_VECTOR_INLINE V Set16(SHORT k) { return _mm256_set1_epi16(k); }
    static ZYN_VECTOR_INLINE V Set32(LONG k) { return _mm256_set1_epi32(k); }
    static ZYN_VECTOR_INLINE V Zero() { return _mm256_setzero_si256(); }
    static ZYN_VECTOR_INLINE V And(V a, V b) { return _mm256_and_si256(a, b); }
    static ZYN_VECTOR_INLINE V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static ZYN_VECTOR_INLINE V SubSatU16(V a, V b) { return _mm256_subs_epu16(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shl16(V a) { return _mm256_slli_epi16(a, N); }
    template <int N> static ZYN_VECTOR_INLINE V Shr16(V a) { return _mm256_srli_epi16(a, N); }
    static ZYN_VECTOR_INLINE V Min16(V a, V b) { return _mm256_min_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Max16(V a, V b) { return _mm256_max_epi16(a, b); }
    static ZYN_VECTOR_INLINE V MinU16(V a, V b) { return _mm256_min_epu16(a, b); }
    static ZYN_VECTOR_INLINE V MulLo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V MulHiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    static ZYN_VECTOR_INLINE V MulAddPairs(V a, V b) { return _mm256_madd_epi16(a, b); }
    static ZYN_VECTOR_INLINE V PackSat16(V a, V b) { return _mm256_packs_epi32(a, b); }
    static ZYN_VECTOR_INLINE V PackU8(V a, V b) { return _mm256_packus_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static ZYN_VECTOR_INLINE V ShiftBytesRight8(V a) { return _mm256_srli_si256(a, 8); }
    static ZYN_VECTOR_INLINE V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static ZYN_VECTOR_INLINE V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shr32(V a) { return _mm256_srli_epi32(a, N); }
    // Group g of 4 pixels (g = 0..7) goes to position 4 x (g mod 2) + g / 2, so that the four
    // unpacked 32-pixel stores come out in memory order.
    static ZYN_VECTOR_INLINE V StoreOrder(V a) {
        return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    }
    static ZYN_VECTOR_INLINE ULONG Total32(V a) {
        return Sse2::Total32(
            _mm_add_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1)));
    }
};
#endif

#if defined(__AVX512BW__)
struct Avx512 {
    using V = __m512i;
    static constexpr ULONG kPixels = 64;
    using Half = Avx2;

    static ZYN_VECTOR_INLINE V Load(const UCHAR* p) { return _mm512_loadu_si512(p); }
    static ZYN_VECTOR_INLINE void Store(UCHAR* p, V v) { _mm512_storeu_si512(p, v); }
    static ZYN_VECTOR_INLINE void Stream(UCHAR* p, V v) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v);
    }
    static ZYN_VECTOR_INLINE V Set16(SHORT k) { return _mm512_set1_epi16(k); }
    static ZYN_VECTOR_INLINE V Set32(LONG k) { return _mm512_set1_epi32(k); }
    static ZYN_VECTOR_INLINE V Zero() { return _mm512_setzero_si512(); }
    static ZYN_VECTOR_INLINE V And(V a, V b) { return _mm512_and_si512(a, b); }
    static ZYN_VECTOR_INLINE V Add16(V a, V b) { return _mm512_add_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
    static ZYN_VECTOR_INLINE V SubSatU16(V a, V b) { return _mm512_subs_epu16(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shl16(V a) { return _mm512_slli_epi16(a, N); }
    template <int N> static ZYN_VECTOR_INLINE V Shr16(V a) { return _mm512_srli_epi16(a, N); }
    static ZYN_VECTOR_INLINE V Min16(V a, V b) { return _mm512_min_epi16(a, b); }
    static ZYN_VECTOR_INLINE V Max16(V a, V b) { return _mm512_max_epi16(a, b); }
    static ZYN_VECTOR_INLINE V MinU16(V a, V b) { return _mm512_min_epu16(a, b); }
    static ZYN_VECTOR_INLINE V MulLo16(V a, V b) { return _mm512_mullo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V MulHiU16(V a, V b) { return _mm512_mulhi_epu16(a, b); }
    static ZYN_VECTOR_INLINE V MulAddPairs(V a, V b) { return _mm512_madd_epi16(a, b); }
    static ZYN_VECTOR_INLINE V PackSat16(V a, V b) { return _mm512_packs_epi32(a, b); }
    static ZYN_VECTOR_INLINE V PackU8(V a, V b) { return _mm512_packus_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo8(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi8(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
    static ZYN_VECTOR_INLINE V UnpackLo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
    static ZYN_VECTOR_INLINE V UnpackHi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
    static ZYN_VECTOR_INLINE V ShiftBytesRight8(V a) { return _mm512_bsrli_epi128(a, 8); }
    static ZYN_VECTOR_INLINE V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
    static ZYN_VECTOR_INLINE V Sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
    template <int N> static ZYN_VECTOR_INLINE V Shr32(V a) { return _mm512_srli_epi32(a, N); }
    // Group g of 4 pixels (g = 0..15) goes to position 4 x (g mod 4) + g / 4.
    static ZYN_VECTOR_INLINE V StoreOrder(V a) {
        // The zero-masked form: the plain one makes GCC 12 warn about its undefined source.
        return _mm512_maskz_permutexvar_epi32(
            0xFFFF, _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), a);
    }
    static ZYN_VECTOR_INLINE ULONG Total32(V a) {
        return Avx2::Total32(
            _mm256_add_epi32(_mm512_castsi512_si256(a), _mm512_extracti64x4_epi64(a, 1)));
    }
};
#endif

} // namespace isa
} // namespace
} // namespace zyn
