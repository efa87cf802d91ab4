// Discovery datagrams: the records an answer datagram holds, and a real
// responder on loopback given the input as a request. Whatever arrives, the
// records read back to the same bytes with a bounded host name, and the
// responder answers with exactly its one 28-byte record.
#include "RnServiceRequestor.h"
#include "RnServiceResponder.h"

#include "QiLog.h"
#include "QiOutput.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};

int loopbackSocket(uint16_t &port)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        std::fprintf(stderr, "no loopback socket\n");
        std::abort();
    }
    port = ntohs(a.sin_port);
    return s;
}

struct Fixture {
    int asker = -1, answers = -1;
    uint16_t askerPort = 0, answerPort = 0;
    std::unique_ptr<RnServiceResponder> responder;
    uint8_t expected[RnServiceRecord::kSize];

    Fixture()
    {
        swapLogOutput(std::make_unique<Discard>());
        asker = loopbackSocket(askerPort);
        answers = loopbackSocket(answerPort);
        responder = std::make_unique<RnServiceResponder>(0, answerPort, 4242);
        responder->addService();
        if (!responder->start()) {
            std::fprintf(stderr, "the responder did not start\n");
            std::abort();
        }
        responder->services().front().toBytes(expected);
    }
};

Fixture &fixture()
{
    static Fixture *f = new Fixture;
    return *f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fixture &f = fixture();

    const std::vector<RnServiceRecord> records = RnServiceRequestor::recordsIn(data, size);
    if (records.size() != size / RnServiceRecord::kSize)
        std::abort();
    for (size_t i = 0; i < records.size(); ++i) {
        uint8_t back[RnServiceRecord::kSize];
        records[i].toBytes(back);
        if (std::memcmp(back, data + i * RnServiceRecord::kSize, sizeof back) != 0 ||
            strnlen(records[i].hostName, sizeof records[i].hostName) > RnServiceRecord::kNameBytes) {
            std::fprintf(stderr, "record %zu does not read back\n", i);
            std::abort();
        }
    }

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(f.responder->port());
    const size_t length = std::min<size_t>(size, 65507);
    if (sendto(f.asker, data, length, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
        return 0;
    // The answer comes from the responder's own thread: a fuzzer niced
    // beside builds once waited over 10 s for that thread to be scheduled,
    // so only a minute without an answer counts as a lost one.
    // libFuzzer's own timer interrupts the wait now and then: wait on for
    // what is left of the minute.
    pollfd p{f.answers, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR || left.count() <= 0)
            break;
    }
    if (ready <= 0) {
        std::fprintf(stderr, "no answer to a datagram of %zu bytes\n", length);
        std::abort();
    }
    uint8_t answer[512];
    const ssize_t n = recv(f.answers, answer, sizeof answer, 0);
    if (n != static_cast<ssize_t>(RnServiceRecord::kSize) || std::memcmp(answer, f.expected, sizeof f.expected) != 0) {
        std::fprintf(stderr, "the answer is not the service record (%zd bytes)\n", n);
        std::abort();
    }
    return 0;
}
