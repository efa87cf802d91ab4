#include "OvcXmlMethods.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "RemoteTestEngine.h"
#include "RemoteTestUtil.h"
#include "XmlRpcClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace remotetest;

namespace {

class CaptureOutput : public QiOutput {
public:
    bool write(const char *b, size_t n) override
    {
        std::lock_guard<std::mutex> g(lock);
        text.append(b, n);
        return true;
    }
    std::string get()
    {
        std::lock_guard<std::mutex> g(lock);
        return text;
    }
    std::mutex lock;
    std::string text;
};

// Captures the program log for the life of the object.
struct LogCapture {
    CaptureOutput *out = new CaptureOutput;
    LogCapture() { swapLogOutput(std::unique_ptr<QiOutput>(out)); }
    ~LogCapture() { swapLogOutput(nullptr); }
    std::string text() { return out->get(); }
};

struct Remote {
    TestEngine engine;
    OvcXmlPrivates holder;
    XmlRpcClient client;
    explicit Remote(bool withEngine = true, bool allowPlugins = false, uint16_t logPort = 5112)
        : holder(withEngine ? &engine.core : nullptr, allowPlugins, logPort), client("127.0.0.1", startHolder())
    {
    }
    int startHolder()
    {
        EXPECT_TRUE(holder.start(0, "127.0.0.1"));
        return holder.port();
    }
    // The result of a call that must succeed without a fault.
    XmlRpcValue call(const char *method, const XmlRpcValue &params = XmlRpcValue())
    {
        XmlRpcValue result;
        EXPECT_TRUE(client.execute(method, params, result)) << method;
        EXPECT_FALSE(client.isFault()) << method << ": " << result.toXml();
        return result;
    }
    std::string fault(const char *method, const XmlRpcValue &params)
    {
        XmlRpcValue result;
        EXPECT_TRUE(client.execute(method, params, result));
        EXPECT_TRUE(client.isFault()) << method;
        return result.hasMember("faultString") ? result["faultString"].asString() : std::string();
    }
};

XmlRpcValue one(const XmlRpcValue &v)
{
    XmlRpcValue a;
    a[0] = v;
    return a;
}

bool allMembersAreStrings(const XmlRpcValue &s)
{
    for (const auto &kv : s.structMembers())
        if (kv.second.getType() != XmlRpcValue::TypeString)
            return false;
    return true;
}

} // namespace

TEST(OvcXmlPrivates, SetGenPostsByNameAndByStruct)
{
    Remote r;
    LogCapture log;
    XmlRpcValue id1 = r.call("SetGen", one("TestBars"));
    XmlRpcValue id2 = r.call("SetGen", one("Plain"));
    ASSERT_EQ(id1.getType(), XmlRpcValue::TypeInt);
    EXPECT_EQ(id2.asInt(), id1.asInt() + 1) << "consecutive transaction ids";

    XmlRpcValue s;
    s["Pattern"] = "TestBars";
    s["Steps"] = 8;
    s["Level"] = 0.5;
    s["Flag"] = true;
    s["Bad"][0] = 1; // an array is left out
    XmlRpcValue id3 = r.call("SetGen", one(s));
    EXPECT_EQ(id3.asInt(), id2.asInt() + 1);
    bool ok = false;
    ASSERT_TRUE(r.engine.core.waitTransaction(id3.asInt(), ok) || g_testBars->last().has("Steps"));
    QiParams seen = g_testBars->last();
    const char *v = nullptr;
    ASSERT_TRUE(seen.get("Steps", v));
    EXPECT_STREQ(v, "8");
    ASSERT_TRUE(seen.get("Level", v));
    EXPECT_STREQ(v, "0.500000");
    EXPECT_FALSE(seen.has("Bad"));
    EXPECT_NE(log.text().find("Info: don't know how to translate type=7 for key=Bad\n"), std::string::npos);

    EXPECT_EQ(r.call("SetGen"), XmlRpcValue("bad parameters"));
    EXPECT_EQ(r.call("SetGen", one(5)), XmlRpcValue(-1));
    EXPECT_NE(log.text().find("don't know how to display a pattern for type=2\n"), std::string::npos);
    XmlRpcValue logInt;
    logInt["Log"] = 5;
    EXPECT_EQ(r.fault("SetGen", one(logInt)), "type error");
    EXPECT_EQ(r.call("system.methodHelp", one("SetGen")),
              XmlRpcValue("Generate a Named pattern or set generator parameters.  Pattern can be by string, or "
                          "by structure {Pattern:\"name\", ...}"));
    EXPECT_EQ(r.call("system.methodHelp", one("GetOrvVersion")), r.call("system.methodHelp", one("GetGenOptions")));

    XmlRpcValue names = r.call("system.listMethods");
    const char *want[] = {"GetGenOptions", "GetOrvVersion", "MMCAlias",           "PatternOption",
                          "ReadEdid",      "RescanFormats", "SetAlias",           "SetGen",
                          "system.listMethods", "system.methodHelp", "system.multicall"};
    ASSERT_EQ(names.size(), 11);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(names[i].asString(), want[i]);

    // Without an engine.
    Remote bare(false);
    EXPECT_EQ(bare.call("SetGen", one("TestBars")), XmlRpcValue(-1));
    EXPECT_EQ(bare.call("SetGen", one(s)), XmlRpcValue(-1));
}

TEST(OvcXmlPrivates, LogRedirectionToTheInjectedPort)
{

    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    getsockname(sock, reinterpret_cast<sockaddr *>(&sa), &len);
    auto datagram = [&](int ms) {
        pollfd p{sock, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return std::string();
        char buf[2048];
        ssize_t n = recv(sock, buf, sizeof buf, 0);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    };

    Remote r(true, false, ntohs(sa.sin_port));
    LogCapture local;
    XmlRpcValue reset;
    reset["Log"] = "Reset";
    XmlRpcValue net;
    net["Log"] = "127.0.0.1";
    EXPECT_EQ(r.call("SetGen", one(reset)), XmlRpcValue("Not Redirected"));
    EXPECT_EQ(r.call("SetGen", one(net)), XmlRpcValue("Redirected to Net"));
    qiLog(2, "to the net %d\n", 1);
    EXPECT_EQ(datagram(2000), "Info: to the net 1\n");
    // A second redirection replaces the network output, keeping the local one aside.
    EXPECT_EQ(r.call("SetGen", one(net)), XmlRpcValue("Redirected to Net"));
    qiLog(3, "again\n");
    EXPECT_EQ(datagram(2000), "Minutiae: again\n");
    EXPECT_EQ(r.call("SetGen", one(reset)), XmlRpcValue("Redirected to local"));
    qiLog(1, "home\n");
    EXPECT_EQ(datagram(200), "");
    EXPECT_NE(local.text().find("Warning: home\n"), std::string::npos);
    EXPECT_EQ(local.text().find("to the net"), std::string::npos);
    EXPECT_EQ(r.call("SetGen", one(reset)), XmlRpcValue("Not Redirected"));
    close(sock);
}

TEST(OvcXmlPrivates, PatternOptionAndGenOptions)
{
    Remote r;
    XmlRpcValue list = r.call("PatternOption");
    ASSERT_EQ(list.getType(), XmlRpcValue::TypeStruct);
    EXPECT_EQ(list["TestBars"], XmlRpcValue("$Revision: 1.14 $"));
    EXPECT_EQ(list["Plain"], XmlRpcValue("$Revision: 2.0 $"));

    XmlRpcValue opts = r.call("PatternOption", one("TestBars"));
    ASSERT_EQ(opts.getType(), XmlRpcValue::TypeArray);
    ASSERT_EQ(opts.size(), 2);
    EXPECT_EQ(opts[0]["Name"], XmlRpcValue("Steps"));
    EXPECT_EQ(opts[1]["Name"], XmlRpcValue("Level"));
    EXPECT_TRUE(allMembersAreStrings(opts[0]) && allMembersAreStrings(opts[1]));
    XmlRpcValue byStruct;
    byStruct["Pattern"] = "TestBars";
    EXPECT_EQ(r.call("PatternOption", one(byStruct)), opts);
    EXPECT_EQ(r.call("PatternOption", one("NoSuch")), XmlRpcValue("error"));
    EXPECT_EQ(r.call("PatternOption", one("Plain")), XmlRpcValue(XmlRpcValue::ValueArray{}));
    EXPECT_EQ(r.fault("PatternOption", one(3)), "type error: expected a struct");
    EXPECT_EQ(r.call("PatternOption", one(XmlRpcValue(XmlRpcValue::ValueStruct{}))), XmlRpcValue("error"))
        << "a struct without \"Pattern\" names the empty pattern";
    // Through system.multicall the params may be a struct or a string.
    XmlRpcValue calls;
    calls[0]["methodName"] = "PatternOption";
    calls[0]["params"] = byStruct;
    calls[1]["methodName"] = "PatternOption";
    calls[1]["params"] = "TestBars";
    XmlRpcValue multi = r.call("system.multicall", one(calls));
    EXPECT_EQ(multi[0][0], opts);
    EXPECT_EQ(multi[1]["faultString"], XmlRpcValue("type error: expected an array"));

    XmlRpcValue gen = r.call("GetGenOptions");
    ASSERT_EQ(gen.getType(), XmlRpcValue::TypeArray);
    ASSERT_GE(gen.size(), 3);
    for (int i = 0; i < gen.size(); ++i) {
        ASSERT_EQ(gen[i].getType(), XmlRpcValue::TypeStruct) << i;
        EXPECT_TRUE(allMembersAreStrings(gen[i])) << i;
    }
    for (int i = 0; i < gen.size() - 2; ++i)
        EXPECT_TRUE(gen[i].hasMember("Name") && gen[i].hasMember("DataType")) << i;
    XmlRpcValue settings = gen[gen.size() - 2];
    for (const char *k : {"GatingColor_Red", "GatingColor_Green", "GatingColor_Blue", "GateRed", "GateGreen",
                          "GateBlue", "OutputTitling", "VideoMute", "VideoFormat"})
        EXPECT_TRUE(settings.hasMember(k)) << k;

    Remote bare(false);
    EXPECT_EQ(bare.call("PatternOption"), XmlRpcValue(""));
    EXPECT_EQ(bare.call("GetGenOptions"), XmlRpcValue(""));
}

TEST(OvcXmlPrivates, AliasesAndFolders)
{
    Remote r;
    XmlRpcValue a;
    a["AliasName"] = std::string(100, 'n');
    a["Pattern"] = "TestBars";
    a["Steps"] = 3;
    EXPECT_EQ(r.call("SetAlias", one(a)), XmlRpcValue(std::string(80, 'n')));
    EXPECT_EQ(r.call("PatternOption")[std::string(80, 'n')], XmlRpcValue("Alias/TestBars"));

    XmlRpcValue out;
    out["AliasName"] = "mmc/out";
    out["AliasType"] = "Output";
    out["Pattern"] = "TestBars";
    EXPECT_EQ(r.call("SetAlias", one(out)), XmlRpcValue("mmc/out"));
    XmlRpcValue cur;
    cur["AliasName"] = "abc/cur";
    cur["AliasType"] = "Pattern";
    cur["Pattern"] = "NoSuch"; // not used: the current pattern is
    r.call("SetGen", one("Plain"));
    EXPECT_EQ(r.call("SetAlias", one(cur)), XmlRpcValue("abc/cur"));
    XmlRpcValue list = r.call("PatternOption");
    EXPECT_EQ(list["mmc/out"], XmlRpcValue("Alias/TestBars"));
    // "AliasType" other than "Pattern" stays in the stored map.
    bool ok = false;
    r.engine.core.waitTransaction(r.call("SetGen", one("mmc/out")).asInt(), ok);
    const char *type = nullptr;
    EXPECT_TRUE(g_testBars->last().get("AliasType", type) && std::string(type) == "Output");

    XmlRpcValue noName;
    noName["Pattern"] = "TestBars";
    EXPECT_EQ(r.call("SetAlias", one(noName)), XmlRpcValue("no name for alias"));
    EXPECT_EQ(r.call("SetAlias"), XmlRpcValue("Cannot set null alias"));
    EXPECT_EQ(r.call("SetAlias", one("x")), XmlRpcValue("bad datatype for alias"));

    XmlRpcValue flushAbc;
    flushAbc["Prefix"] = "abc";
    flushAbc["Path"] = "flush";
    EXPECT_EQ(r.call("MMCAlias", one(flushAbc)), XmlRpcValue("flushed abc/ aliases"));
    XmlRpcValue emptyPrefix;
    emptyPrefix["Prefix"] = "";
    emptyPrefix["Path"] = "flush";
    EXPECT_EQ(r.call("MMCAlias", one(emptyPrefix)), XmlRpcValue("invalid arguments"));
    EXPECT_EQ(r.call("MMCAlias", one("flush")), XmlRpcValue("flushed mmc aliases"));
    list = r.call("PatternOption");
    EXPECT_FALSE(list.hasMember("mmc/out"));
    EXPECT_FALSE(list.hasMember("abc/cur"));
    EXPECT_TRUE(list.hasMember(std::string(80, 'n')));
    XmlRpcValue arr;
    arr[0] = 1;
    EXPECT_EQ(r.fault("MMCAlias", one(arr)), "type error: expected a struct");

    // A folder a client names: plug-ins are not loaded unless allowed.
    char dir[] = "/tmp/ovremote-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string plugin = std::string(dir) + "/fake.ovp";
    std::ofstream(plugin) << "not a library";
    {
        LogCapture log;
        XmlRpcValue scan;
        scan["Prefix"] = "usr";
        scan["Path"] = dir;
        EXPECT_EQ(r.call("MMCAlias", one(scan)), XmlRpcValue(""));
        EXPECT_EQ(r.call("MMCAlias", one(std::string(dir))), XmlRpcValue(""));
        std::string text = log.text();
        EXPECT_NE(text.find(std::string("scan folder ") + dir + ", (prefix usr/) \n"), std::string::npos);
        size_t first = text.find("not allowed");
        ASSERT_NE(first, std::string::npos);
        EXPECT_NE(text.find("not allowed", first + 1), std::string::npos) << "both forms refuse plug-ins";
    }
    {
        Remote trusting(true, true);
        LogCapture log;
        EXPECT_EQ(trusting.call("MMCAlias", one(std::string(dir))), XmlRpcValue(""));
        EXPECT_EQ(log.text().find("not allowed"), std::string::npos);
    }
    unlink(plugin.c_str());
    rmdir(dir);
}

TEST(OvcXmlPrivates, VersionEdidRescanAndShutdown)
{
    Remote r;
    XmlRpcValue v = r.call("GetOrvVersion");
    ASSERT_EQ(v.size(), 1);
    EXPECT_EQ(v[0]["Software"], XmlRpcValue("317"));
    EXPECT_EQ(v[0]["Gateware"], XmlRpcValue("gw-7.1"));
    EXPECT_EQ(v[0]["OS"], XmlRpcValue("Windows [Unknown]"));
    EXPECT_EQ(v[0]["Application"], XmlRpcValue("Application-Version"));
    uint8_t bytes[] = {4, 3, 2, 1};
    EXPECT_EQ(r.call("ReadEdid"), XmlRpcValue(bytes, 4));
    r.engine.raster.haveEdid = false;
    EXPECT_EQ(r.call("ReadEdid"), XmlRpcValue("EDID not Available"));
    int before = r.engine.raster.rescans.load();
    EXPECT_EQ(r.call("RescanFormats"), XmlRpcValue("Ok"));
    EXPECT_EQ(r.engine.raster.rescans.load(), before + 1);

    Remote bare(false);
    XmlRpcValue bv = bare.call("GetOrvVersion");
    EXPECT_EQ(bv[0]["Software"], XmlRpcValue("Software-Version"));
    EXPECT_EQ(bv[0]["Gateware"], XmlRpcValue("Gateware-Version"));
    EXPECT_EQ(bv[0]["OS"], XmlRpcValue("Operating-System-Version"));
    EXPECT_EQ(bare.call("ReadEdid"), XmlRpcValue("EDID not Available"));
    EXPECT_EQ(bare.call("RescanFormats"), XmlRpcValue("Ok"));

    // Shutdown ends the thread within a round and closes open connections.
    int fd = connectTo(r.holder.port());
    ASSERT_GE(fd, 0);
    auto t0 = std::chrono::steady_clock::now();
    r.holder.shutdown();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
    EXPECT_TRUE(peerClosed(fd, 1000));
    close(fd);
}

// The signal options travel through SetGen; GetGenOptions shows them only
// to a caller that asks with {"Signal": true}.
TEST(OvcXmlPrivates, SignalOptionsAreOptIn)
{
    Remote r;
    XmlRpcValue plain = r.call("GetGenOptions");
    ASSERT_EQ(plain.getType(), XmlRpcValue::TypeArray);
    XmlRpcValue no;
    no["Signal"] = false;
    EXPECT_EQ(r.call("GetGenOptions", one(no)), plain);
    XmlRpcValue other;
    other["Pattern"] = "TestBars";
    EXPECT_EQ(r.call("GetGenOptions", one(other)), plain) << "other members change nothing";
    EXPECT_EQ(r.call("GetGenOptions", one("Signal")), plain);

    XmlRpcValue set;
    set["TransferFunction"] = "HLG";
    set["Colorimetry"] = "BT.2020";
    set["MaxCLL"] = 800;
    XmlRpcValue id = r.call("SetGen", one(set));
    ASSERT_EQ(id.getType(), XmlRpcValue::TypeInt);
    ASSERT_TRUE(r.engine.core.waitProcessed(id.asInt(), std::chrono::seconds(10)));

    for (XmlRpcValue yes : {XmlRpcValue(true), XmlRpcValue(1), XmlRpcValue("true")}) {
        XmlRpcValue ask;
        ask["Signal"] = yes;
        XmlRpcValue more = r.call("GetGenOptions", one(ask));
        ASSERT_EQ(more.size(), plain.size() + 18) << yes.toXml();
        for (int i = 0; i < plain.size() - 2; ++i)
            EXPECT_EQ(more[i], plain[i]) << "the usual descriptions come first, unchanged: " << i;
        XmlRpcValue values = more[plain.size() - 2];
        EXPECT_EQ(values["ColorEncoding"], XmlRpcValue("Rec2020 (compressed)")) << "the matrix followed BT.2020";
        EXPECT_FALSE(values.hasMember("TransferFunction")) << "the usual values stay as they were";
        EXPECT_EQ(more[plain.size()]["Name"], XmlRpcValue("TransferFunction"));
        EXPECT_EQ(more[plain.size()]["TransferFunction2"], XmlRpcValue("HLG"));
        XmlRpcValue now = more[more.size() - 1];
        EXPECT_TRUE(allMembersAreStrings(now));
        EXPECT_EQ(now["TransferFunction"], XmlRpcValue("HLG"));
        EXPECT_EQ(now["Colorimetry"], XmlRpcValue("BT.2020"));
        EXPECT_EQ(now["MaxCLL"], XmlRpcValue("800"));
        EXPECT_EQ(now["HdrMetadata"], XmlRpcValue("Auto"));
    }
}
