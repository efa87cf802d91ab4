#include "StdioOutput.h"

StdioOutput::StdioOutput(FILE *stream, bool ownsStream, int levelLimit)
    : QiOutput(levelLimit), m_stream(stream), m_owns(ownsStream) {}

StdioOutput::~StdioOutput()
{
    if (m_owns && m_stream)
        fclose(m_stream);
}

bool StdioOutput::write(const char *bytes, size_t length)
{
    // One block per line, no flush: lines stay whole, the stream buffers.
    fwrite(bytes, 1, length, m_stream);
    return true;
}
