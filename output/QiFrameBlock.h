#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Frame-sized device memory that is allocated once and reused. Preparing
// the byte count it already has keeps the block and its contents; any
// other count the block can hold reuses it (fewer frames of the size, or a
// smaller size), so switching between a still and a two-frame pattern does
// not fault in a fresh block each time. A block four times larger than
// asked for is given back for a fresh one. A newly prepared count always
// reads as zeros, so copying a buffer nobody packed stays defined.
//
// A simulated board may keep a reference to what was DMA'd from a block
// instead of copying it at once. It watches the block, and is told before
// any byte of it changes or goes away, so it can take its copy then.
// Writers therefore go through writable().
class QiFrameBlock {
public:
    class Reader {
    public:
        // Bytes [begin, begin + bytes) of a watched block are about to be
        // written or freed. Called on the writer's thread, with no lock of
        // the block's held.
        virtual void blockChanging(const uint8_t *begin, size_t bytes) = 0;

    protected:
        ~Reader() = default;
    };

    QiFrameBlock() = default;
    ~QiFrameBlock();
    QiFrameBlock(const QiFrameBlock &) = delete;
    QiFrameBlock &operator=(const QiFrameBlock &) = delete;

    // False (and an empty block) when the allocation fails.
    bool prepare(size_t bytes);
    void release();
    const uint8_t *data() const { return m_data; }
    // Write access to [offset, offset + bytes), cut to the block; readers
    // of that range are told first. Null when the range is not in the block.
    uint8_t *writable(size_t offset, size_t bytes);
    // The byte count last prepared.
    size_t size() const { return m_size; }
    // The bytes the block holds (at least size()).
    size_t capacity() const { return m_capacity; }

    // When [p, p + bytes) lies in a prepared block, reader is told of that
    // block's changes from now on (true); false for memory no block holds.
    static bool watch(const void *p, size_t bytes, Reader *reader);
    // reader is told nothing more (a reader going away).
    static void forget(Reader *reader);

private:
    void changing(size_t offset, size_t bytes);
    void enlist();
    void delist();

    uint8_t *m_data = nullptr; // from qiAllocFrameMemory, m_capacity bytes
    size_t m_size = 0;
    size_t m_capacity = 0;
    std::vector<Reader *> m_readers; // guarded by the registry's lock
};

// Byte count of count frames of rowBytes x height; 0 when it overflows or
// exceeds what one raster may hold.
size_t qiFrameBytes(size_t rowBytes, int32_t height, int32_t count);
