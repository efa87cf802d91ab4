#include "QiImageCache.h"

#include "QiImageFiles.h"

#include <sys/stat.h>

bool QiImageCache::stampOf(const std::string &basePath, Stamp &stamp)
{
    // The order loadImage tries.
    static const char *const suffixes[] = {".ovi", ".png", ".jpg", ".jpeg", ".raw", ".yuv", ""};
    for (const char *suffix : suffixes) {
        const std::string path = basePath + suffix;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        stamp.path = path;
        stamp.mtimeSec = st.st_mtim.tv_sec;
        stamp.mtimeNsec = st.st_mtim.tv_nsec;
        stamp.size = st.st_size;
        stamp.inode = st.st_ino;
        stamp.device = st.st_dev;
        struct stat side;
        if (stat(rawSidecarPath(path).c_str(), &side) == 0) {
            stamp.sidecarMtimeSec = side.st_mtim.tv_sec;
            stamp.sidecarMtimeNsec = side.st_mtim.tv_nsec;
            stamp.sidecarSize = side.st_size;
        }
        return true;
    }
    return false;
}

std::shared_ptr<const QiImage> QiImageCache::load(const std::string &basePath, int32_t bits)
{
    Stamp stamp;
    if (!stampOf(basePath, stamp))
        return nullptr;
    std::unique_lock<std::mutex> lock(m_lock);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->basePath != basePath || it->bits != bits)
            continue;
        if (it->stamp == stamp) {
            m_entries.splice(m_entries.begin(), m_entries, it);
            return m_entries.front().image;
        }
        // The file changed: the old pixels go.
        m_bytes -= it->bytes;
        m_entries.erase(it);
        break;
    }
    ++m_decodes;
    lock.unlock();

    std::shared_ptr<const QiImage> image(loadImage(basePath, bits).release());
    if (!image || !image->data())
        return nullptr;
    const size_t bytes = static_cast<size_t>(image->width()) * static_cast<size_t>(image->height()) * 8;
    lock.lock();
    // Another caller may have stored the same file meanwhile.
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->basePath == basePath && it->bits == bits) {
            m_bytes -= it->bytes;
            m_entries.erase(it);
            break;
        }
    }
    if (bytes <= m_limit) {
        evictTo(m_limit - bytes);
        m_entries.push_front(Entry{basePath, bits, stamp, image, bytes});
        m_bytes += bytes;
    }
    return image;
}

void QiImageCache::evictTo(size_t limit)
{
    while (m_bytes > limit && !m_entries.empty()) {
        m_bytes -= m_entries.back().bytes;
        m_entries.pop_back();
    }
}

uint64_t QiImageCache::decodes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_decodes;
}

size_t QiImageCache::bytes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes;
}

size_t QiImageCache::entries() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_entries.size();
}

void QiImageCache::clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_entries.clear();
    m_bytes = 0;
}
