#pragma once
#include <cstddef>
#include <cstdint>

// Stores for frame-sized passes: the words go straight to memory without
// first reading each cache line in (non-temporal stores where the
// processor has them). Against ordinary stores that halves the memory
// traffic of a fill, and a fill in narrow column strips (colour bars at
// 4K) runs two to three times faster. Only for areas far larger than the
// caches: what is stored this way is not in the cache afterwards. The
// stores are complete (fenced) when the call returns, unless fence is false:
// a loop over many rows then calls qiStreamFence once at its end instead of
// waiting for each row's stores.
void qiStreamFill(uint64_t *dst, size_t count, uint64_t word, bool fence = true);
// Copies count words (or bytes) of src to dst; the two must not overlap.
void qiStreamCopy(uint64_t *dst, const uint64_t *src, size_t count, bool fence = true);
void qiStreamCopyBytes(uint8_t *dst, const uint8_t *src, size_t bytes, bool fence = true);
// Completes the stores of the calls made with fence false.
void qiStreamFence();

// Areas from this many bytes on (the size of a core's L2 cache here) are
// worth streaming.
constexpr size_t kQiStreamBytes = size_t{1} << 20;
