#pragma once
#include "OvcPatch.h"

#include <atomic>
#include <string>
#include <thread>

// Plays the web browser of ArgyllCMS's "-d web" mode: asks
// "GET /ajax/messages?<counter>", reads the answer to the end of the
// connection and shows the colour full field. Argyll takes the next GET as
// the sign that the patch is displayed, so exactly one request is ever
// outstanding, the next is sent only once the frame is on the output, and
// a request is never timed out, repeated or doubled.
class OvcArgyllWebClient {
public:
    static constexpr int kPort = 8080;
    // A longer answer is refused (the colour takes 7 bytes).
    static constexpr size_t kMaxAnswer = 64 * 1024;
    static constexpr std::chrono::milliseconds kFirstBackoff{250};
    static constexpr std::chrono::milliseconds kMaxBackoff{5000};
    static constexpr std::chrono::milliseconds kConnectLimit{5000};

    OvcArgyllWebClient(OvCore *engine, const std::string &host, int port);
    ~OvcArgyllWebClient();
    void start();
    // Closes the connection (no farewell request) and joins the thread.
    void stop();

    // An answer body: "#RRGGBB" (8-bit, full field), or
    // "#fg|#bg|x|y|w|h" with the geometry in fractions of the frame.
    static bool parseAnswer(const std::string &body, OvcPatch &patch, std::string &error);
    // The body of a whole HTTP response; false when the status is not 200
    // or the response is cut short.
    static bool responseBody(const std::string &response, std::string &body, std::string &error);

    const std::string &host() const { return m_host; }
    int port() const { return m_port; }
    uint64_t requests() const { return m_requests.load(); }
    uint64_t shown() const { return m_shown.load(); }

    OvcArgyllWebClient(const OvcArgyllWebClient &) = delete;
    OvcArgyllWebClient &operator=(const OvcArgyllWebClient &) = delete;

private:
    void run();
    // One request and its answer; false (reason in why) when none came.
    bool exchange(int fd, uint64_t counter, std::string &response, std::string &why);

    OvcPatchSink m_sink;
    std::string m_host;
    int m_port;
    OvcWake m_wake;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_requests{0}, m_shown{0};
};
