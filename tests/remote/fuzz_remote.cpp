// libFuzzer: value reading (with a write/read round trip), request handling
// and header scanning on arbitrary bytes.
#include "XmlRpcServer.h"
#include "XmlRpcServerConnection.h"
#include "XmlRpcValue.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static XmlRpcServer *server = [] {
        auto *s = new XmlRpcServer;
        new Echo(s);
        s->enableIntrospection(true);
        return s;
    }();
    std::string text(reinterpret_cast<const char *>(data), size);

    size_t offset = 0;
    XmlRpcValue v(text, &offset);
    if (v.valid()) {
        // What was read writes out as text that reads back equal.
        std::string xml = v.toXml();
        size_t again = 0;
        XmlRpcValue back(xml, &again);
        if (!back.valid())
            abort();
        // Member names are taken raw and doubles print with "%f": only
        // values free of both must come back equal.
        bool exact = xml.find("<struct>") == std::string::npos && xml.find("<double>") == std::string::npos;
        if (exact && !(back == v))
            abort();
    } else if (offset != 0) {
        abort();
    }

    std::string response = server->executeRequest(text);
    if (response.compare(0, 17, "HTTP/1.1 200 OK\r\n") != 0)
        abort();
    XmlRpcHeaderScan::scan(text);
    XmlRpcHeaderScan::scan(text, true);
    return 0;
}
