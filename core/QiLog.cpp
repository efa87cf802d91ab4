#include "QiLog.h"

#include "StdioOutput.h"
#include "UdpOutput.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

const char *const kPrefixes[] = {"Error: ", "Warning: ", "Info: ", "Minutiae: ", "HDMI", "Noise: "};

struct LogState {
    std::mutex lock;                 // held while an output is used or swapped
    std::unique_ptr<QiOutput> current = std::make_unique<StdioOutput>(stdout, false, 6);
    std::unique_ptr<QiOutput> setAside;
};

LogState &state()
{
    static LogState *s = new LogState; // never destroyed: logging works during exit
    return *s;
}

// Stands for "whatever output is current"; never written to directly.
class CurrentOutput : public QiOutput {
public:
    bool write(const char *, size_t) override { return false; }
};

CurrentOutput g_current;

// Lines read the same whatever the user's locale: a render time "%g" is
// 0.012, never 0,012. The C locale is made once and never freed.
class ClassicNumbers {
public:
    ClassicNumbers() : m_old(uselocale(classic())) {}
    ~ClassicNumbers() { uselocale(m_old); }
    ClassicNumbers(const ClassicNumbers &) = delete;
    ClassicNumbers &operator=(const ClassicNumbers &) = delete;

private:
    static locale_t classic()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c;
    }
    locale_t m_old;
};

std::string formatLine(int level, const char *format, va_list ap)
{
    ClassicNumbers classic;
    std::string line = logPrefix(level);
    size_t prefix = line.size();
    char small[256];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return line;
    if (static_cast<size_t>(n) < sizeof small) {
        line.append(small, static_cast<size_t>(n));
    } else {
        line.resize(prefix + static_cast<size_t>(n) + 1);
        vsnprintf(line.data() + prefix, static_cast<size_t>(n) + 1, format, ap);
        line.resize(prefix + static_cast<size_t>(n));
    }
    return line;
}

bool vlog(QiOutput *output, int level, const char *format, va_list ap)
{
    if (output == &g_current || output == nullptr) {
        LogState &s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.current->level() < level)
            return true;
        std::string line = formatLine(level, format, ap);
        s.current->write(line.data(), line.size());
        return true;
    }
    if (output->level() < level)
        return true;
    std::string line = formatLine(level, format, ap);
    output->write(line.data(), line.size());
    return true;
}

} // namespace

const char *logPrefix(int level)
{
    if (level < 0 || level > 5)
        return "";
    return kPrefixes[level];
}

QiOutput *logOutput() { return &g_current; }

bool log(QiOutput *output, int level, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    bool r = vlog(output, level, format, ap);
    va_end(ap);
    return r;
}

bool qiLog(int level, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    bool r = vlog(&g_current, level, format, ap);
    va_end(ap);
    return r;
}

void redirectToNet(const char *host, uint16_t port)
{
    // Resolve outside the lock: a slow resolver must not stall every logger.
    auto net = std::make_unique<UdpOutput>(host, port);
    LogState &s = state();
    std::unique_ptr<QiOutput> old;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.setAside)
            s.setAside = std::move(s.current);
        else
            old = std::move(s.current);
        s.current = std::move(net);
    }
}

bool redirectToLocal()
{
    LogState &s = state();
    std::unique_ptr<QiOutput> net;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.setAside)
            return false;
        net = std::move(s.current);
        s.current = std::move(s.setAside);
    }
    return true;
}

std::unique_ptr<QiOutput> swapLogOutput(std::unique_ptr<QiOutput> output)
{
    LogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::unique_ptr<QiOutput> old = std::move(s.current);
    s.current = output ? std::move(output) : std::make_unique<StdioOutput>(stdout, false, 6);
    return old;
}
