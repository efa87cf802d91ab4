// XML-RPC value reading (with a write/read round trip), request handling
// on a bare server and header scanning on arbitrary bytes, each within a
// time linear in the input; every answer is a well-formed response. The input is also read repeated to about 64 KiB: a path that costs
// more than linear time (a search per element to the end of the text) shows
// there, where a small input hides it.
#include "FuzzClock.h"
#include "FuzzXml.h"
#include "XmlRpcServer.h"
#include "XmlRpcServerConnection.h"
#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params; }
};

// What an input may cost in CPU time: a fixed allowance for an instrumented
// build, then a time per byte far above what linear reading takes.
constexpr double kFixedSeconds = 1.0;
constexpr double kSecondsPerByte = 20e-6;
constexpr size_t kRepeatedBytes = 64 * 1024;

void checkTime(double t0, size_t bytes, const char *what)
{
    const double took = fuzzclock::now() - t0;
    const double allowed = kFixedSeconds + kSecondsPerByte * static_cast<double>(bytes);
    if (took > allowed) {
        fprintf(stderr, "%s of %zu bytes took %.3f s (allowed %.3f s)\n", what, bytes, took, allowed);
        abort();
    }
}

XmlRpcServer *server()
{
    static XmlRpcServer *s = [] {
        auto *srv = new XmlRpcServer;
        new Echo(srv);
        srv->enableIntrospection(true);
        return srv;
    }();
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    double t0 = fuzzclock::now();

    size_t offset = 0;
    XmlRpcValue v;
    const bool read = v.fromXml(text, &offset);
    if (read && offset > size)
        abort();
    if (read && v.valid()) {
        // What was read writes out as text that reads back equal.
        std::string xml = v.toXml();
        size_t again = 0;
        XmlRpcValue back(xml, &again);
        if (!back.valid())
            abort();
        // Member names are taken raw and doubles print with "%f": only
        // values free of both must come back equal. Strings with bytes XML
        // cannot carry are written with replacements.
        // A nil inside an array is an invalid element, which writes as
        // nothing.
        bool exact = xml.find("<struct>") == std::string::npos && xml.find("<double>") == std::string::npos &&
                     xml.find("\xEF\xBF\xBD") == std::string::npos && text.find("<nil") == std::string::npos;
        if (exact && !(back == v))
            abort();
    } else if (!read && offset != 0) {
        abort();
    }

    fuzzxml::checkResponse(server()->executeRequest(text));
    XmlRpcHeaderScan::scan(text);
    XmlRpcHeaderScan::scan(text, true);
    checkTime(t0, size, "one input");

    if (size == 0)
        return 0;
    std::string repeated;
    repeated.reserve(kRepeatedBytes + size);
    while (repeated.size() < kRepeatedBytes)
        repeated += text;
    t0 = fuzzclock::now();
    XmlRpcScanner scanner(repeated);
    offset = 0;
    XmlRpcValue big(scanner, &offset);
    // Within its budget the reader keeps to the reading rules; running out
    // means some path costs more than linear work.
    if (scanner.exhausted()) {
        fprintf(stderr, "reading %zu repeated bytes ran out of its work budget\n", repeated.size());
        abort();
    }
    server()->executeRequest(repeated);
    checkTime(t0, repeated.size(), "the repeated input");
    return 0;
}
