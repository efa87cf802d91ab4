#include "QiRowStore.h"
#include "QiWorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

// Streaming stores write exactly the words (bytes) asked for, whatever the
// alignment of either end and the length, and nothing around them.
TEST(QiRowStore, StreamedStoresMatchPlainOnes)
{
    std::vector<uint64_t> src(300), dst(320), ref(320);
    std::iota(src.begin(), src.end(), 0x1000);
    for (size_t at = 0; at < 4; ++at)
        for (size_t n = 0; n <= 260; n += (n < 20 ? 1 : 7)) {
            std::fill(dst.begin(), dst.end(), 0xEEEE);
            ref = dst;
            // Odd offsets leave the fence to one call at the end.
            qiStreamFill(dst.data() + at, n, 0x5A5A, at % 2 == 0);
            qiStreamFence();
            std::fill(ref.begin() + static_cast<std::ptrdiff_t>(at),
                      ref.begin() + static_cast<std::ptrdiff_t>(at + n), 0x5A5A);
            ASSERT_EQ(dst, ref) << "fill at " << at << " of " << n;
            qiStreamCopy(dst.data() + at, src.data() + 1, n, at % 2 == 0);
            qiStreamFence();
            std::memcpy(ref.data() + at, src.data() + 1, n * sizeof(uint64_t));
            ASSERT_EQ(dst, ref) << "copy at " << at << " of " << n;
        }
    std::vector<uint8_t> bsrc(700), bdst(760), bref(760);
    for (size_t i = 0; i < bsrc.size(); ++i)
        bsrc[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t at = 0; at < 17; ++at)
        for (size_t n = 0; n <= 600; n += (n < 70 ? 1 : 13)) {
            std::fill(bdst.begin(), bdst.end(), 0xEE);
            bref = bdst;
            qiStreamCopyBytes(bdst.data() + at, bsrc.data() + 3, n, at % 2 == 0);
            qiStreamFence();
            std::memcpy(bref.data() + at, bsrc.data() + 3, n);
            ASSERT_EQ(bdst, bref) << "bytes at " << at << " of " << n;
        }
}

// A job's body may itself ask the pool for a job (a fill inside a row
// loop): it runs inline instead of waiting for the pool it is part of.
TEST(QiRowStore, PoolJobsMayNest)
{
    QiWorkerPool pool(2);
    std::vector<std::atomic<int>> seen(64 * 64);
    auto job = std::async(std::launch::async, [&] {
        pool.run(64, 1, [&](int32_t begin, int32_t end) {
            for (int32_t i = begin; i < end; ++i)
                pool.run(64, 1, [&](int32_t b, int32_t e) {
                    for (int32_t j = b; j < e; ++j)
                        seen[static_cast<size_t>(i * 64 + j)].fetch_add(1);
                });
        });
    });
    if (job.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "a nested job waits for the pool it runs on";
        std::_Exit(1); // the job cannot be stopped; do not hang the suite
    }
    for (size_t k = 0; k < seen.size(); ++k)
        ASSERT_EQ(seen[k].load(), 1) << k;
}
