// The yEnc byte kernels. One rule, written once as the byte machine (`stepByte`); the
// vector kernels take the blocks whose shape the vector rule covers and hand every other
// byte to it, so they give exactly its bytes and states wherever the input is cut.
#include "Yenc.h"
#include <immintrin.h>

namespace vt {

namespace {

using S = YencState;

// One byte. False when it ends the run (`stop` says why).
#define VT_INLINE __attribute__((always_inline)) inline

template <bool Raw>
VT_INLINE bool stepByte(uint8_t c, uint8_t *out, size_t &o, S &st, YencStop &stop)
{
    switch (st) {
    case S::Escape:
        st = S::Mid;
        if (Raw && c == 'y') {
            stop = YencStop::Control;
            return false;
        }
        out[o++] = uint8_t(c - 106);
        return true;
    case S::Dot:
        if (c == '\r') {
            st = S::DotCr;
            return true;
        }
        st = S::Mid;
        break;
    case S::DotCr:
        if (c == '\n') {
            st = S::LineStart;
            stop = YencStop::End;
            return false;
        }
        st = S::Mid;
        break;
    case S::LineStart:
        // The dot that starts a line on the wire is not the post's (it is doubled when
        // the post has one there).
        if (Raw && c == '.') {
            st = S::Dot;
            return true;
        }
        st = S::Mid;
        break;
    case S::Cr:
        if (c == '\n') {
            st = S::LineStart;
            return true;
        }
        st = S::Mid;
        break;
    case S::Mid: break;
    }
    if (c == '\r') st = S::Cr;
    else if (c == '=') st = S::Escape;
    else if (c != '\n') out[o++] = uint8_t(c - 42);
    return true;
}

// A run over the input, kept in registers: every byte stored through `out` could alias
// anything the kernel reads through a pointer, the state included.
struct Run {
    const char *in;
    size_t n;
    uint8_t *out;
    S st;
    size_t i = 0, o = 0;
    YencStop stop = YencStop::None;
};

template <bool Raw>
VT_INLINE bool byteStep(Run &r)
{
    return stepByte<Raw>(uint8_t(r.in[r.i++]), r.out, r.o, r.st, r.stop);
}

template <bool Raw>
Run scalarRun(Run r)
{
    while (r.i < r.n)
        if (!byteStep<Raw>(r)) break;
    return r;
}

// States in which a block may start on the vector rule.
VT_INLINE bool plain(S st) { return st == S::Mid || st == S::LineStart || st == S::Cr; }

// For a block of w bytes (at most 64) entered in a plain state, from the masks of its
// '=', CR, LF, '.' and 'y' bytes: how many bytes the vector rule takes (up to the first
// shape it leaves to the byte rule: an escape pair or "=y" that ends the block or reaches
// the next '=', a dot starting a line), which of them are kept and which escaped, and
// the state after them.
struct Plan {
    uint64_t keep, escaped;
    unsigned len;
    S exit;
};

template <bool Raw>
VT_INLINE Plan plan(uint64_t eq, uint64_t cr, uint64_t lf, uint64_t dot, uint64_t y, unsigned w, S st)
{
    const uint64_t escaped = eq << 1;
    uint64_t trouble = (eq & (eq >> 1)) | (eq & (uint64_t(1) << (w - 1)));
    if (Raw) trouble |= eq & (y >> 1);
    const uint64_t crReal = cr & ~escaped;
    const uint64_t crlf = lf & ((crReal << 1) | (st == S::Cr ? 1u : 0u));
    if (Raw) trouble |= dot & ((crlf << 1) | (st == S::LineStart ? 1u : 0u));
    const unsigned len = trouble ? unsigned(__builtin_ctzll(trouble)) : w;
    const uint64_t within = len == 64 ? ~uint64_t(0) : (uint64_t(1) << len) - 1;
    Plan p{~(eq | ((cr | lf) & ~escaped)) & within, escaped & within, len, st};
    if (len) {
        const uint64_t last = uint64_t(1) << (len - 1);
        p.exit = (crReal & last) ? S::Cr : (crlf & last) ? S::LineStart : S::Mid;
    }
    return p;
}

// For each 8-bit keep mask: the positions kept, in order (0x80 = none).
struct CompactTable {
    alignas(16) uint8_t index[256][8];
    CompactTable()
    {
        for (int m = 0; m < 256; ++m) {
            int k = 0;
            for (int b = 0; b < 8; ++b)
                if (m >> b & 1) index[m][k++] = uint8_t(b);
            for (; k < 8; ++k) index[m][k] = 0x80;
        }
    }
};
const CompactTable kCompact;

// The bytes of the low half of `src` that `keep` marks, stored at `to` in order (8 bytes
// are written); returns how many.
__attribute__((target("ssse3,popcnt"), always_inline)) inline unsigned squeeze8(uint8_t *to, __m128i src, unsigned keep)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(to),
                     _mm_shuffle_epi8(src, _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kCompact.index[keep]))));
    return unsigned(__builtin_popcount(keep));
}

// The byte the vector rule left, when it stopped short of the block's end.
template <bool Raw>
VT_INLINE bool afterBlock(Run &r, unsigned len, unsigned w)
{
    return len == w || byteStep<Raw>(r);
}

// Bytes in a state the vector rule does not start from go to the byte rule one at a time.
#define VT_UNTIL_PLAIN                                                                                                 \
    if (!plain(r.st)) {                                                                                                \
        if (!byteStep<Raw>(r)) return r;                                                                               \
        continue;                                                                                                      \
    }

// SSE2: runs of plain bytes 16 at a time inside a line; everything else by the byte rule.
template <bool Raw>
Run sse2Run(Run r)
{
    const __m128i eq = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), off = _mm_set1_epi8(42);
    while (r.i + 16 <= r.n) {
        if (r.st != S::Mid) {
            if (!byteStep<Raw>(r)) return r;
            continue;
        }
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r.in + r.i));
        const unsigned m = unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, eq), _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(r.out + r.o), _mm_sub_epi8(v, off));
        const unsigned k = m ? unsigned(__builtin_ctz(m)) : 16;
        r.i += k;
        r.o += k;
        if (k < 16 && !byteStep<Raw>(r)) return r;
    }
    return scalarRun<Raw>(r);
}

inline uint64_t mask16(__m128i m) { return unsigned(_mm_movemask_epi8(m)); }
inline uint64_t mask16(__m128i v, __m128i c) { return mask16(_mm_cmpeq_epi8(v, c)); }
__attribute__((target("avx2"), always_inline)) inline uint64_t mask32(__m256i m)
{
    return uint32_t(_mm256_movemask_epi8(m));
}
__attribute__((target("avx2"), always_inline)) inline uint64_t mask32(__m256i v, __m256i c)
{
    return mask32(_mm256_cmpeq_epi8(v, c));
}

// SSSE3: 16 bytes a step; escapes and line breaks squeezed out with a shuffle per half.
template <bool Raw>
__attribute__((target("ssse3,popcnt"))) Run ssse3Run(Run r)
{
    const __m128i eq = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'),
                  dot = _mm_set1_epi8('.'), yy = _mm_set1_epi8('y'), off = _mm_set1_epi8(42), esc = _mm_set1_epi8(64);
    while (r.i + 16 <= r.n) {
        VT_UNTIL_PLAIN
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r.in + r.i));
        const __m128i isEq = _mm_cmpeq_epi8(v, eq);
        const Plan p = plan<Raw>(mask16(isEq), mask16(v, cr), mask16(v, lf), Raw ? mask16(v, dot) : 0, Raw ? mask16(v, yy) : 0, 16,
                                 r.st);
        const __m128i d = _mm_sub_epi8(_mm_sub_epi8(v, off), _mm_and_si128(_mm_slli_si128(isEq, 1), esc));
        r.o += squeeze8(r.out + r.o, d, unsigned(p.keep & 0xFF));
        r.o += squeeze8(r.out + r.o, _mm_srli_si128(d, 8), unsigned(p.keep >> 8));
        r.i += p.len;
        r.st = p.exit;
        if (!afterBlock<Raw>(r, p.len, 16)) return r;
    }
    return scalarRun<Raw>(r);
}

// AVX2: the same on 32 bytes a step, a shuffle per quarter.
template <bool Raw>
__attribute__((target("avx2,popcnt"))) Run avx2Run(Run r)
{
    const __m256i eq = _mm256_set1_epi8('='), cr = _mm256_set1_epi8('\r'), lf = _mm256_set1_epi8('\n'),
                  dot = _mm256_set1_epi8('.'), yy = _mm256_set1_epi8('y'), off = _mm256_set1_epi8(42),
                  esc = _mm256_set1_epi8(64);
    while (r.i + 32 <= r.n) {
        VT_UNTIL_PLAIN
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(r.in + r.i));
        const __m256i isEq = _mm256_cmpeq_epi8(v, eq);
        const Plan p = plan<Raw>(mask32(isEq), mask32(v, cr), mask32(v, lf), Raw ? mask32(v, dot) : 0, Raw ? mask32(v, yy) : 0, 32,
                                 r.st);
        // The escape mask moved one byte on, across the lanes.
        const __m256i escBytes = _mm256_alignr_epi8(isEq, _mm256_permute2x128_si256(isEq, isEq, 0x08), 15);
        const __m256i d = _mm256_sub_epi8(_mm256_sub_epi8(v, off), _mm256_and_si256(escBytes, esc));
        const __m128i lo = _mm256_castsi256_si128(d), hi = _mm256_extracti128_si256(d, 1);
        const uint32_t keep = uint32_t(p.keep);
        r.o += squeeze8(r.out + r.o, lo, keep & 0xFF);
        r.o += squeeze8(r.out + r.o, _mm_srli_si128(lo, 8), (keep >> 8) & 0xFF);
        r.o += squeeze8(r.out + r.o, hi, (keep >> 16) & 0xFF);
        r.o += squeeze8(r.out + r.o, _mm_srli_si128(hi, 8), keep >> 24);
        r.i += p.len;
        r.st = p.exit;
        if (!afterBlock<Raw>(r, p.len, 32)) return r;
    }
    return ssse3Run<Raw>(r);
}

// AVX-512 with VBMI2: 64 bytes a step, the kept bytes squeezed out by one compress. Its
// store never passes the input's length (the output is never longer than the input).
#define VT_AVX512 "avx512f,avx512bw,avx512vl,avx512vbmi2,bmi,popcnt"
template <bool Raw>
__attribute__((target(VT_AVX512))) Run avx512Run(Run r)
{
    const __m512i eq = _mm512_set1_epi8('='), cr = _mm512_set1_epi8('\r'), lf = _mm512_set1_epi8('\n'),
                  dot = _mm512_set1_epi8('.'), yy = _mm512_set1_epi8('y'), off = _mm512_set1_epi8(42),
                  esc = _mm512_set1_epi8(64);
    while (r.i + 64 <= r.n) {
        VT_UNTIL_PLAIN
        const __m512i v = _mm512_loadu_si512(r.in + r.i);
        const Plan p = plan<Raw>(_mm512_cmpeq_epi8_mask(v, eq), _mm512_cmpeq_epi8_mask(v, cr),
                                 _mm512_cmpeq_epi8_mask(v, lf), Raw ? _mm512_cmpeq_epi8_mask(v, dot) : 0,
                                 Raw ? _mm512_cmpeq_epi8_mask(v, yy) : 0, 64, r.st);
        const __m512i d = _mm512_sub_epi8(v, off);
        _mm512_storeu_si512(r.out + r.o, _mm512_maskz_compress_epi8(p.keep, _mm512_mask_sub_epi8(d, p.escaped, d, esc)));
        r.o += size_t(__builtin_popcountll(p.keep));
        r.i += p.len;
        r.st = p.exit;
        if (!afterBlock<Raw>(r, p.len, 64)) return r;
    }
    return avx2Run<Raw>(r);
}

const bool kHaveSsse3 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
const bool kHaveAvx2 = kHaveSsse3 && __builtin_cpu_supports("avx2");
const bool kHaveAvx512 = kHaveAvx2 && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")
                         && __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi");

template <bool Raw>
YencStep run(YencKernel k, const char *in, size_t n, uint8_t *out, S &st)
{
    Run r{in, n, out, st};
    switch (std::min(k, yencBestKernel())) {
    case YencKernel::Avx512: r = avx512Run<Raw>(r); break;
    case YencKernel::Avx2: r = avx2Run<Raw>(r); break;
    case YencKernel::Ssse3: r = ssse3Run<Raw>(r); break;
    case YencKernel::Sse2: r = sse2Run<Raw>(r); break;
    case YencKernel::Scalar: r = scalarRun<Raw>(r); break;
    }
    st = r.st;
    return {r.i, r.o, r.stop};
}

} // namespace

YencKernel yencBestKernel()
{
    return kHaveAvx512 ? YencKernel::Avx512 : kHaveAvx2 ? YencKernel::Avx2 : kHaveSsse3 ? YencKernel::Ssse3 : YencKernel::Sse2;
}

const char *yencKernelName(YencKernel k)
{
    static const char *const names[] = {"scalar", "SSE2", "SSSE3", "AVX2", "AVX-512 VBMI2"};
    return names[int(std::min(k, yencBestKernel()))];
}

YencStep yencDecode(YencKernel k, const char *in, size_t n, uint8_t *out, YencState &state, bool raw)
{
    return raw ? run<true>(k, in, n, out, state) : run<false>(k, in, n, out, state);
}

size_t yencDecodeData(YencKernel k, const char *in, size_t n, uint8_t *out, YencState &state)
{
    return run<false>(k, in, n, out, state).produced;
}

} // namespace vt
