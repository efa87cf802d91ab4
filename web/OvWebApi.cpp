#include "OvWebApi.h"

#include "OvCore.h"
#include "OvWindowLevels.h"
#include "OvcJson.h"
#include "OvcProtocols.h"
#include "OvcXmlMethods.h"
#include "QiAscii.h"
#include "QiParams.h"
#include "QiRaster.h"
#include "QiUtf8.h"
#include "SimBoards.h"

#include <charconv>

namespace {

XmlRpcValue listOfStructs(const std::vector<QiParams> &maps)
{
    XmlRpcValue a{XmlRpcValue::ValueArray{}};
    int i = 0;
    for (const QiParams &m : maps)
        a[i++] = ovcParamsToStruct(m);
    return a;
}

const char *typeName(XmlRpcValue::Type t)
{
    switch (t) {
    case XmlRpcValue::TypeArray: return "an array";
    case XmlRpcValue::TypeStruct: return "an object";
    case XmlRpcValue::TypeBase64: return "base64 data";
    case XmlRpcValue::TypeDateTime: return "a date";
    default: return "a value of another type";
    }
}

bool scalar(const XmlRpcValue &v)
{
    const auto t = v.getType();
    return t == XmlRpcValue::TypeBoolean || t == XmlRpcValue::TypeInt || t == XmlRpcValue::TypeDouble ||
           t == XmlRpcValue::TypeString;
}

// A whole decimal number from 1 to 2^31 - 1 in text.
bool parseCount(const std::string &text, int &out)
{
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

} // namespace

OvWebApi::OvWebApi(OvCore *engine, Info info, std::function<bool()> stopping, std::function<uint64_t()> frames)
    : m_engine(engine), m_info(std::move(info)), m_stopping(std::move(stopping)), m_frames(std::move(frames))
{
}

OvWebApi::Reply OvWebApi::json(const XmlRpcValue &value, int status)
{
    Reply r;
    r.status = status;
    r.body = OvcJson::write(value, false);
    r.body += '\n';
    return r;
}

OvWebApi::Reply OvWebApi::error(int status, const std::string &message)
{
    XmlRpcValue v;
    v["error"] = message;
    return json(v, status);
}

bool OvWebApi::known(const std::string &name)
{
    QiParams scratch;
    return m_engine->resolvePattern(name.c_str(), scratch) != nullptr;
}

bool OvWebApi::waitFor(int32_t id, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (m_stopping && m_stopping()))
            return false;
        if (m_engine->waitProcessed(id, std::min(left, std::chrono::milliseconds(50))))
            return true;
        if (!m_engine->running())
            return false;
    }
}

OvWebApi::Reply OvWebApi::post(const QiParams &params, bool wait, XmlRpcValue answer)
{
    const int32_t id = m_engine->post(params);
    if (id == OvCore::kRefused)
        return error(503, "the generator is not taking requests now (its queue is full or it is stopping)");
    answer["id"] = static_cast<int>(id);
    if (wait) {
        const bool waited = waitFor(id, kMaxWait);
        answer["waited"] = waited;
        // The frame on the output once the request is through: the first
        // that can show it.
        if (waited && m_frames)
            answer["frame"] = static_cast<double>(m_frames());
    }
    return json(answer);
}

OvWebApi::Reply OvWebApi::patterns()
{
    QiParams list;
    m_engine->listPatterns(list);
    return json(ovcParamsToStruct(list));
}

OvWebApi::Reply OvWebApi::pattern(const std::string *name)
{
    if (!name)
        return error(400, "name the pattern: /api/pattern?name=NAME");
    std::vector<QiParams> maps;
    if (!m_engine->getPatternOpts(name->c_str(), maps))
        return error(404, "no pattern named '" + *name + "'");
    return json(listOfStructs(maps));
}

OvWebApi::Reply OvWebApi::generator(bool signal)
{
    std::vector<QiParams> maps;
    m_engine->getGenOptions(maps, signal);
    if (signal)
        ovJoinSignalMaps(maps);
    return json(listOfStructs(maps));
}

OvWebApi::Reply OvWebApi::version()
{
    const OvVersionInfo &v = m_engine->versionInfo();
    XmlRpcValue s;
    s["Software"] = v.software;
    s["Gateware"] = v.gateware;
    s["OS"] = v.operatingSystem;
    s["Application"] = v.application.empty() ? std::string("Application-Version") : v.application;
    XmlRpcValue a{XmlRpcValue::ValueArray{}};
    a[0] = s;
    return json(a);
}

OvWebApi::Reply OvWebApi::status(uint64_t frames)
{
    XmlRpcValue s;
    s["name"] = m_info.name;
    s["version"] = m_info.version;
    const OvVersionInfo &v = m_engine->versionInfo();
    s["software"] = v.software;
    s["gateware"] = v.gateware;
    QiParams values, current;
    m_engine->getGenValues(values);
    m_engine->currentParams(current);
    const char *text = nullptr;
    s["videoFormat"] = values.get("VideoFormat", text) ? std::string(text) : std::string();
    s["pattern"] = current.get("Pattern", text) ? std::string(text) : std::string();
    const SimBoards::Board board = SimBoards::selected();
    s["output"] = board == SimBoards::Board::none ? std::string("card")
                                                   : std::string("simulated ") + SimBoards::boardName(board);
    XmlRpcValue protocols{XmlRpcValue::ValueArray{}};
    int i = 0;
    for (const Protocol &p : m_info.protocols) {
        XmlRpcValue e;
        e["name"] = p.name;
        e["address"] = p.address;
        e["port"] = p.port;
        protocols[i++] = e;
    }
    s["protocols"] = protocols;
    // The calibration programs' protocols, as the panel lists them.
    XmlRpcValue calibration{XmlRpcValue::ValueArray{}};
    if (const OvcProtocols *cp = OvcProtocols::instance()) {
        int j = 0;
        for (const std::string &line : cp->active())
            calibration[j++] = line;
    }
    s["calibration"] = calibration;
    // Frames can outnumber an int over months; a double holds them exactly.
    s["frames"] = static_cast<double>(frames);
    if (QiRaster *r = m_engine->raster()) {
        s["black"] = static_cast<int>(r->blackLevel());
        s["white"] = static_cast<int>(r->whiteLevel());
        s["bits"] = static_cast<int>(r->bits());
    }
    return json(s);
}

OvWebApi::Reply OvWebApi::windowModel(const std::string *steps)
{
    int count = OvWindowLevels::kInitialSteps;
    if (steps && (!parseCount(*steps, count) || count < 1 || count > OvWindowLevels::kMaxSteps))
        return error(400, "steps must be a whole number from 1 to " + std::to_string(OvWindowLevels::kMaxSteps));
    QiRaster *r = m_engine->raster();
    const int32_t black = r ? r->blackLevel() : 0, white = r ? r->whiteLevel() : 0;
    auto list = [](const std::vector<std::string> &items) {
        XmlRpcValue a{XmlRpcValue::ValueArray{}};
        int i = 0;
        for (const std::string &s : items)
            a[i++] = s;
        return a;
    };
    XmlRpcValue m;
    m["sizes"] = list(OvWindowLevels::sizes());
    m["steps"] = list(OvWindowLevels::steps());
    std::vector<std::string> colors{"White"};
    colors.insert(colors.end(), OvWindowLevels::colors().begin(), OvWindowLevels::colors().end());
    m["colors"] = list(colors);
    m["count"] = count;
    XmlRpcValue levels{XmlRpcValue::ValueArray{}};
    int i = 0;
    for (int32_t v : OvWindowLevels::levels(black, white, count))
        levels[i++] = static_cast<int>(v);
    m["levels"] = levels;
    m["checked"] = OvWindowLevels::checkedLevel(count);
    m["black"] = static_cast<int>(black);
    m["white"] = static_cast<int>(white);
    return json(m);
}

OvWebApi::Reply OvWebApi::set(const std::string &body, bool wait)
{
    XmlRpcValue v;
    std::string why;
    if (!OvcJson::parse(body, v, why))
        return error(400, "the body is not JSON: " + why);
    QiParams params;
    if (v.getType() == XmlRpcValue::TypeString) {
        params.set("Pattern", v.asString());
    } else if (v.getType() == XmlRpcValue::TypeStruct) {
        for (const auto &[key, member] : v.structMembers())
            if (!scalar(member))
                return error(400, "option '" + key + "' is " + typeName(member.getType()) +
                                      "; options are strings, numbers or booleans");
        if (v.hasMember("Log"))
            return error(400, "\"Log\" redirects the generator's log; that is offered over XML-RPC only");
        ovcStructToParams(v, params);
    } else {
        return error(400, "send a JSON object of options, or a pattern name as a JSON string");
    }
    const char *pattern = nullptr;
    if (params.get("Pattern", pattern) && !known(pattern))
        return error(404, std::string("no pattern or alias named '") + pattern + "'");
    return post(params, wait);
}

OvWebApi::Reply OvWebApi::alias(const std::string &body)
{
    XmlRpcValue v;
    std::string why;
    if (!OvcJson::parse(body, v, why))
        return error(400, "the body is not JSON: " + why);
    if (v.getType() != XmlRpcValue::TypeStruct)
        return error(400, "send a JSON object with \"AliasName\"");
    for (const auto &[key, member] : v.structMembers())
        if (!scalar(member))
            return error(400, "'" + key + "' is " + typeName(member.getType()) +
                                  "; members are strings, numbers or booleans");
    if (!v.hasMember("AliasName"))
        return error(400, "no name for alias");
    if (v["AliasName"].getType() != XmlRpcValue::TypeString || !QiUtf8::isCleanName(v["AliasName"].asString()) ||
        v["AliasName"].asString().empty())
        return error(400, "\"AliasName\" must be text without control characters");
    QiParams map;
    ovcStructToParams(v, map);
    const std::string name(QiUtf8::cut(v["AliasName"].asString(), kAliasNameBytes));
    const char *type = nullptr;
    bool made;
    if (map.get("AliasType", type) && std::string(type) == "Pattern") {
        made = m_engine->makeAliasFromCurrent(name.c_str());
        if (!made)
            return error(409, "nothing is shown yet to make an alias of");
    } else {
        map.remove("AliasName");
        const char *pattern = nullptr;
        if (!map.get("Pattern", pattern))
            return error(400, "an alias needs \"Pattern\" (or \"AliasType\": \"Pattern\" for the one shown)");
        if (!m_engine->findRenderer(pattern))
            return error(404, std::string("no pattern named '") + pattern + "'");
        made = m_engine->makeAlias(name.c_str(), map);
        if (!made)
            return error(400, "the alias could not be made");
    }
    XmlRpcValue a;
    a["alias"] = name;
    return json(a);
}

OvWebApi::Reply OvWebApi::window(const std::string &body, bool wait)
{
    XmlRpcValue v;
    std::string why;
    if (!OvcJson::parse(body.empty() ? std::string("{}") : body, v, why))
        return error(400, "the body is not JSON: " + why);
    if (v.getType() != XmlRpcValue::TypeStruct)
        return error(400, "send a JSON object with \"size\", \"steps\", \"level\" and \"color\"");

    std::string size = OvWindowLevels::sizes()[OvWindowLevels::kInitialSize];
    if (v.hasMember("size")) {
        if (v["size"].getType() != XmlRpcValue::TypeString)
            return error(400, "\"size\" is one of the texts the model lists, such as \"10%\"");
        size = v["size"].asString();
        bool offered = false;
        for (const std::string &s : OvWindowLevels::sizes())
            offered = offered || s == size;
        if (!offered)
            return error(400, "\"size\" '" + size + "' is not offered");
    }
    auto number = [&](const char *key, int &out) -> bool {
        if (!v.hasMember(key))
            return true;
        const XmlRpcValue &m = v[key];
        if (m.getType() == XmlRpcValue::TypeInt) {
            out = m.asInt();
            return true;
        }
        return m.getType() == XmlRpcValue::TypeString && parseCount(m.asString(), out);
    };
    int steps = OvWindowLevels::kInitialSteps;
    if (!number("steps", steps) || steps < 1 || steps > OvWindowLevels::kMaxSteps)
        return error(400, "\"steps\" must be a whole number from 1 to " + std::to_string(OvWindowLevels::kMaxSteps));
    int level = OvWindowLevels::checkedLevel(steps);
    if (!number("level", level) || level < 0 || level >= steps)
        return error(400, "\"level\" is the index of a level, 0 to " + std::to_string(steps - 1));
    int color = OvWindowLevels::kWhite;
    if (v.hasMember("color")) {
        if (v["color"].getType() != XmlRpcValue::TypeString)
            return error(400, "\"color\" is \"White\" or one of the colours the model lists");
        const std::string &c = v["color"].asString();
        const auto &colors = OvWindowLevels::colors();
        color = -1;
        if (qiEqualsIgnoreCase(c, "White"))
            color = OvWindowLevels::kWhite;
        for (size_t i = 0; i < colors.size(); ++i)
            if (qiEqualsIgnoreCase(c, colors[i]))
                color = static_cast<int>(i);
        if (color < 0)
            return error(400, "\"color\" '" + c + "' is not offered");
    }
    QiRaster *r = m_engine->raster();
    const int32_t black = r ? r->blackLevel() : 0, white = r ? r->whiteLevel() : 0;
    const std::vector<int32_t> levels = OvWindowLevels::levels(black, white, steps);
    const QiParams request = OvWindowLevels::request(size, std::to_string(levels[static_cast<size_t>(level)]), black,
                                                     color);
    XmlRpcValue answer;
    answer["request"] = ovcParamsToStruct(request);
    answer["level"] = static_cast<int>(levels[static_cast<size_t>(level)]);
    return post(request, wait, answer);
}

OvWebApi::Reply OvWebApi::snapshot(uint64_t frames)
{
    // An empty request draws nothing; once it is through, what was queued
    // before it is on the frame buffer.
    const int32_t id = m_engine->post(QiParams());
    if (id != OvCore::kRefused)
        waitFor(id, kMaxWait);
    Reply r;
    std::vector<uint8_t> png;
    if (!m_engine->encodeImageAsPng(png))
        return error(503, "there is no frame buffer to take a snapshot of");
    r.type = "image/png";
    r.body.assign(png.begin(), png.end());
    r.headers.emplace_back("Content-Disposition",
                           "attachment; filename=\"orvane-snapshot-" + std::to_string(frames) + ".png\"");
    return r;
}
