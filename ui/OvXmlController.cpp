#include "OvXmlController.h"

#include "OvCore.h"
#include "OvcXmlMethods.h"
#include "XmlRpcDispatch.h"

#include <QTimer>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

const char *const kWaitKey = "TransId";
const char *const kWaitRequest = "Request";
const char *const kWaitValue = "WaitTrans";
const char *const kPostValue = "Post";

std::string seconds(double s)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, s, std::chars_format::general, 3);
    return std::string(buf, r.ptr) + " s";
}

// Describe maps and values come as an array of structs.
bool structsToMaps(const XmlRpcValue &v, std::vector<QiParams> &out)
{
    if (v.getType() != XmlRpcValue::TypeArray)
        return false;
    const XmlRpcValue::ValueArray &a = v.array();
    if (a.size() > OvXmlController::kMaxMaps)
        return false;
    std::vector<QiParams> maps;
    maps.reserve(a.size());
    for (const XmlRpcValue &s : a) {
        if (s.getType() != XmlRpcValue::TypeStruct)
            return false;
        QiParams p;
        ovcStructToParams(s, p);
        maps.push_back(std::move(p));
    }
    for (QiParams &p : maps)
        out.push_back(std::move(p));
    return true;
}

} // namespace

OvXmlController::OvXmlController(const std::string &host, int port, double timeLimit)
    : m_host(host), m_port(port), m_client(host.c_str(), port), m_timeLimit(timeLimit)
{
    m_client.setTimeLimit(timeLimit);
    // Markers of different panels (and processes) differ.
    char session[40];
    std::snprintf(session, sizeof session, "panel%d.%llx", static_cast<int>(getpid()),
                  static_cast<unsigned long long>(
                      std::chrono::steady_clock::now().time_since_epoch().count() ^
                      reinterpret_cast<uintptr_t>(this)));
    m_session = session;
}

OvXmlController::~OvXmlController() = default;

std::string OvXmlController::target() const
{
    return m_host + ":" + std::to_string(m_port);
}

void OvXmlController::failed(const std::string &message)
{
    m_failing = true;
    if (!m_failedThisTurn) {
        m_failedThisTurn = true;
        QTimer::singleShot(0, &m_turn, [this] {
            m_failedThisTurn = false;
            m_unreachable = false;
        });
    }
    report(false, message);
}

bool OvXmlController::call(const char *method, const XmlRpcValue &params, XmlRpcValue &result)
{
    if (m_unreachable)
        return false;
    // Inside a wait, a call has only what is left of the wait's time.
    double limit = m_timeLimit;
    if (m_waitEnd) {
        limit = std::min(limit, std::chrono::duration<double>(*m_waitEnd - std::chrono::steady_clock::now()).count());
        limit = std::max(limit, 0.001);
    }
    m_client.setTimeLimit(limit);
    const double start = XmlRpcDispatch::getTime();
    bool ok = false;
    try {
        ok = m_client.execute(method, params, result);
    } catch (const XmlRpcException &) {
        ok = false;
    }
    if (!ok) {
        m_unreachable = true;
        const double spent = XmlRpcDispatch::getTime() - start;
        if (spent >= limit - 0.05)
            failed(target() + " did not answer " + method + " within " + seconds(m_timeLimit));
        else
            failed(target() + " could not be reached or gave no valid answer to " + method);
        return false;
    }
    if (m_client.isFault()) {
        std::string why = "a fault";
        try {
            if (result.getType() == XmlRpcValue::TypeStruct && result.hasMember(XmlRpcNames::kFaultString)) {
                const XmlRpcValue &s = result.structMembers().at(XmlRpcNames::kFaultString);
                if (s.getType() == XmlRpcValue::TypeString)
                    why = "the fault \"" + s.asString() + "\"";
            }
        } catch (const XmlRpcException &) {
        }
        failed(target() + " answered " + method + " with " + why);
        return false;
    }
    // A failure stays on show for the rest of the action it spoiled.
    if (m_failing && !m_failedThisTurn) {
        m_failing = false;
        report(true, "Generator: " + target());
    }
    return true;
}

int32_t OvXmlController::post(const QiParams &params)
{
    // Marked, so that waiting can tell when the render thread has taken it.
    const std::string token = m_session + "-" + std::to_string(++m_sequence);
    QiParams marked = params;
    marked.set(kWaitKey, token);
    marked.set(kWaitRequest, kPostValue);
    XmlRpcValue args{XmlRpcValue::ValueArray{}}, result;
    args[0] = ovcParamsToStruct(marked);
    if (!call("SetGen", args, result))
        return 0;
    if (result.getType() != XmlRpcValue::TypeInt) {
        failed(target() + " did not queue the request (SetGen gave no transaction id)");
        return 0;
    }
    remember(token, m_sequence, result.asInt());
    return result.asInt();
}

void OvXmlController::remember(const std::string &marker, uint64_t sequence, int32_t id)
{
    m_markers.push_back(Marker{marker, sequence, id});
    if (m_markers.size() > kMarkersKept)
        m_markers.pop_front();
}

uint64_t OvXmlController::takenUpTo(const QiParams &current) const
{
    const char *t = nullptr;
    if (!current.get(kWaitKey, t))
        return 0;
    for (const Marker &m : m_markers)
        if (m.text == t)
            return m.sequence;
    return 0;
}

bool OvXmlController::pollUntilTaken(uint64_t sequence, std::chrono::steady_clock::time_point end,
                                     const std::string &idText)
{
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        std::vector<QiParams> maps;
        if (!fetchGenOptions(maps))
            return false;
        // Ours, or one of ours posted after it: taken in queue order.
        if (takenUpTo(maps.back()) >= sequence)
            return true;
        if (std::chrono::steady_clock::now() + pause > end) {
            failed(target() + " had not drawn request " + idText + " after " + seconds(m_timeLimit));
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

bool OvXmlController::waitTransaction(int32_t id)
{
    const std::string idText = std::to_string(id);
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(m_timeLimit));
    // The whole wait, every call in it, within one time limit.
    m_waitEnd = end;
    struct EndWait {
        std::optional<std::chrono::steady_clock::time_point> &end;
        ~EndWait() { end.reset(); }
    } endWait{m_waitEnd};
    // First until the request is taken: a wait request posted earlier would
    // carry the parameters from before it (a request without "Pattern"
    // takes the current ones as it is queued) and undo it.
    for (const Marker &m : m_markers)
        if (m.id == id && !pollUntilTaken(m.sequence, end, idText))
            return false;

    QiParams wait;
    wait.set(kWaitKey, idText);
    wait.set(kWaitRequest, kWaitValue);
    XmlRpcValue args{XmlRpcValue::ValueArray{}}, result;
    args[0] = ovcParamsToStruct(wait);
    if (!call("SetGen", args, result))
        return false;
    const uint64_t sequence = ++m_sequence;
    remember(idText, sequence, 0);
    // The wait request is taken once everything before it has been drawn.
    return pollUntilTaken(sequence, end, idText);
}

bool OvXmlController::fetchGenOptions(std::vector<QiParams> &out)
{
    // With the signal options where the generator has them (one without
    // them ignores the parameter).
    XmlRpcValue result, ask, params;
    ask["Signal"] = true;
    params[0] = ask;
    if (!call("GetGenOptions", params, result))
        return false;
    std::vector<QiParams> maps;
    if (!structsToMaps(result, maps) || maps.size() < 2) {
        failed(target() + " gave a malformed answer to GetGenOptions");
        return false;
    }
    ovJoinSignalMaps(maps);
    learnLevels(maps);
    for (QiParams &p : maps)
        out.push_back(std::move(p));
    return true;
}

void OvXmlController::learnLevels(const std::vector<QiParams> &maps)
{
    int32_t black = m_black, white = m_white, bits = m_bits;
    int found = 0;
    for (const QiParams &d : maps) {
        const char *name = nullptr;
        if (!d.get("Name", name))
            continue;
        const std::string n = name;
        if (n == "BlackLevel" && d.getInt("Value", black))
            ++found;
        else if (n == "WhiteLevel" && d.getInt("Value", white))
            ++found;
        else if (n == "BitDepth" && d.getInt("Value", bits))
            ++found;
    }
    // A depth outside what any output has would make editor ranges nonsense.
    if (found == 3 && bits >= 1 && bits <= 16) {
        m_black = black;
        m_white = white;
        m_bits = bits;
        m_levelsKnown = true;
    }
}

void OvXmlController::ensureLevels()
{
    if (m_levelsKnown)
        return;
    std::vector<QiParams> maps;
    fetchGenOptions(maps);
}

bool OvXmlController::getGenOptions(std::vector<QiParams> &out)
{
    return fetchGenOptions(out);
}

bool OvXmlController::getGenValues(QiParams &out)
{
    std::vector<QiParams> maps;
    if (!fetchGenOptions(maps))
        return false;
    for (const auto &[k, v] : maps[maps.size() - 2])
        out.set(k, v);
    return true;
}

bool OvXmlController::currentParams(QiParams &out)
{
    std::vector<QiParams> maps;
    if (!fetchGenOptions(maps))
        return false;
    out = std::move(maps.back());
    const char *r = nullptr;
    if (out.get(kWaitRequest, r) && (std::string(r) == kWaitValue || std::string(r) == kPostValue)) {
        out.remove(kWaitRequest);
        out.remove(kWaitKey);
    }
    return true;
}

bool OvXmlController::listPatterns(QiParams &out)
{
    XmlRpcValue result;
    if (!call("PatternOption", XmlRpcValue(), result))
        return false;
    if (result.getType() != XmlRpcValue::TypeStruct) {
        failed(target() + " gave a malformed answer to PatternOption");
        return false;
    }
    ovcStructToParams(result, out);
    return true;
}

bool OvXmlController::getPatternOpts(const std::string &name, std::vector<QiParams> &out)
{
    XmlRpcValue args{XmlRpcValue::ValueArray{}}, result;
    args[0] = name;
    if (!call("PatternOption", args, result))
        return false;
    // "error" (a string) names an unknown pattern: no options, nothing wrong.
    if (result.getType() == XmlRpcValue::TypeString)
        return false;
    if (!structsToMaps(result, out)) {
        failed(target() + " gave a malformed answer to PatternOption");
        return false;
    }
    return true;
}

bool OvXmlController::saveImageAsPng(const std::string &path)
{
    failed("Could not save " + path + ": " + target() + " offers no method for snapshots");
    return false;
}

int32_t OvXmlController::blackLevel()
{
    ensureLevels();
    return m_black;
}

int32_t OvXmlController::whiteLevel()
{
    ensureLevels();
    return m_white;
}

int32_t OvXmlController::bitDepth()
{
    ensureLevels();
    return m_bits;
}
