#pragma once
// What the calibration programs' protocols share: the patch they ask for,
// shown through the "Patch" pattern in lock-step with the output, and the
// small socket chores of a client that connects out.
#include "QiParams.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class OvCore;

// One patch: code values at their own depths, geometry in fractions of the
// frame (top-left corner and size).
struct OvcPatch {
    uint32_t fg[3] = {0, 0, 0};
    int32_t fgBits = 8;
    uint32_t bg[3] = {0, 0, 0};
    int32_t bgBits = 8;
    double x = 0.0, y = 0.0, cx = 1.0, cy = 1.0;
    // Leave the frame around the patch as it is.
    bool keepBg = false;

    // The request for the "Patch" pattern.
    QiParams params() const;
};

// Shows patches on the engine, one at a time, each returning only once its
// frame has been handed to the output (the next message must never see the
// previous patch still on screen).
class OvcPatchSink {
public:
    // How long a show waits for its frame before giving up on it.
    static constexpr std::chrono::milliseconds kFrameWait{10000};
    // A full queue is retried this often, for at most kFrameWait.
    static constexpr std::chrono::milliseconds kRetry{5};

    OvcPatchSink(OvCore *engine, const char *who) : m_engine(engine), m_who(who) {}
    // False when the engine refused it or did not show it in time (logged).
    // running, when given and false, ends a retry early.
    bool show(const OvcPatch &patch, const std::atomic<bool> *running = nullptr);
    OvCore *engine() const { return m_engine; }

private:
    OvCore *m_engine;
    const char *m_who;
};

namespace OvcNet {

// "HOST", "HOST:PORT", "[v6]" or "[v6]:PORT". False on an empty host or a
// port outside 1 .. 65535.
bool splitHostPort(const std::string &text, int defaultPort, std::string &host, int &port);
// A connected, non-blocking TCP socket to host:port, or -1 with the reason
// in error. Gives up after limit, or at once when wakeFd becomes readable.
int connectTo(const std::string &host, int port, std::chrono::milliseconds limit, int wakeFd, std::string &error);
// Closes with a reset (the peer's next send fails at once instead of
// filling a dead connection).
void closeWithReset(int fd);
// Waits for fd to be readable (or writable); false when wakeFd fired first
// or limit (negative: none) passed.
bool waitFor(int fd, bool writable, int wakeFd, int limitMs = -1);
// Sleeps for limit unless wakeFd fires; false when it fired.
bool pause(std::chrono::milliseconds limit, int wakeFd);
// Sends all of s (waiting while the socket is full); false on error or wake.
bool sendAll(int fd, const std::string &s, int wakeFd);
// A decimal integer, optionally signed, blanks around it allowed.
bool parseInt(const std::string &text, long long &out);
// A decimal real; a decimal comma is taken as a point.
bool parseReal(const std::string &text, double &out);
// This machine's name.
std::string hostName();

} // namespace OvcNet

// The wake-up of a client thread: a readable descriptor once fired.
class OvcWake {
public:
    OvcWake();
    ~OvcWake();
    int fd() const { return m_fd; }
    void fire();
    OvcWake(const OvcWake &) = delete;
    OvcWake &operator=(const OvcWake &) = delete;

private:
    int m_fd = -1;
};
