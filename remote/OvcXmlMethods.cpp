#include "OvcXmlMethods.h"

#include "OvCore.h"
#include "QiLog.h"
#include "QiParams.h"
#include "QiRaster.h"
#include "QiUtf8.h"

#include <cstdio>
#include <vector>

namespace {

XmlRpcValue listOfStructs(const std::vector<QiParams> &maps)
{
    XmlRpcValue a{XmlRpcValue::ValueArray{}};
    int i = 0;
    for (const QiParams &m : maps)
        a[i++] = ovcParamsToStruct(m);
    return a;
}

// A string member, or empty when it is missing ("type error" when it is
// there but not a string).
std::string memberText(XmlRpcValue &s, const char *name)
{
    return s.hasMember(name) ? s[name].asString() : std::string();
}

// A refused request (queue full, engine stopping) is answered like one that
// could not be posted at all.
int answerId(int32_t id) { return id == OvCore::kRefused ? -1 : static_cast<int>(id); }

} // namespace

void ovcStructToParams(const XmlRpcValue &s, QiParams &out)
{
    for (const auto &[name, v] : s.structMembers()) {
        switch (v.getType()) {
        case XmlRpcValue::TypeBoolean: out.set(name, v.asBool() ? "true" : "false"); break;
        case XmlRpcValue::TypeInt: out.setInt(name, v.asInt()); break;
        case XmlRpcValue::TypeDouble: out.set(name, formatDouble(v.asDouble())); break;
        case XmlRpcValue::TypeString: out.set(name, v.asString()); break;
        default:
            qiLog(2, "don't know how to translate type=%d for key=%s\n", static_cast<int>(v.getType()), name.c_str());
            break;
        }
    }
}

XmlRpcValue ovcParamsToStruct(const QiParams &params)
{
    XmlRpcValue s{XmlRpcValue::ValueStruct{}}; // an empty map is still a struct
    for (const auto &[key, value] : params)
        s[key] = value;
    return s;
}

// SetGen: a pattern by name, a struct of options, or a log redirection.
void SetGen::execute(XmlRpcValue &params, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    if (!params.valid()) {
        result = "bad parameters";
        return;
    }
    XmlRpcValue &first = params[0];
    switch (first.getType()) {
    case XmlRpcValue::TypeString:
        result = engine ? answerId(engine->postPattern(first.asString().c_str())) : -1;
        return;
    case XmlRpcValue::TypeStruct: {
        if (first.hasMember("Log")) {
            const std::string target = first["Log"].asString();
            if (target != "Reset") {
                redirectToNet(target.c_str(), m_holder->logPort());
                result = "Redirected to Net";
            } else {
                result = redirectToLocal() ? "Redirected to local" : "Not Redirected";
            }
            return;
        }
        QiParams request;
        ovcStructToParams(first, request);
        result = engine ? answerId(engine->post(request)) : -1;
        return;
    }
    default:
        qiLog(2, "don't know how to display a pattern for type=%d\n", static_cast<int>(first.getType()));
        result = -1;
        return;
    }
}

std::string SetGen::help()
{
    return "Generate a Named pattern or set generator parameters.  Pattern can be by string, or by structure "
           "{Pattern:\"name\", ...}";
}

// PatternOption: the catalogue, or the option descriptions of one pattern.
void PatternOption::execute(XmlRpcValue &params, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    if (!params.valid()) {
        if (!engine)
            return;
        QiParams list;
        engine->listPatterns(list);
        for (const auto &[name, text] : list)
            result[name] = text;
        return;
    }

    std::string name;
    switch (params.getType()) {
    case XmlRpcValue::TypeArray: {
        XmlRpcValue &first = params[0];
        if (first.getType() == XmlRpcValue::TypeString)
            name = first.asString();
        else if (first.getType() == XmlRpcValue::TypeStruct)
            name = memberText(first, "Pattern");
        else
            throw XmlRpcException("type error: expected a struct");
        break;
    }
    case XmlRpcValue::TypeStruct: name = memberText(params, "Pattern"); break;
    case XmlRpcValue::TypeString: throw XmlRpcException("type error: expected an array");
    default:
        qiLog(2, "don't know how to get a pattern name from type=%d\n", static_cast<int>(params.getType()));
        return;
    }

    if (!engine)
        return;
    std::vector<QiParams> options;
    if (!engine->getPatternOpts(name.c_str(), options)) {
        result = "error";
        return;
    }
    result = listOfStructs(options);
}

std::string PatternOption::help()
{
    return "Returns a list of patterns and aliases supported, or details about a specific pattern";
}

namespace {
// True when the call's first parameter is a struct whose member "Signal" is
// true (boolean, non-zero int, or a text read as a boolean option reads it).
bool asksForSignal(const XmlRpcValue &params)
{
    if (params.getType() != XmlRpcValue::TypeArray || params.size() < 1)
        return false;
    const XmlRpcValue &first = params[0];
    if (first.getType() != XmlRpcValue::TypeStruct || !first.hasMember("Signal"))
        return false;
    const XmlRpcValue &v = first.structMembers().at("Signal");
    switch (v.getType()) {
    case XmlRpcValue::TypeBoolean: return v.asBool();
    case XmlRpcValue::TypeInt: return v.asInt() != 0;
    case XmlRpcValue::TypeString: return QiParams::parseBool(v.asString().c_str());
    default: return false;
    }
}
} // namespace

// GetGenOptions: generator option descriptions, current settings, current
// pattern; the signal options after them only when the caller asks with
// {"Signal": true}, so positional readers see the answer they always did.
void GetGenOptions::execute(XmlRpcValue &params, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    if (!engine)
        return;
    std::vector<QiParams> maps;
    engine->getGenOptions(maps, asksForSignal(params));
    result = listOfStructs(maps);
}

std::string GetGenOptions::help() { return "Returns a list of generator options and their current settings"; }

// SetAlias: an alias from the given struct, or from the current pattern.
void SetAlias::execute(XmlRpcValue &params, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    if (!params.valid()) {
        result = "Cannot set null alias";
        return;
    }
    XmlRpcValue &first = params[0];
    if (first.getType() != XmlRpcValue::TypeStruct) {
        qiLog(1, "don't know how to set an alias for type=%d\n", static_cast<int>(first.getType()));
        result = "bad datatype for alias";
        return;
    }
    QiParams map;
    ovcStructToParams(first, map);
    const char *aliasName = nullptr;
    if (!map.get("AliasName", aliasName)) {
        result = "no name for alias";
        return;
    }
    // A name XML cannot carry would break every later listing (checked on
    // the whole text: a zero byte would hide what follows it).
    if (!QiUtf8::isCleanName(map.map().at("AliasName"))) {
        qiLog(1, "SetAlias: alias name with control characters or invalid UTF-8 refused\n");
        result = "invalid arguments";
        return;
    }
    // Cut where a character begins, so the name stays UTF-8.
    const std::string name(QiUtf8::cut(aliasName, 80));
    const char *aliasType = nullptr;
    if (map.get("AliasType", aliasType) && std::string(aliasType) == "Pattern") {
        if (engine)
            engine->makeAliasFromCurrent(name.c_str());
    } else {
        map.remove("AliasName");
        if (engine)
            engine->makeAlias(name.c_str(), map);
    }
    result = name;
}

std::string SetAlias::help()
{
    return "Set an alias for the given structure, the current pattern and settings, or the current output "
           "settings}";
}

// MMCAlias: scan a folder into prefixed aliases, or flush them.
void MMCAlias::execute(XmlRpcValue &params, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    if (!params.valid()) {
        qiLog(1, "MMCAlias: no parameters\n");
        return;
    }
    XmlRpcValue &first = params[0];
    switch (first.getType()) {
    case XmlRpcValue::TypeString: {
        if (!engine)
            return;
        const std::string &text = first.asString();
        if (text == "flush") {
            engine->removeAliases("mmc/");
            result = "flushed mmc aliases";
            qiLog(3, "flushed mmc aliases\n");
        } else {
            engine->scanFolder(text.c_str(), "mmc/", m_holder->allowRemotePlugins());
        }
        return;
    }
    case XmlRpcValue::TypeArray: throw XmlRpcException("type error: expected a struct");
    case XmlRpcValue::TypeStruct: {
        std::string prefix = memberText(first, "Prefix");
        const std::string path = memberText(first, "Path");
        if (prefix.empty() || path.empty() || !engine) {
            result = "invalid arguments";
            return;
        }
        prefix += "/";
        if (path == "flush") {
            engine->removeAliases(prefix.c_str());
            result = "flushed " + prefix + " aliases";
            qiLog(3, "flushed %s aliases\n", prefix.c_str());
        } else {
            qiLog(3, "scan folder %s, (prefix %s) \n", path.c_str(), prefix.c_str());
            engine->scanFolder(path.c_str(), prefix.c_str(), m_holder->allowRemotePlugins());
        }
        return;
    }
    default:
        qiLog(1, "don't know how to set an mmc alias for type=%d\n", static_cast<int>(first.getType()));
        return;
    }
}

std::string MMCAlias::help() { return "Set or flushes aliases for MMC files"; }

// GetOrvVersion: one struct of version texts.
void GetOrvVersion::execute(XmlRpcValue &, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    XmlRpcValue v;
    if (engine) {
        const OvVersionInfo &info = engine->versionInfo();
        v["Software"] = info.software;
        v["Gateware"] = info.gateware;
        v["OS"] = info.operatingSystem;
        v["Application"] = info.application.empty() ? std::string("Application-Version") : info.application;
    } else {
        v["Software"] = "Software-Version";
        v["Gateware"] = "Gateware-Version";
        v["OS"] = "Operating-System-Version";
        v["Application"] = "Application-Version";
    }
    result[0] = v;
}

std::string GetOrvVersion::help() { return "Returns a list of generator options and their current settings"; }

// ReadEdid: the display's EDID bytes as base64.
void ReadEdid::execute(XmlRpcValue &, XmlRpcValue &result)
{
    OvCore *engine = m_holder->engine();
    QiRaster *raster = engine ? engine->raster() : nullptr;
    std::vector<uint8_t> edid;
    if (raster && raster->readEdid(edid))
        result = XmlRpcValue(edid.data(), edid.size());
    else
        result = "EDID not Available";
}

std::string ReadEdid::help() { return "Returns the EDID table as read from the display"; }

// RescanFormats: re-read the raster's video formats.
void RescanFormats::execute(XmlRpcValue &, XmlRpcValue &result)
{
    if (OvCore *engine = m_holder->engine())
        engine->rescanFormats();
    result = "Ok";
}

std::string RescanFormats::help() { return "Causes the Orv to update it's video format list."; }
