#include "QiFrameBlock.h"

#include "QiFrameMemory.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Largest block of output buffers one raster holds (an animation of many
// 4K frames); beyond it setBufferCount refuses instead of exhausting memory.
constexpr size_t kMaxFrameBytes = size_t{2} << 30;

// The blocks that hold memory, for watch(). One lock guards the list, every
// block's readers and the blocks' pointers and sizes as other threads see
// them. Never destroyed: a static raster may give its block back late.
struct Registry {
    std::mutex lock;
    std::vector<QiFrameBlock *> blocks;
};
Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

} // namespace

QiFrameBlock::~QiFrameBlock() { release(); }

bool QiFrameBlock::prepare(size_t bytes)
{
    if (bytes == m_size && (m_data || bytes == 0))
        return true;
    if (bytes == 0) {
        release();
        return true;
    }
    // Reuse what is held unless it is more than four times the need.
    if (m_data && bytes <= m_capacity && m_capacity / 4 < bytes) {
        changing(0, m_capacity);
        std::memset(m_data, 0, bytes);
        std::lock_guard<std::mutex> g(registry().lock);
        m_size = bytes;
        return true;
    }
    release();
    auto *p = static_cast<uint8_t *>(qiAllocFrameMemory(bytes));
    if (!p)
        return false;
    {
        std::lock_guard<std::mutex> g(registry().lock);
        m_data = p;
        m_size = m_capacity = bytes;
    }
    enlist();
    return true;
}

void QiFrameBlock::release()
{
    if (!m_data)
        return;
    changing(0, m_capacity);
    delist();
    uint8_t *p;
    size_t held;
    {
        std::lock_guard<std::mutex> g(registry().lock);
        p = m_data;
        m_data = nullptr;
        held = m_capacity;
        m_size = m_capacity = 0;
    }
    qiFreeFrameMemory(p, held);
}

uint8_t *QiFrameBlock::writable(size_t offset, size_t bytes)
{
    if (!m_data || offset > m_size || bytes > m_size - offset)
        return nullptr;
    changing(offset, bytes);
    return m_data + offset;
}

void QiFrameBlock::changing(size_t offset, size_t bytes)
{
    std::vector<Reader *> readers;
    {
        std::lock_guard<std::mutex> g(registry().lock);
        if (m_readers.empty())
            return;
        readers = m_readers;
    }
    // Outside the lock: a reader takes its own lock, and may call watch()
    // under it.
    for (Reader *r : readers)
        r->blockChanging(m_data + offset, bytes);
}

void QiFrameBlock::enlist()
{
    std::lock_guard<std::mutex> g(registry().lock);
    registry().blocks.push_back(this);
}

void QiFrameBlock::delist()
{
    Registry &reg = registry();
    std::lock_guard<std::mutex> g(reg.lock);
    reg.blocks.erase(std::remove(reg.blocks.begin(), reg.blocks.end(), this), reg.blocks.end());
    m_readers.clear();
}

bool QiFrameBlock::watch(const void *p, size_t bytes, Reader *reader)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    Registry &reg = registry();
    std::lock_guard<std::mutex> g(reg.lock);
    for (QiFrameBlock *b : reg.blocks) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(b->m_data);
        if (!b->m_data || at < base || at - base > b->m_size || bytes > b->m_size - (at - base))
            continue;
        if (std::find(b->m_readers.begin(), b->m_readers.end(), reader) == b->m_readers.end())
            b->m_readers.push_back(reader);
        return true;
    }
    return false;
}

void QiFrameBlock::forget(Reader *reader)
{
    Registry &reg = registry();
    std::lock_guard<std::mutex> g(reg.lock);
    for (QiFrameBlock *b : reg.blocks)
        b->m_readers.erase(std::remove(b->m_readers.begin(), b->m_readers.end(), reader), b->m_readers.end());
}

size_t qiFrameBytes(size_t rowBytes, int32_t height, int32_t count)
{
    if (height < 0 || count < 0)
        return 0;
    size_t frame = 0, total = 0;
    if (__builtin_mul_overflow(rowBytes, static_cast<size_t>(height), &frame) ||
        __builtin_mul_overflow(frame, static_cast<size_t>(count), &total) || total > kMaxFrameBytes)
        return 0;
    return total;
}
