// The ArgyllCMS web-display client against a test HTTP server that answers
// the poll as ArgyllCMS's -d web server does (no Content-Length, then close),
// with the generator on the simulated board.
#include "OvcArgyllWebClient.h"
#include "ProtocolHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

using namespace prototest;

namespace {

std::string hex(int r, int g, int b)
{
    char t[8];
    std::snprintf(t, sizeof t, "#%02X%02X%02X", r, g, b);
    return t;
}

std::string ok(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-cache\r\n\r\n" + body;
}

// Serves one poll at a time: answer(k, request) gives the k-th response
// (k from 1), or "" to hold the request until the server stops.
class PollServer {
public:
    explicit PollServer(std::function<std::string(int, const std::string &)> answer) : m_answer(std::move(answer))
    {
        m_thread = std::thread([this] { serve(); });
    }
    ~PollServer()
    {
        m_stop.store(true);
        m_thread.join();
    }
    int port() const { return m_listener.port; }
    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_requests;
    }
    // Connections made while another request was still unanswered.
    int overlaps() const { return m_overlaps.load(); }
    // Whether the peer closed a held request.
    bool heldClosed() const { return m_heldClosed.load(); }

private:
    void serve()
    {
        int k = 0;
        while (!m_stop.load()) {
            pollfd p{m_listener.fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const int c = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::string req;
            char buf[2048];
            while (req.find("\r\n\r\n") == std::string::npos && !m_stop.load()) {
                pollfd q{c, POLLIN, 0};
                if (poll(&q, 1, 20) <= 0)
                    continue;
                const ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                req.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> g(m_lock);
                m_requests.push_back(req.substr(0, req.find("\r\n")));
            }
            const std::string answer = m_answer(++k, req);
            if (answer.empty()) {
                // Held: nobody else may come meanwhile.
                while (!m_stop.load()) {
                    pollfd q[2] = {{m_listener.fd, POLLIN, 0}, {c, POLLIN, 0}};
                    if (poll(q, 2, 20) <= 0)
                        continue;
                    if (q[0].revents & POLLIN) {
                        ++m_overlaps;
                        const int extra = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
                        if (extra >= 0)
                            close(extra);
                    }
                    if (q[1].revents & (POLLIN | POLLHUP)) {
                        m_heldClosed.store(recv(c, buf, sizeof buf, 0) <= 0);
                        break;
                    }
                }
            } else {
                sendAll(c, answer);
            }
            close(c);
        }
    }

    Listener m_listener;
    std::function<std::string(int, const std::string &)> m_answer;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::atomic<int> m_overlaps{0};
    std::atomic<bool> m_heldClosed{false};
};

} // namespace

TEST(ArgyllWebClient, AnswersAndResponsesAreRead)
{
    OvcPatch p;
    std::string error;
    ASSERT_TRUE(OvcArgyllWebClient::parseAnswer("#EB8010", p, error)) << error;
    EXPECT_EQ(p.fg[0], 235u);
    EXPECT_EQ(p.fg[1], 128u);
    EXPECT_EQ(p.fg[2], 16u);
    EXPECT_EQ(p.bg[0], 235u);
    EXPECT_EQ(p.fgBits, 8);
    EXPECT_DOUBLE_EQ(p.cx, 1.0);
    ASSERT_TRUE(OvcArgyllWebClient::parseAnswer(" #ffffff|#101010|0.25|0,3|0.5|0.4\r\n", p, error)) << error;
    EXPECT_EQ(p.fg[2], 255u);
    EXPECT_EQ(p.bg[0], 16u);
    EXPECT_DOUBLE_EQ(p.x, 0.25);
    EXPECT_DOUBLE_EQ(p.y, 0.3);
    EXPECT_DOUBLE_EQ(p.cx, 0.5);
    EXPECT_DOUBLE_EQ(p.cy, 0.4);
    for (const char *bad : {"", "#12345", "#1234567", "#GG0000", "red", "#000000|#000000|0|0|1",
                            "#000000|#000000|0|0|1|x", "#000000|#000000|0|0|1|1|1", "#000000|zz|0|0|1|1"})
        EXPECT_FALSE(OvcArgyllWebClient::parseAnswer(bad, p, error)) << bad;

    std::string body;
    ASSERT_TRUE(OvcArgyllWebClient::responseBody(ok("#010203"), body, error)) << error;
    EXPECT_EQ(body, "#010203");
    ASSERT_TRUE(OvcArgyllWebClient::responseBody("HTTP/1.0 200 OK\r\ncontent-length: 3\r\n\r\n#01xxxx", body, error));
    EXPECT_EQ(body, "#01");
    EXPECT_FALSE(OvcArgyllWebClient::responseBody("HTTP/1.1 404 Not Found\r\n\r\n#010203", body, error));
    EXPECT_NE(error.find("404"), std::string::npos);
    EXPECT_FALSE(OvcArgyllWebClient::responseBody("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n#01", body, error));
    EXPECT_FALSE(OvcArgyllWebClient::responseBody("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n#01", body, error));
    EXPECT_FALSE(OvcArgyllWebClient::responseBody("#010203", body, error));
}

TEST(ArgyllWebClient, EachPollFollowsThePreviousFrameOnTheOutputOneAtATime)
{
    SimGenerator gen;
    const std::vector<int> greys = {16, 60, 100, 128, 180, 235, 254, 1};
    std::vector<int> seenAtRequest; // the output's centre luma when poll k arrived
    std::mutex m;
    PollServer server([&](int k, const std::string &) -> std::string {
        const SimFrame f = gen.output();
        {
            std::lock_guard<std::mutex> g(m);
            seenAtRequest.push_back(lumaAt(f, 960, 540));
        }
        if (k <= static_cast<int>(greys.size())) {
            const int v = greys[static_cast<size_t>(k) - 1];
            return ok(hex(v, v, v));
        }
        return "";
    });
    OvcArgyllWebClient client(&gen.core, "127.0.0.1", server.port());
    client.start();
    ASSERT_TRUE(gen.waitShown([&](const std::vector<Shown> &s) { return s.size() >= greys.size(); }));
    // The last poll is held: nothing else arrives meanwhile.
    std::this_thread::sleep_for(600ms);
    const auto shown = gen.raster->take();
    ASSERT_EQ(shown.size(), greys.size());
    for (size_t i = 0; i < greys.size(); ++i) {
        EXPECT_EQ(shown[i].centre, greys[i] * 4) << i;
        EXPECT_EQ(shown[i].corner, greys[i] * 4) << i;
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), greys.size() + 1);
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i], "GET /ajax/messages?" + std::to_string(i + 1) + " HTTP/1.1");
    {
        std::lock_guard<std::mutex> g(m);
        // Poll k + 1 came when patch k was on the output.
        for (size_t k = 1; k < seenAtRequest.size(); ++k)
            EXPECT_EQ(seenAtRequest[k], greys[k - 1] * 4) << k;
    }
    EXPECT_EQ(server.overlaps(), 0);
    // Shutdown just closes the held request, at once.
    const auto t0 = std::chrono::steady_clock::now();
    client.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(server.heldClosed());
    EXPECT_EQ(server.requests().size(), greys.size() + 1);
}

TEST(ArgyllWebClient, RichAnswersAndHostileServers)
{
    SimGenerator gen;
    PollServer server([&](int k, const std::string &) -> std::string {
        switch (k) {
        case 1: return ok("#EBEBEB|#101010|0.25|0.25|0.5|0.5");
        case 2: return "HTTP/1.1 404 Not Found\r\n\r\nnothing here";
        case 3: return ok(std::string(100 * 1024, '#'));
        case 4: return ok("#GGGGGG");
        case 5: return "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: keep-alive\r\n\r\n#808080";
        case 6: return ok("#C8C8C8");
        default: return "";
        }
    });
    OvcArgyllWebClient client(&gen.core, "127.0.0.1", server.port());
    client.start();
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return !s.empty(); }));
    SimFrame f = gen.output();
    EXPECT_EQ(lumaAt(f, 479, 540), 64);
    EXPECT_EQ(lumaAt(f, 480, 540), 940);
    EXPECT_EQ(lumaAt(f, 1439, 809), 940);
    EXPECT_EQ(lumaAt(f, 1440, 809), 64);
    EXPECT_EQ(lumaAt(f, 1000, 810), 64);
    // Refusals are logged and followed by one poll each after a pause; a
    // server that gives a length is not waited on to close.
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return s.size() >= 3; }, 15s)) << gen.log->text();
    const auto shown = gen.raster->take();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].centre, 128 * 4);
    EXPECT_EQ(shown[2].centre, 200 * 4);
    EXPECT_TRUE(gen.log->has("status 'HTTP/1.1 404 Not Found'")) << gen.log->text();
    EXPECT_TRUE(gen.log->has("longer than 65536 bytes")) << gen.log->text();
    EXPECT_TRUE(gen.log->has("not a colour: '#GGGGGG'")) << gen.log->text();
    // The seventh poll follows the last frame out; give it time to arrive,
    // and a moment more to show that no eighth follows.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (server.requests().size() < 7 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(server.requests().size(), 7u);
    EXPECT_EQ(server.overlaps(), 0);
    client.stop();
}

TEST(ArgyllWebClient, NobodyListeningIsRetriedWithBackoff)
{
    SimGenerator gen;
    int port;
    {
        Listener probe;
        port = probe.port;
    }
    OvcArgyllWebClient client(&gen.core, "127.0.0.1", port);
    client.start();
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(client.requests(), 0u);
    EXPECT_TRUE(gen.log->has("cannot connect to 127.0.0.1:" + std::to_string(port))) << gen.log->text();
    client.stop();
}
