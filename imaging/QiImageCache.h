#pragma once
#include "QiImage.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

// Decoded images kept between renders, so a pattern that shows the same file
// again (a re-render, every frame of a sequence) does not decode it again.
// An entry is keyed by the base path and bit depth and stays valid while the
// file loadImage would read (the first of its suffixes that exists) and its
// raw sidecar keep their modification time, size and inode. The least
// recently used images are dropped to keep the pixels under a byte limit;
// an image larger than the limit is decoded but not kept.
class QiImageCache {
public:
    static constexpr size_t kDefaultLimit = size_t{256} << 20;

    explicit QiImageCache(size_t limitBytes = kDefaultLimit) : m_limit(limitBytes) {}

    // loadImage(basePath, bits) through the cache; null when nothing decodes.
    std::shared_ptr<const QiImage> load(const std::string &basePath, int32_t bits);

    // Decodes done so far (cache misses that found a file).
    uint64_t decodes() const;
    size_t bytes() const;
    size_t entries() const;
    void clear();

private:
    // What identifies the file behind a base path at one moment.
    struct Stamp {
        std::string path;
        int64_t mtimeSec = 0, mtimeNsec = 0, size = -1;
        uint64_t inode = 0, device = 0;
        int64_t sidecarMtimeSec = 0, sidecarMtimeNsec = 0, sidecarSize = -1;
        bool operator==(const Stamp &o) const = default;
    };
    struct Entry {
        std::string basePath;
        int32_t bits;
        Stamp stamp;
        std::shared_ptr<const QiImage> image;
        size_t bytes;
    };
    static bool stampOf(const std::string &basePath, Stamp &stamp);
    void evictTo(size_t limit);

    mutable std::mutex m_lock;
    std::list<Entry> m_entries; // most recently used first
    size_t m_limit;
    size_t m_bytes = 0;
    uint64_t m_decodes = 0;
};
