// Request parsing and dispatch through the generator's own methods, on a
// real engine with every built-in pattern, driving a simulated Kona board
// (720 x 486, so a frame is cheap): SetGen with any keys and values,
// PatternOption, GetGenOptions, SetAlias, MMCAlias, the rest, and
// system.multicall of them.
//
// Input: a first byte below 0x80 takes the rest as a request body as it
// came off the wire. Otherwise the rest is read as a little program that
// builds a call from the generator's own vocabulary (method names, pattern
// and alias names, option names, enumeration values, numbers at the
// limits), so that the fuzzer reaches the engine's rules quickly.
//
// Every answer must be a well-formed response, every input is drawn before
// the next one starts (the render thread keeps up), and the engine must go
// on accepting requests: nothing a client sends may stop it.
#include "FuzzXml.h"

#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "QiOutput.h"
#include "SimBoards.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};

// "Log" would send the log to whatever host the input names: only loopback
// here, whatever the input says.
class LoopbackSetGen : public XmlRpcServerMethod {
public:
    LoopbackSetGen(XmlRpcServer *server, XmlRpcServerMethod *real) : XmlRpcServerMethod("SetGen", server), m_real(real)
    {
    }
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        if (params.getType() == XmlRpcValue::TypeArray && params.size() > 0) {
            XmlRpcValue &first = params[0];
            if (first.getType() == XmlRpcValue::TypeStruct && first.hasMember("Log") &&
                first["Log"].getType() == XmlRpcValue::TypeString && first["Log"].asString() != "Reset")
                first["Log"] = "127.0.0.1";
        }
        m_real->execute(params, result);
    }
    std::string help() override { return m_real->help(); }

private:
    XmlRpcServerMethod *m_real;
};

struct Fixture {
    std::unique_ptr<KonaRaster> raster;
    OvCore core;
    std::unique_ptr<OvcXmlPrivates> holder;
    std::unique_ptr<LoopbackSetGen> setGen;
    std::string folder;
    // The vocabulary the structured inputs draw from.
    std::vector<std::string> methods, patterns, keys, values;

    Fixture()
    {
        swapLogOutput(std::make_unique<Discard>());
        setenv("ORVANE_SIM_KONA", "videoformat=32", 1);
        unsetenv("ORVANE_SIM_CAPTURE");
        SimBoards::selectKona();
        raster = std::make_unique<KonaRaster>();
        if (!raster->init()) {
            std::fprintf(stderr, "the simulated Kona board did not start\n");
            std::abort();
        }
        core.start(raster.get(), ORVANE_DATA_DIR, ovBuiltinRenderers());
        // Port 9 on loopback: a redirected log goes nowhere.
        holder = std::make_unique<OvcXmlPrivates>(&core, false, 9);
        holder->server().enableIntrospection(true);
        XmlRpcServerMethod *real = holder->server().findMethod("SetGen");
        setGen = std::make_unique<LoopbackSetGen>(&holder->server(), real);

        // A folder of small images for MMCAlias, and names that lie.
        char tmpl[] = "/tmp/orvane-fuzz-XXXXXX";
        folder = mkdtemp(tmpl) ? tmpl : "/tmp";
        writeFolder();

        XmlRpcValue list;
        holder->server().listMethods(list);
        for (int i = 0; i < list.size(); ++i)
            methods.push_back(list[i].asString());
        QiParams names;
        core.listPatterns(names);
        std::set<std::string> k{"Pattern", "AliasName", "AliasType", "Prefix", "Path", "Log", "CyanidePill",
                                "methodName", "params", "Name", "Folder", "Anchor", "nVres", "vres0", "nF0",
                                "r0-f0", "r1080-f0", "nF1080"};
        std::set<std::string> v{"toggle", "TOGGLE", "Pattern", "Reset", "flush", folder, folder + "/missing", "",
                                "0", "-1", "1", "255", "1023", "65535", "2147483647", "-2147483648", "4294967296",
                                "0x7fffffff", "010", "1e308", "-1e308", "nan", "inf", "1e-320", "0.5", "100",
                                "true", "false", "yes", "\xff\xfe", std::string("a\0b", 3), "\x01", "a<b&c"};
        for (const auto &[name, text] : names) {
            patterns.push_back(name);
            std::vector<QiParams> opts;
            if (!core.getPatternOpts(name.c_str(), opts))
                continue;
            for (const QiParams &o : opts)
                addOption(o, k, v);
        }
        std::vector<QiParams> gen;
        core.getGenOptions(gen);
        for (const QiParams &o : gen)
            addOption(o, k, v);
        keys.assign(k.begin(), k.end());
        values.assign(v.begin(), v.end());
    }

    static void addOption(const QiParams &o, std::set<std::string> &k, std::set<std::string> &v)
    {
        const char *name = nullptr, *type = nullptr;
        if (!o.get("Name", name))
            return;
        o.get("DataType", type);
        if (type && std::strcmp(type, "RGB") == 0) {
            for (const char *c : {"_Red", "_Green", "_Blue"})
                k.insert(std::string(name) + c);
        } else {
            k.insert(name);
        }
        for (const auto &[key, value] : o)
            if (key != "Name" && key != "Description" && key != "DataType")
                v.insert(value);
    }

    void writeFolder()
    {
        // A 2 x 2 PNG, and files whose names ask for many frames.
        static const unsigned char png[] = {
            0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
            0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00,
            0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x68, 0x00, 0x03, 0x06, 0x08, 0x05, 0x00, 0x2a, 0x0e, 0x06,
            0x01, 0x15, 0x9e, 0x42, 0xd7, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
        for (const char *n : {"A.png", "A-1080.png", "A-1080~1.png", "B~9999.png", "C-480~3.png", "D-2160"}) {
            std::ofstream f(folder + "/" + n, std::ios::binary);
            f.write(reinterpret_cast<const char *>(png), sizeof png);
        }
        std::ofstream(folder + "/notanimage.png") << "not an image";
    }
};

Fixture &fixture()
{
    static Fixture *f = new Fixture; // lives as long as the process
    return *f;
}

// Reads the structured input a byte or a few at a time; zeros at the end.
class Reader {
public:
    Reader(const uint8_t *d, size_t n) : m_d(d), m_n(n) {}
    bool more() const { return m_i < m_n; }
    uint8_t byte() { return m_i < m_n ? m_d[m_i++] : 0; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return v;
    }
    std::string bytes(size_t n)
    {
        n = std::min(n, m_n - m_i);
        std::string s(reinterpret_cast<const char *>(m_d + m_i), n);
        m_i += n;
        return s;
    }
    const std::string &pick(const std::vector<std::string> &list)
    {
        static const std::string empty;
        if (list.empty())
            return empty;
        const uint32_t i = static_cast<uint32_t>(byte()) << 8 | byte();
        return list[i % list.size()];
    }

private:
    const uint8_t *m_d;
    size_t m_n;
    size_t m_i = 0;
};

XmlRpcValue makeValue(Reader &r, Fixture &f, int depth);

std::string makeText(Reader &r, Fixture &f)
{
    switch (r.byte() % 5) {
    case 0: return r.pick(f.values);
    case 1: return r.pick(f.patterns);
    case 2: return r.pick(f.keys);
    case 3: return std::to_string(static_cast<int32_t>(r.u32()));
    default: return r.bytes(r.byte() % 48);
    }
}

XmlRpcValue makeStruct(Reader &r, Fixture &f, int depth, bool options)
{
    XmlRpcValue s{XmlRpcValue::ValueStruct{}};
    if (options)
        s["Pattern"] = r.pick(f.patterns);
    const int members = r.byte() % 8;
    for (int i = 0; i < members && r.more(); ++i) {
        const std::string key = (r.byte() & 7) == 0 ? r.bytes(r.byte() % 24) : r.pick(f.keys);
        s[key] = options && (r.byte() & 3) ? XmlRpcValue(makeText(r, f)) : makeValue(r, f, depth + 1);
    }
    return s;
}

XmlRpcValue makeValue(Reader &r, Fixture &f, int depth)
{
    const int kind = r.byte() % (depth > 6 ? 7 : 10);
    switch (kind) {
    case 0: return XmlRpcValue((r.byte() & 1) != 0);
    case 1: return XmlRpcValue(static_cast<int>(r.u32()));
    case 2: {
        static const double specials[] = {0.0, -0.0, 0.5, 1e308, -1e308, 1e-320, 2147483648.0, -1.5, 100.0, 1e20};
        const uint8_t b = r.byte();
        if (b < 200)
            return XmlRpcValue(specials[b % 10]);
        uint64_t bits = static_cast<uint64_t>(r.u32()) << 32 | r.u32();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return XmlRpcValue(d);
    }
    case 3:
    case 4: return XmlRpcValue(makeText(r, f));
    case 5: {
        std::tm t{};
        t.tm_year = r.byte() + 1900;
        t.tm_mon = r.byte() % 13;
        t.tm_mday = r.byte() % 32;
        return XmlRpcValue(t);
    }
    case 6: {
        const std::string b = r.bytes(r.byte());
        return XmlRpcValue(b.data(), b.size());
    }
    case 7: {
        XmlRpcValue a{XmlRpcValue::ValueArray{}};
        const int n = r.byte() % 6;
        for (int i = 0; i < n && r.more(); ++i)
            a[i] = makeValue(r, f, depth + 1);
        return a;
    }
    case 8: return makeStruct(r, f, depth, true);
    default: return makeStruct(r, f, depth, false);
    }
}

// One call as the wire carries it; multicalls get a list of such calls.
std::string structuredBody(Reader &r, Fixture &f)
{
    const std::string method = r.pick(f.methods);
    XmlRpcValue params{XmlRpcValue::ValueArray{}};
    if (method == "system.multicall") {
        XmlRpcValue calls{XmlRpcValue::ValueArray{}};
        const int n = r.byte() % 8;
        for (int i = 0; i < n && r.more(); ++i) {
            XmlRpcValue call;
            call["methodName"] = r.pick(f.methods);
            XmlRpcValue p{XmlRpcValue::ValueArray{}};
            p[0] = makeValue(r, f, 1);
            call["params"] = (r.byte() & 7) ? p : makeValue(r, f, 1);
            calls[i] = call;
        }
        params[0] = calls;
    } else {
        const int n = r.byte() % 4;
        for (int i = 0; i < n; ++i)
            params[i] = makeValue(r, f, 0);
    }
    std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n<params>";
    for (int i = 0; i < params.size(); ++i)
        body += "<param>" + params[i].toXml() + "</param>";
    return body + "</params></methodCall>\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fixture &f = fixture();
    if (size == 0)
        return 0;
    std::string body;
    if (data[0] < 0x80) {
        body.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    } else {
        Reader r(data + 1, size - 1);
        body = structuredBody(r, f);
    }
    fuzzxml::checkResponse(f.holder->server().executeRequest(body));

    // Everything queued so far is drawn before the next input; a request
    // that could not be queued means the render thread is gone.
    int32_t id = f.core.post(QiParams());
    while (id == OvCore::kRefused) {
        // A full queue drains; a refusal with room in it is a stopped engine.
        if (f.core.queuedRequests() == 0) {
            std::fprintf(stderr, "the engine refuses requests after this input\n");
            std::abort();
        }
        usleep(1000);
        id = f.core.post(QiParams());
    }
    bool result = false;
    f.core.waitTransaction(id, result);
    return 0;
}
