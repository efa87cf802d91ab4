#pragma once
#include <cstddef>

// Destination of diagnostic lines. A line is written when its level is not
// above the output's level limit.
class QiOutput {
public:
    explicit QiOutput(int levelLimit = 6) : m_level(levelLimit) {}
    virtual ~QiOutput() = default;

    // Delivers one complete line (no terminating zero). Called with the log
    // lock held, so implementations need no locking of their own.
    virtual bool write(const char *bytes, size_t length) = 0;

    int level() const { return m_level; }
    void setLevel(int level) { m_level = level; }

    QiOutput(const QiOutput &) = delete;
    QiOutput &operator=(const QiOutput &) = delete;

private:
    int m_level;
};
