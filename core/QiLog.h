#pragma once
#include "QiOutput.h"
#include <cstdint>
#include <memory>

// Diagnostic log. Levels: 0 error, 1 warning, 2 info, 3 minutiae, 4 HDMI,
// 5 noise. Messages carry their own line end.

// The process-wide current output. Lines logged to it are delivered to
// whichever output is current at the moment of the call; swapping outputs
// while other threads log is safe.
QiOutput *logOutput();

// printf-style: formats, prefixes with the level text and writes the line in
// one write. Returns true. Lines above the output's limit are not formatted.
bool log(QiOutput *output, int level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Shorthand for log(logOutput(), ...).
bool qiLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Sets the local output aside (once) and makes a UDP output to host current.
void redirectToNet(const char *host, uint16_t port = 5112);
// Restores the set-aside local output; false when nothing was redirected.
bool redirectToLocal();

// Replaces the current output, returning the previous one (tests, tools).
std::unique_ptr<QiOutput> swapLogOutput(std::unique_ptr<QiOutput> output);

// The prefix written in front of lines of this level ("" outside 0..5).
const char *logPrefix(int level);
