#include "QiRowStore.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <emmintrin.h>
#define QI_STREAM_STORES 1
#endif

#ifdef QI_STREAM_STORES

namespace {
// Words before dst reaches a 16-byte boundary (0 or 1).
inline size_t headWords(const uint64_t *dst) { return (reinterpret_cast<uintptr_t>(dst) >> 3) & 1; }
} // namespace

void qiStreamFill(uint64_t *dst, size_t count, uint64_t word, bool fence)
{
    size_t i = std::min(headWords(dst), count);
    for (size_t k = 0; k < i; ++k)
        dst[k] = word;
    const __m128i v = _mm_set1_epi64x(static_cast<long long>(word));
    for (; i + 8 <= count; i += 8) {
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i), v);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 2), v);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 4), v);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 6), v);
    }
    for (; i + 2 <= count; i += 2)
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i), v);
    for (; i < count; ++i)
        dst[i] = word;
    if (fence)
        _mm_sfence();
}

void qiStreamCopy(uint64_t *dst, const uint64_t *src, size_t count, bool fence)
{
    size_t i = std::min(headWords(dst), count);
    for (size_t k = 0; k < i; ++k)
        dst[k] = src[k];
    for (; i + 8 <= count; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 2));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 4));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 6));
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 2), b);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 4), c);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 6), d);
    }
    for (; i + 2 <= count; i += 2)
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i)));
    for (; i < count; ++i)
        dst[i] = src[i];
    if (fence)
        _mm_sfence();
}

void qiStreamCopyBytes(uint8_t *dst, const uint8_t *src, size_t bytes, bool fence)
{
    // Ordinary stores up to a 16-byte boundary of dst and for the tail.
    size_t head = std::min(bytes, (16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15);
    std::memcpy(dst, src, head);
    size_t i = head;
    for (; i + 64 <= bytes; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i + 48), d);
    }
    for (; i + 16 <= bytes; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i)));
    std::memcpy(dst + i, src + i, bytes - i);
    if (fence)
        _mm_sfence();
}

void qiStreamFence() { _mm_sfence(); }

#else

void qiStreamFill(uint64_t *dst, size_t count, uint64_t word, bool) { std::fill(dst, dst + count, word); }
void qiStreamCopy(uint64_t *dst, const uint64_t *src, size_t count, bool)
{
    std::memcpy(dst, src, count * sizeof(uint64_t));
}
void qiStreamCopyBytes(uint8_t *dst, const uint8_t *src, size_t bytes, bool) { std::memcpy(dst, src, bytes); }
void qiStreamFence() {}

#endif
