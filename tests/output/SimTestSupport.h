#pragma once
// Helpers shared by the output tests.
#include "SimBoards.h"
#include "QiSignal.h"
#include "SimKonaBoard.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        const char *old = std::getenv(name);
        if (old) {
            m_had = true;
            m_old = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-output-XXXXXX").string();
        char *made = mkdtemp(pattern.data());
        if (made)
            m_path = made;
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#include "QiLog.h"

#include <memory>
#include <mutex>

// Collects every log line while it lives.
class LogCapture {
public:
    LogCapture()
    {
        auto sink = std::make_unique<Sink>(this);
        m_previous = swapLogOutput(std::move(sink));
    }
    ~LogCapture() { swapLogOutput(std::move(m_previous)); }
    std::string text() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    // Occurrences of needle in the captured text.
    int count(const std::string &needle) const
    {
        std::string all = text();
        int n = 0;
        for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1))
            ++n;
        return n;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.clear();
    }

private:
    class Sink : public QiOutput {
    public:
        explicit Sink(LogCapture *owner) : m_owner(owner) {}
        bool write(const char *bytes, size_t length) override
        {
            std::lock_guard<std::mutex> lock(m_owner->m_mutex);
            m_owner->m_text.append(bytes, length);
            return true;
        }

    private:
        LogCapture *m_owner;
    };
    mutable std::mutex m_mutex;
    std::string m_text;
    std::unique_ptr<QiOutput> m_previous;
};

// The Kona board present with the given video and frame-buffer formats.
inline void konaAt(uint32_t videoFormat, uint32_t fbf)
{
    SimBoards::selectKona();
    SimKonaBoard::instance().setVideoFormat(videoFormat);
    for (uint32_t c = 0; c < SimKonaBoard::kChannels; ++c)
        SimKonaBoard::instance().setFrameBufferFormat(c, fbf);
}

// A described signal with the generator's automatic metadata: none for SDR,
// the mastering display (primaries preset) for PQ only.
inline QiSignal describedSignal(int32_t eotf, int32_t colorimetry, int32_t preset = 0)
{
    QiSignal s;
    s.described = true;
    s.eotf = eotf;
    s.colorimetry = colorimetry;
    s.metadata = eotf != kEotfSdr;
    s.mastering = eotf == kEotfPq;
    qiPrimariesPreset(preset, s);
    return s;
}
