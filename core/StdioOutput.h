#pragma once
#include "QiOutput.h"
#include <cstdio>

// Log output on a stdio stream; the standard output by default.
class StdioOutput : public QiOutput {
public:
    explicit StdioOutput(FILE *stream = stdout, bool ownsStream = false, int levelLimit = 6);
    ~StdioOutput() override;
    bool write(const char *bytes, size_t length) override;

private:
    FILE *m_stream;
    bool m_owns;
};
