#include "OvcCtl.h"

#include "OvcJson.h"
#include "RnServiceRequestor.h"
#include "RnServiceResponder.h"
#include "XmlRpcClient.h"
#include "XmlRpcUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Discovery answers kept at most per run (one datagram each).
constexpr int kDiscoverSpareRounds = 1024;

// A failure with its exit status, thrown from deep inside a command.
struct Failure {
    int status;
    std::string message;
};

Failure usage(const std::string &message) { return {OvcCtl::kUsage, message}; }
Failure refused(const std::string &message) { return {OvcCtl::kFailed, message}; }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

bool startsWith(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::string number(long long v) { return std::to_string(v); }

// An integer as the generator reads option values: 0x hexadecimal, a
// leading 0 octal, else decimal; the whole text must be the number.
bool parseCInt(const std::string &text, long long &out)
{
    std::string t = text;
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.erase(0, 1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.erase(0, 2);
    } else if (t.size() > 1 && t[0] == '0') {
        base = 8;
        t.erase(0, 1);
    }
    if (t.empty())
        return false;
    long long v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, base);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size())
        return false;
    out = negative ? -v : v;
    return true;
}

bool parseDouble(const std::string &text, double &out)
{
    const char *b = text.data(), *e = text.data() + text.size();
    if (b != e && *b == '+')
        ++b;
    auto r = std::from_chars(b, e, out);
    return b != e && r.ec == std::errc() && r.ptr == e;
}

// Seconds on the command line: more than 0, at most a day.
bool parseSeconds(const std::string &text, double &out)
{
    return parseDouble(text, out) && out > 0.0 && out <= 86400.0;
}

std::string seconds(double s)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, s);
    return std::string(buf, r.ptr);
}

bool parsePort(const std::string &text, int &port)
{
    int v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v < 1 || v > 65535)
        return false;
    port = v;
    return true;
}

// The first line of an XML-RPC layer's error, without its method prefix;
// "(error N)" becomes the system's text for N.
std::string readableReason(std::string line)
{
    line = line.substr(0, std::min(line.find('\n'), static_cast<size_t>(200)));
    const std::string response = " Response:";
    if (line.size() >= response.size() && line.compare(line.size() - response.size(), response.size(), response) == 0)
        line.resize(line.size() - response.size());
    const size_t colon = line.find(": ");
    if (startsWith(line, "Error") && colon != std::string::npos)
        line.erase(0, colon + 2);
    const size_t at = line.find("(error ");
    if (at != std::string::npos) {
        int code = 0;
        const char *b = line.data() + at + 7, *e = line.data() + line.size();
        auto r = std::from_chars(b, e, code);
        if (r.ec == std::errc() && code > 0)
            line.replace(at + 1, static_cast<size_t>(r.ptr - (line.data() + at + 1)), std::strerror(code));
    }
    while (!line.empty() && (line.back() == '.' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// The XML-RPC layer's last error line, for the one-line message.
std::string g_lastError;
void keepError(const char *line) { g_lastError = line ? line : ""; }

const XmlRpcValue &member(const XmlRpcValue &s, const char *name)
{
    static const XmlRpcValue kNone;
    if (s.getType() != XmlRpcValue::TypeStruct)
        return kNone;
    auto it = s.structMembers().find(name);
    return it == s.structMembers().end() ? kNone : it->second;
}

std::string text(const XmlRpcValue &s, const char *name)
{
    const XmlRpcValue &v = member(s, name);
    return v.getType() == XmlRpcValue::TypeString ? v.asString() : std::string();
}

bool has(const XmlRpcValue &s, const std::string &name)
{
    return s.getType() == XmlRpcValue::TypeStruct && s.structMembers().count(name) != 0;
}

XmlRpcValue str(const std::string &s) { return XmlRpcValue(s); }

XmlRpcValue newStruct() { return XmlRpcValue(XmlRpcValue::ValueStruct{}); }

// The wait marker the control panel uses too: a request holding only these
// keys draws nothing, and is taken only after every request before it.
const char kMarkKey[] = "TransId";
const char kMarkRequest[] = "Request";
const char kMarkValue[] = "WaitTrans";

// A request map without the wait markers set and panels leave in it
// (bookkeeping, not options).
XmlRpcValue withoutMarkers(const XmlRpcValue &map)
{
    XmlRpcValue out = newStruct();
    for (const auto &[k, v] : map.structMembers())
        if (k != kMarkKey && !(k == kMarkRequest && v.getType() == XmlRpcValue::TypeString && v.asString() == kMarkValue))
            out[k] = v;
    return out;
}
XmlRpcValue newArray() { return XmlRpcValue(XmlRpcValue::ValueArray{}); }

void push(XmlRpcValue &array, XmlRpcValue v)
{
    array[array.size()] = std::move(v);
}

// Columns padded to their widest cell; the last one is not padded.
std::string table(const std::vector<std::vector<std::string>> &rows, const std::string &indent = "")
{
    std::vector<size_t> width;
    for (const auto &row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (width.size() <= i)
                width.push_back(0);
            width[i] = std::max(width[i], row[i].size());
        }
    std::string out;
    for (const auto &row : rows) {
        std::string line = indent;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line.append(width[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

const char *const kRgbSuffix[3] = {"_Red", "_Green", "_Blue"};

// The values of an enumeration describe map ("Name"0, "Name"1, ...).
std::vector<std::string> enumValues(const XmlRpcValue &d)
{
    std::vector<std::string> values;
    const std::string name = text(d, "Name");
    long long n = 0;
    if (!parseCInt(text(d, "nVal"), n) || n < 0)
        n = 0;
    for (long long i = 0; i < n && i < 100000; ++i)
        values.push_back(text(d, (name + std::to_string(i)).c_str()));
    return values;
}

// Default value of a describe map as text ("R,G,B" for RGB).
std::string defaultText(const XmlRpcValue &d)
{
    const std::string type = text(d, "DataType");
    if (type == "RGB")
        return text(d, "DefaultValueR") + "," + text(d, "DefaultValueG") + "," + text(d, "DefaultValueB");
    if (type == "RoInteger")
        return text(d, "Value");
    return text(d, "DefaultValue");
}

// The range column: "MIN to MAX", the values of an enumeration, "R,G,B".
std::string rangeText(const XmlRpcValue &d, bool *longList = nullptr)
{
    const std::string type = text(d, "DataType");
    if (type == "Integer" || type == "Double")
        return text(d, "MinValue") + " to " + text(d, "MaxValue");
    if (type == "Boolean")
        return "true|false";
    if (type == "RGB")
        return "R,G,B";
    if (type == "RoInteger")
        return "read-only";
    if (type == "Enumeration") {
        const auto values = enumValues(d);
        std::string all;
        for (const auto &v : values)
            all += (all.empty() ? "" : "|") + v;
        if (all.size() <= 40)
            return all;
        if (longList)
            *longList = true;
        return std::to_string(values.size()) + " values";
    }
    return "text";
}

// A number from a describe map, as a JSON number when it reads as one.
XmlRpcValue jsonNumber(const std::string &t, bool integer)
{
    if (integer) {
        long long v;
        if (parseCInt(t, v) && v >= INT32_MIN && v <= INT32_MAX)
            return XmlRpcValue(static_cast<int>(v));
    }
    double d;
    if (parseDouble(t, d))
        return XmlRpcValue(d);
    return XmlRpcValue(t);
}

// One option for --json: name, type, description, range, default, current.
XmlRpcValue optionJson(const XmlRpcValue &d, const XmlRpcValue &current)
{
    XmlRpcValue o = newStruct();
    const std::string type = text(d, "DataType");
    o["name"] = str(text(d, "Name"));
    o["type"] = str(type);
    o["description"] = str(text(d, "Description"));
    if (type == "Integer" || type == "Double") {
        o["min"] = jsonNumber(text(d, "MinValue"), type == "Integer");
        o["max"] = jsonNumber(text(d, "MaxValue"), type == "Integer");
    }
    if (type == "Enumeration") {
        XmlRpcValue values = newArray();
        for (const auto &v : enumValues(d))
            push(values, str(v));
        o["values"] = values;
    }
    o["default"] = str(defaultText(d));
    o["current"] = current;
    return o;
}

// The current text of an option in a parameter map (three keys for RGB);
// invalid when the map lacks it.
XmlRpcValue currentOf(const XmlRpcValue &d, const XmlRpcValue &map)
{
    const std::string name = text(d, "Name");
    if (text(d, "DataType") == "RGB") {
        std::string rgb;
        for (const char *s : kRgbSuffix) {
            const std::string key = name + s;
            if (!has(map, key))
                return XmlRpcValue();
            rgb += (rgb.empty() ? "" : ",") + text(map, key.c_str());
        }
        return str(rgb);
    }
    if (!has(map, name))
        return XmlRpcValue();
    return str(text(map, name.c_str()));
}

// A current value for the tables: the generator reports its own flags as 0
// and 1.
std::string readable(const XmlRpcValue &d, const XmlRpcValue &current)
{
    if (!current.valid())
        return "-";
    const std::string &t = current.asString();
    if (text(d, "DataType") == "Boolean" && (t == "0" || t == "1"))
        return t == "1" ? "true" : "false";
    return t;
}

std::string hex(const XmlRpcValue::BinaryData &bytes, bool spaced)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (spaced && i) {
            out += i % 16 == 0 ? '\n' : ' ';
        }
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

struct OptionRule {
    const char *name;
    bool value;
    const char *commands; // space-separated; "*" for every command
};

const OptionRule kOptionRules[] = {
    {"--host", true, "*"},
    {"--json", false, "*"},
    {"--timeout", true, "*"},
    {"--help", false, "*"},
    {"-h", false, "*"},
    {"--version", false, "*"},
    {"--discovery-port", true, "discover"},
    {"--broadcast", true, "discover"},
    {"--wait", true, "set"},
    {"--no-wait", false, "set"},
    {"--current", false, "alias"},
    {"--reset", false, "log"},
    {"--output", true, "edid"},
    {"-o", true, "edid"},
};

bool optionFor(const OptionRule &rule, const std::string &command)
{
    if (std::strcmp(rule.commands, "*") == 0)
        return true;
    const std::string list = std::string(" ") + rule.commands + " ";
    return list.find(" " + command + " ") != std::string::npos;
}

const char kGeneralHelp[] =
    "Usage: orvane-ctl [--host HOST[:PORT]] [--json] [--timeout S] COMMAND [ARGS]\n"
    "\n"
    "Drives an Orvane generator over XML-RPC from the command line.\n"
    "\n"
    "Commands:\n"
    "  discover [--timeout S]          list the generators that answer discovery\n"
    "  patterns                        list patterns and aliases\n"
    "  options PATTERN                 show a pattern's options\n"
    "  generator                       show the generator's options and their values\n"
    "  set [PATTERN] KEY=VALUE...      post a request, wait until it is shown\n"
    "  alias define NAME KEY=VALUE...  store a request under a name\n"
    "  alias flush PREFIX              remove the aliases named PREFIX/...\n"
    "  scan FOLDER [PREFIX]            aliases for the images in a generator's folder\n"
    "  edid                            read the display's EDID\n"
    "  version                         show the generator's version texts\n"
    "  log HOST                        send the log to UDP port 5112 of HOST\n"
    "  call METHOD [JSON]...           call any method, one JSON value per parameter\n"
    "  help [COMMAND]                  this text, or a command's\n"
    "\n"
    "Options (before or after the command):\n"
    "  --host HOST[:PORT]  the generator (default: $ORVANE_HOST, else 127.0.0.1:9022)\n"
    "  --json              print the result as JSON, for scripts\n"
    "  --timeout S         seconds each call may take (default 5); for discover, the\n"
    "                      time to collect answers (default 3)\n"
    "  --help              this text; COMMAND --help shows the command's\n"
    "  --version           print orvane-ctl's version\n"
    "\n"
    "Exit status: 0 success, 1 the generator refused or failed, 2 usage error,\n"
    "3 the generator cannot be reached. Failures are reported in one line on\n"
    "standard error.\n";

struct CommandHelp {
    const char *name;
    const char *text;
};

const CommandHelp kCommandHelp[] = {
    {"discover",
     "Usage: orvane-ctl discover [--timeout S] [--discovery-port N] [--broadcast ADDR]\n"
     "\n"
     "Asks the local network for generators and lists those that answer: host\n"
     "name, address, XML-RPC port and version (\"Software\" of GetOrvVersion). The\n"
     "request goes to the discovery port of ADDR; answers come back to UDP port\n"
     "3530 of this machine. Exit status 3 when no generator answered.\n"
     "\n"
     "Options:\n"
     "  --timeout S          seconds to collect answers (default 3)\n"
     "  --discovery-port N   the generators' discovery port (default 3529)\n"
     "  --broadcast ADDR     where the request goes (default 255.255.255.255; a\n"
     "                       host's address asks that host only)\n"},
    {"patterns",
     "Usage: orvane-ctl patterns\n"
     "\n"
     "Lists the generator's patterns with their revision texts, and its aliases\n"
     "with the pattern each one stands for.\n"},
    {"options",
     "Usage: orvane-ctl options PATTERN\n"
     "\n"
     "Shows the options of a pattern, or of the pattern an alias stands for: name,\n"
     "type, range, default, and the current value when the pattern is the one on\n"
     "the output (an option the request left out shows its default).\n"},
    {"generator",
     "Usage: orvane-ctl generator\n"
     "\n"
     "Shows the generator's output options (video format, output colour, colour\n"
     "encoding, gating, titling, mute, levels) with their current values, and the\n"
     "request of the pattern on the output.\n"},
    {"set",
     "Usage: orvane-ctl set [PATTERN] KEY=VALUE... [--wait S | --no-wait]\n"
     "\n"
     "Posts a request and waits until the generator has drawn it on the output.\n"
     "PATTERN is a pattern or alias (also Pattern=NAME); without it the options\n"
     "change the pattern on the output. Keys are the pattern's options (see\n"
     "'orvane-ctl options PATTERN') and the generator's ('orvane-ctl generator'),\n"
     "matched without regard to case. RGB options take R,G,B, enumerations one of\n"
     "their values; \"toggle\" steps an enumeration or flips a boolean. Numbers out\n"
     "of range are clamped by the generator (a warning says so). Unknown patterns,\n"
     "options or values are refused (exit status 1) before anything is sent.\n"
     "Examples:\n"
     "  orvane-ctl set Window Size=10 Color=940,940,940\n"
     "  orvane-ctl set VideoFormat=\"1080p 23.98\"\n"
     "\n"
     "Options:\n"
     "  --wait S    seconds to wait for the request to be on the output (default\n"
     "              10); exit status 1 when it is not by then\n"
     "  --no-wait   return once the request is queued\n"},
    {"alias",
     "Usage: orvane-ctl alias define NAME [PATTERN] KEY=VALUE...\n"
     "       orvane-ctl alias define NAME --current\n"
     "       orvane-ctl alias flush PREFIX\n"
     "\n"
     "define stores a request under NAME (the generator keeps at most 80\n"
     "characters of it); selecting NAME later shows its pattern with these\n"
     "options. The request names a pattern (PATTERN or Pattern=NAME) and is\n"
     "checked as 'set' checks it. flush removes every alias whose name begins\n"
     "with PREFIX/.\n"
     "\n"
     "Options:\n"
     "  --current   define NAME from the request currently on the output\n"},
    {"scan",
     "Usage: orvane-ctl scan FOLDER [PREFIX]\n"
     "\n"
     "Has the generator scan FOLDER, a folder on the generator's machine (give\n"
     "an absolute path), and add an alias PREFIX/NAME for each image in it\n"
     "(PREFIX defaults to mmc; .ovp plug-ins are loaded only by a generator\n"
     "started with --allow-remote-plugins). Lists the aliases under PREFIX/\n"
     "afterwards.\n"},
    {"edid",
     "Usage: orvane-ctl edid [-o FILE]\n"
     "\n"
     "Reads the EDID of the display on the generator's output and prints it in\n"
     "hexadecimal. Exit status 1 when the generator has none.\n"
     "\n"
     "Options:\n"
     "  -o FILE, --output FILE   write the EDID bytes to FILE\n"},
    {"version",
     "Usage: orvane-ctl version\n"
     "\n"
     "Shows the generator's version texts: Software, Gateware, OS and\n"
     "Application.\n"},
    {"log",
     "Usage: orvane-ctl log HOST\n"
     "       orvane-ctl log --reset\n"
     "\n"
     "Sends the generator's diagnostic log to UDP port 5112 of HOST, one datagram\n"
     "per line (listen there with, e.g., socat -u UDP-RECV:5112 STDOUT). --reset\n"
     "brings it back to the generator's standard output.\n"
     "\n"
     "Options:\n"
     "  --reset   bring the log back to the generator's standard output\n"},
    {"call",
     "Usage: orvane-ctl call METHOD [JSON]...\n"
     "\n"
     "Calls any XML-RPC method and prints the result as JSON. Each JSON argument\n"
     "is one parameter: objects are structs, integers that fit 32 bits ints, other\n"
     "numbers doubles; {\"base64\": \"...\"} and {\"dateTime.iso8601\":\n"
     "\"YYYYMMDDTHH:MM:SS\"} stand for those two types. A fault answer is exit\n"
     "status 1. Examples:\n"
     "  orvane-ctl call system.listMethods\n"
     "  orvane-ctl call SetGen '{\"Pattern\": \"Colorbars\"}'\n"
     "  orvane-ctl call PatternOption '\"Window\"'\n"},
    {"help",
     "Usage: orvane-ctl help [COMMAND]\n"
     "\n"
     "Shows the general help, or a command's.\n"},
};

} // namespace

struct OvcCtl::Options {
    std::string command;
    std::string host = kDefaultHost;
    int port = kDefaultPort;
    bool json = false;
    double timeout = kDefaultTimeout;
    bool timeoutGiven = false;
    int discoveryPort = RnServiceResponder::kListenPort;
    std::string broadcast = "255.255.255.255";
    double wait = kDefaultWait;
    bool noWait = false;
    bool current = false;
    bool reset = false;
    std::string output;
};

// A pattern or alias as the generator lists it, with its option describes.
struct OvcCtl::Pattern {
    std::string name;     // as listed: the registry's spelling or the alias
    std::string renderer; // the pattern behind it (the name itself for a pattern)
    bool isAlias = false;
    XmlRpcValue options;  // array of describe structs
};

// A request to send, and what shows that the generator has taken it.
struct OvcCtl::Request {
    XmlRpcValue members = newStruct();
    std::string pattern;
    bool patternIsAlias = false;
    // Entries the current request map must hold once taken.
    std::vector<std::pair<std::string, std::string>> mapChecks;
    // Generator settings that must read so (value compared without case).
    std::vector<std::pair<std::string, std::string>> genChecks;
    bool hasVideoFormat = false;
};

OvcCtl::OvcCtl() : m_opt(std::make_unique<Options>()) {}
OvcCtl::~OvcCtl() = default;

std::vector<std::string> OvcCtl::commands()
{
    std::vector<std::string> names;
    for (const CommandHelp &c : kCommandHelp)
        names.push_back(c.name);
    return names;
}

std::string OvcCtl::help(const std::string &command)
{
    for (const CommandHelp &c : kCommandHelp)
        if (command == c.name)
            return c.text;
    return kGeneralHelp;
}

bool OvcCtl::parseHost(const std::string &t, std::string &host, int &port)
{
    const size_t colon = t.rfind(':');
    if (colon == std::string::npos) {
        if (t.empty())
            return false;
        host = t;
        port = kDefaultPort;
        return true;
    }
    if (colon == 0 || t.find(':') != colon)
        return false;
    int p;
    if (!parsePort(t.substr(colon + 1), p))
        return false;
    host = t.substr(0, colon);
    port = p;
    return true;
}

int OvcCtl::run(const std::vector<std::string> &args, const char *envHost)
{
    m_out.clear();
    m_err.clear();
    *m_opt = Options();
    XmlRpcUtil::setErrorSink(keepError);

    std::vector<std::string> positional;
    std::vector<std::pair<const OptionRule *, std::string>> given;
    bool endOfOptions = false;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string &a = args[i];
            const bool looksLikeOption =
                !endOfOptions && a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9');
            if (!looksLikeOption) {
                positional.push_back(a);
                continue;
            }
            if (a == "--") {
                endOfOptions = true;
                continue;
            }
            const size_t eq = a.find('=');
            const std::string name = a.substr(0, eq);
            const OptionRule *rule = nullptr;
            for (const OptionRule &s : kOptionRules)
                if (name == s.name)
                    rule = &s;
            if (!rule)
                throw usage("unknown option '" + name + "'");
            std::string value;
            if (rule->value) {
                if (eq != std::string::npos)
                    value = a.substr(eq + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    throw usage(name + " needs a value");
            } else if (eq != std::string::npos) {
                throw usage(name + " takes no value");
            }
            given.emplace_back(rule, value);
        }

        Options &o = *m_opt;
        o.command = positional.empty() ? std::string() : positional.front();
        if (!positional.empty())
            positional.erase(positional.begin());
        bool wantHelp = false, wantVersion = false;
        if (!o.command.empty() && help(o.command) == kGeneralHelp)
            throw usage("unknown command '" + o.command + "'");
        std::string hostText = envHost && *envHost ? envHost : "";
        bool hostFromEnv = !hostText.empty();
        for (const auto &[rule, value] : given) {
            const std::string name = rule->name;
            if (!o.command.empty() && !optionFor(*rule, o.command))
                throw usage(name + " is not an option of " + o.command);
            if (name == "--help" || name == "-h")
                wantHelp = true;
            else if (name == "--version")
                wantVersion = true;
            else if (name == "--json")
                o.json = true;
            else if (name == "--host") {
                hostText = value;
                hostFromEnv = false;
            } else if (name == "--timeout") {
                if (!parseSeconds(value, o.timeout))
                    throw usage("--timeout needs seconds (more than 0), not '" + value + "'");
                o.timeoutGiven = true;
            } else if (name == "--discovery-port") {
                if (!parsePort(value, o.discoveryPort))
                    throw usage("--discovery-port needs a port number from 1 to 65535, not '" + value + "'");
            } else if (name == "--broadcast") {
                o.broadcast = value;
            } else if (name == "--wait") {
                if (!parseSeconds(value, o.wait))
                    throw usage("--wait needs seconds (more than 0), not '" + value + "'");
            } else if (name == "--no-wait")
                o.noWait = true;
            else if (name == "--current")
                o.current = true;
            else if (name == "--reset")
                o.reset = true;
            else if (name == "--output" || name == "-o") {
                if (value.empty())
                    throw usage(name + " needs a file name");
                o.output = value;
            }
        }
        if (wantHelp) {
            m_out = help(o.command);
            return kOk;
        }
        if (wantVersion) {
            m_out = std::string("orvane-ctl ") + ORVANE_VERSION + "\n";
            return kOk;
        }
        if (o.command.empty())
            throw usage("a command is missing");
        if (!hostText.empty() && !parseHost(hostText, o.host, o.port))
            throw usage(std::string(hostFromEnv ? "ORVANE_HOST" : "--host") + " wants HOST[:PORT], not '" +
                        hostText + "'");
        return dispatch(o.command, positional);
    } catch (const Failure &f) {
        // One line, the hint included.
        m_err += "orvane-ctl: " + f.message;
        if (f.status == kUsage) {
            const std::string &c = m_opt->command;
            m_err += " (see 'orvane-ctl " + (c.empty() || help(c) == kGeneralHelp ? std::string() : c + " ") +
                     "--help')";
        }
        m_err += "\n";
        return f.status;
    } catch (const XmlRpcException &e) {
        m_err += "orvane-ctl: the generator's answer has an unexpected shape (" + e.getMessage() + ")\n";
        return kFailed;
    } catch (const std::exception &e) {
        m_err += std::string("orvane-ctl: ") + e.what() + "\n";
        return kFailed;
    }
}

int OvcCtl::dispatch(const std::string &command, std::vector<std::string> &args)
{
    const auto noArgs = [&]() {
        if (!args.empty())
            throw usage(command + " takes no arguments, not '" + args.front() + "'");
    };
    if (command == "help") {
        if (args.size() > 1)
            throw usage("help takes one command name");
        if (!args.empty() && help(args[0]) == kGeneralHelp)
            throw usage("unknown command '" + args[0] + "'");
        m_out = help(args.empty() ? std::string() : args[0]);
        return kOk;
    }
    if (command == "discover") {
        noArgs();
        return discover();
    }
    if (command == "patterns") {
        noArgs();
        return patterns();
    }
    if (command == "options")
        return options(args);
    if (command == "generator") {
        noArgs();
        return generator();
    }
    if (command == "set")
        return set(args);
    if (command == "alias")
        return alias(args);
    if (command == "scan")
        return scan(args);
    if (command == "edid") {
        noArgs();
        return edid();
    }
    if (command == "version") {
        noArgs();
        return version();
    }
    if (command == "log")
        return log(args);
    if (command == "call")
        return call(args);
    throw usage("unknown command '" + command + "'");
}

XmlRpcValue OvcCtl::execute(const char *method, const XmlRpcValue &params)
{
    const Options &o = *m_opt;
    if (!m_client) {
        m_client = std::make_unique<XmlRpcClient>(o.host.c_str(), o.port);
        m_client->setTimeLimit(o.timeout);
    }
    XmlRpcValue result;
    g_lastError.clear();
    if (!m_client->execute(method, params, result)) {
        std::string why = g_lastError.empty() ? "no answer" : readableReason(g_lastError);
        throw Failure{kUnreachable, "cannot reach the generator at " + o.host + ":" + number(o.port) + ": " + why};
    }
    if (m_client->isFault()) {
        std::string code;
        const XmlRpcValue &c = member(result, XmlRpcNames::kFaultCode);
        if (c.getType() == XmlRpcValue::TypeInt)
            code = " " + number(c.asInt());
        throw refused(std::string(method) + ": the generator answered with fault" + code + ": " +
                      text(result, XmlRpcNames::kFaultString));
    }
    return result;
}

void OvcCtl::print(const XmlRpcValue &json) { m_out += OvcJson::write(json, true) + "\n"; }

XmlRpcValue OvcCtl::patternList()
{
    XmlRpcValue list = execute("PatternOption", XmlRpcValue());
    if (list.getType() != XmlRpcValue::TypeStruct)
        return newStruct();
    return list;
}

XmlRpcValue OvcCtl::genOptions()
{
    // Asked with {"Signal": true}: a generator with signal options adds
    // their descriptions and values after the usual maps; one without them
    // ignores the parameter.
    XmlRpcValue ask = newStruct();
    ask["Signal"] = XmlRpcValue(true);
    XmlRpcValue params = newArray();
    push(params, ask);
    XmlRpcValue g = execute("GetGenOptions", params);
    if (g.getType() != XmlRpcValue::TypeArray || g.size() < 2)
        throw refused("GetGenOptions: the generator gave no options");
    for (const XmlRpcValue &m : g.array())
        if (m.getType() != XmlRpcValue::TypeStruct)
            throw refused("GetGenOptions: the generator's answer has an unexpected shape");
    // Back to one shape: every description, then the values, then the map
    // on the output (the signal values joined to the usual ones).
    const auto &a = g.array();
    size_t values = 0;
    while (values < a.size() && has(a[values], "Name") && has(a[values], "DataType"))
        ++values;
    if (values + 2 >= a.size())
        return g;
    XmlRpcValue out = newArray();
    for (size_t i = 0; i < values; ++i)
        push(out, a[i]);
    for (size_t i = values + 2; i + 1 < a.size(); ++i)
        push(out, a[i]);
    XmlRpcValue joined = a[values];
    for (const auto &[k, v] : a.back().structMembers())
        joined[k] = v;
    push(out, joined);
    push(out, a[values + 1]);
    return out;
}

bool OvcCtl::resolvePattern(const std::string &name, Pattern &p)
{
    const XmlRpcValue list = patternList();
    const auto &m = list.structMembers();
    auto it = m.find(name);
    if (it == m.end()) {
        // The registry takes pattern names in any case; aliases as they are.
        for (auto i = m.begin(); i != m.end(); ++i) {
            if (i->second.getType() == XmlRpcValue::TypeString && !startsWith(i->second.asString(), "Alias/") &&
                sameText(i->first, name)) {
                it = i;
                break;
            }
        }
    }
    if (it == m.end())
        return false;
    p.name = it->first;
    const std::string entry = it->second.getType() == XmlRpcValue::TypeString ? it->second.asString() : "";
    p.isAlias = startsWith(entry, "Alias/");
    p.renderer = p.isAlias ? entry.substr(6) : p.name;
    XmlRpcValue params = newArray();
    push(params, str(p.renderer));
    p.options = execute("PatternOption", params);
    if (p.options.getType() != XmlRpcValue::TypeArray)
        return false;
    return true;
}

namespace {

// The describe struct of an option by name (ASCII case-insensitive).
const XmlRpcValue *findOption(const XmlRpcValue &describes, const std::string &name, size_t count)
{
    if (describes.getType() != XmlRpcValue::TypeArray)
        return nullptr;
    const auto &a = describes.array();
    for (size_t i = 0; i < a.size() && i < count; ++i)
        if (sameText(text(a[i], "Name"), name))
            return &a[i];
    return nullptr;
}

bool isToggle(const std::string &v) { return sameText(v, "toggle"); }

} // namespace

void OvcCtl::buildRequest(const std::vector<std::string> &args, size_t first, bool allowPattern, Request &r)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string patternName;
    for (size_t i = first; i < args.size(); ++i) {
        const std::string &a = args[i];
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            if (eq == 0)
                throw usage("'" + a + "' has no key before '='");
            if (!allowPattern || !patternName.empty())
                throw usage("unexpected argument '" + a + "' (options are KEY=VALUE)");
            patternName = a;
            continue;
        }
        const std::string key = a.substr(0, eq), value = a.substr(eq + 1);
        if (sameText(key, "Pattern")) {
            if (!allowPattern || !patternName.empty())
                throw usage("the pattern is given twice");
            patternName = value;
            continue;
        }
        pairs.emplace_back(key, value);
    }

    const XmlRpcValue gen = genOptions();
    const size_t genCount = static_cast<size_t>(gen.size()) - 2;
    const XmlRpcValue &currentMap = gen.array().back();

    Pattern p;
    bool havePattern = false;
    if (!patternName.empty()) {
        if (!resolvePattern(patternName, p))
            throw refused("the generator has no pattern or alias '" + patternName + "'");
        havePattern = true;
        r.pattern = p.name;
        r.patternIsAlias = p.isAlias;
        r.members["Pattern"] = str(p.name);
        r.mapChecks.emplace_back("Pattern", p.name);
    } else {
        const std::string shown = text(currentMap, "Pattern");
        havePattern = !shown.empty() && resolvePattern(shown, p);
    }
    const std::string owner = havePattern ? p.renderer : std::string("the generator");

    for (const auto &[key, value] : pairs) {
        bool generatorOption = false;
        const XmlRpcValue *d = havePattern ? findOption(p.options, key, SIZE_MAX) : nullptr;
        std::string component;
        if (!d) {
            d = findOption(gen, key, genCount);
            generatorOption = d != nullptr;
        }
        if (!d) {
            // One component of an RGB option: Color_Red and the like.
            for (const char *s : kRgbSuffix) {
                const size_t n = std::strlen(s);
                if (key.size() > n && sameText(key.substr(key.size() - n), s)) {
                    const std::string stem = key.substr(0, key.size() - n);
                    d = havePattern ? findOption(p.options, stem, SIZE_MAX) : nullptr;
                    if (!d) {
                        d = findOption(gen, stem, genCount);
                        generatorOption = d != nullptr;
                    }
                    if (d && text(*d, "DataType") != "RGB")
                        d = nullptr;
                    component = s;
                }
            }
        }
        if (!d)
            throw refused(owner + " has no option '" + key + "'" +
                          (havePattern ? " (see orvane-ctl options " + p.renderer + ")"
                                       : " (see orvane-ctl generator)"));

        const std::string name = text(*d, "Name");
        const std::string type = text(*d, "DataType");
        const auto add = [&](const std::string &k, const std::string &v, bool check) {
            r.members[k] = str(v);
            if (!check)
                return;
            if (!generatorOption)
                r.mapChecks.emplace_back(k, v);
        };

        if (type == "RoInteger")
            throw refused(name + " is read-only");
        if (type == "RGB") {
            std::vector<std::string> parts;
            if (!component.empty()) {
                parts.push_back(value);
            } else {
                size_t start = 0;
                for (;;) {
                    const size_t comma = value.find(',', start);
                    parts.push_back(value.substr(start, comma - start));
                    if (comma == std::string::npos)
                        break;
                    start = comma + 1;
                }
                if (parts.size() != 3)
                    throw refused(name + " takes R,G,B (three numbers), not '" + value + "'");
            }
            for (size_t i = 0; i < parts.size(); ++i) {
                long long v;
                if (!parseCInt(parts[i], v) || v < 0 || v > UINT32_MAX)
                    throw refused(name + " takes R,G,B with whole numbers from 0 up, not '" + value + "'");
                const std::string k = name + (component.empty() ? kRgbSuffix[i] : component.c_str());
                add(k, parts[i], true);
                // The generator takes a gating colour only when all three come.
                if (generatorOption && component.empty())
                    r.genChecks.emplace_back(k, number(v));
            }
            continue;
        }
        if (type == "Enumeration") {
            if (isToggle(value)) {
                add(name, value, false);
                continue;
            }
            std::string canonical;
            const auto values = enumValues(*d);
            for (const auto &v : values)
                if (sameText(v, value))
                    canonical = v;
            if (canonical.empty()) {
                std::string list;
                for (size_t i = 0; i < values.size() && list.size() < 300; ++i)
                    list += (i ? ", " : "") + values[i];
                if (list.size() >= 300)
                    list += ", ...";
                throw refused(name + " has no value '" + value + "'" +
                              (list.empty() ? std::string() : " (it takes " + list + ")"));
            }
            add(name, canonical, true);
            if (generatorOption) {
                r.genChecks.emplace_back(name, canonical);
                if (name == "VideoFormat")
                    r.hasVideoFormat = true;
            }
            continue;
        }
        if (type == "Boolean") {
            static const char *const kTrue[] = {"true", "yes", "1", "on"};
            static const char *const kFalse[] = {"false", "no", "0", "off"};
            if (isToggle(value)) {
                add(name, value, false);
                continue;
            }
            int truth = -1;
            for (const char *t : kTrue)
                if (sameText(value, t))
                    truth = 1;
            for (const char *f : kFalse)
                if (sameText(value, f))
                    truth = 0;
            if (truth < 0)
                throw refused(name + " takes true or false (or toggle), not '" + value + "'");
            // Sent in the words the generator reads ("on" and "off" it does not).
            const std::string v = truth ? "true" : "false";
            add(name, v, true);
            if (generatorOption)
                r.genChecks.emplace_back(name, truth ? "1" : "0");
            continue;
        }
        if (type == "Integer" || type == "Double") {
            double v = 0.0, lo = 0.0, hi = 0.0;
            long long iv;
            const bool ok = type == "Integer" ? parseCInt(value, iv) && (v = static_cast<double>(iv), true)
                                              : parseDouble(value, v);
            if (!ok)
                throw refused(name + " takes a " + (type == "Integer" ? "whole number" : "number") + ", not '" +
                              value + "'");
            if (parseDouble(text(*d, "MinValue"), lo) && parseDouble(text(*d, "MaxValue"), hi) &&
                (v < lo || v > hi))
                m_err += "orvane-ctl: warning: " + name + "=" + value + " is outside " + text(*d, "MinValue") +
                         " to " + text(*d, "MaxValue") + "; the generator clamps it\n";
            add(name, value, true);
            continue;
        }
        add(name, value, true);
    }
    // The gating colour needs all three components to be taken.
    int gating = 0;
    for (const auto &c : r.genChecks)
        gating += startsWith(c.first, "GatingColor_") ? 1 : 0;
    if (gating != 0 && gating != 3)
        r.genChecks.erase(std::remove_if(r.genChecks.begin(), r.genChecks.end(),
                                         [](const auto &c) { return startsWith(c.first, "GatingColor_"); }),
                          r.genChecks.end());
    // A new video format brings the board's own colour encoding with it.
    if (r.hasVideoFormat)
        r.genChecks.erase(std::remove_if(r.genChecks.begin(), r.genChecks.end(),
                                         [](const auto &c) { return c.first == "ColorEncoding"; }),
                          r.genChecks.end());
}

bool OvcCtl::waitTaken(const Request &r, const XmlRpcValue &before)
{
    // The generator has no call that waits for a request, but the render
    // thread publishes each request it takes (its parameter map) and the
    // generator settings it applied: watch those.
    const auto taken = [&](const XmlRpcValue &g) {
        const XmlRpcValue &values = g.array()[g.array().size() - 2];
        const XmlRpcValue &map = g.array().back();
        for (const auto &[k, v] : r.mapChecks)
            if (!has(map, k) || text(map, k.c_str()) != v)
                return false;
        for (const auto &[k, v] : r.genChecks)
            if (!sameText(text(values, k.c_str()), v))
                return false;
        if (!r.pattern.empty() && !r.patternIsAlias) {
            // A request naming a pattern replaces the whole map: nothing
            // else may be left but what the engine adds itself.
            for (const auto &[k, v] : map.structMembers())
                if (!r.members.hasMember(k) && k != "ColorEncoding")
                    return false;
        }
        return true;
    };
    const bool nothingToSee = r.mapChecks.empty() && r.genChecks.empty();
    const auto end = Clock::now() + std::chrono::duration<double>(m_opt->wait);
    for (;;) {
        const XmlRpcValue g = genOptions();
        if (nothingToSee ? !(g == before) : taken(g))
            return true;
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool OvcCtl::waitShown(int32_t id, Clock::time_point end)
{
    // The render thread takes one request, draws and presents it, then takes
    // the next: once a marker posted after ours is taken, ours is out. The
    // marker goes after ours is taken, as a request without a pattern copies
    // the current map when it is queued.
    const std::string mark = "orvane-ctl." + number(static_cast<int>(getpid())) + "." + number(id);
    XmlRpcValue marker = newStruct();
    marker[kMarkKey] = XmlRpcValue(mark);
    marker[kMarkRequest] = XmlRpcValue(kMarkValue);
    XmlRpcValue params = newArray();
    push(params, marker);
    const XmlRpcValue mid = execute("SetGen", params);
    if (mid.getType() != XmlRpcValue::TypeInt || mid.asInt() == -1)
        throw refused("SetGen: the generator refused the wait marker (answer " + OvcJson::write(mid, false) + ")");
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        const XmlRpcValue g = genOptions();
        const XmlRpcValue &map = g.array().back();
        if (has(map, kMarkKey) && text(map, kMarkKey) == mark)
            return true;
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

int OvcCtl::discover()
{
    const Options &o = *m_opt;
    const double collect = o.timeoutGiven ? o.timeout : kDefaultDiscoverTime;
    // The requestor counts a round of up to 250 ms for every datagram too, so
    // its budget alone would end early when answers come: give it rounds to
    // spare and stop it when the time is up.
    const int budget = static_cast<int>(collect * 1000.0) + 250 * kDiscoverSpareRounds;
    RnServiceRequestor requestor(RnServiceResponder::kReplyPort, static_cast<uint16_t>(o.discoveryPort),
                                 o.broadcast.c_str(), budget);
    const auto end = Clock::now() + std::chrono::duration<double>(collect);
    // Try the answer port first, so that a busy port is one line of ours.
    {
        const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        sa.sin_port = htons(RnServiceResponder::kReplyPort);
        const bool free = probe >= 0 && setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                          bind(probe, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
        const int err = errno;
        if (probe >= 0)
            ::close(probe);
        if (!free)
            throw refused("cannot listen for answers on UDP port " + number(RnServiceResponder::kReplyPort) + ": " +
                          std::strerror(err));
    }
    if (!requestor.start())
        throw refused("cannot listen for answers on UDP port " + number(RnServiceResponder::kReplyPort));
    std::this_thread::sleep_until(end);
    requestor.stop();

    std::set<std::string> seen;
    XmlRpcValue list = newArray();
    std::vector<std::vector<std::string>> rows{{"NAME", "ADDRESS", "PORT", "VERSION"}};
    for (const auto &a : requestor.answers()) {
        const std::string name(a.record.hostName, strnlen(a.record.hostName, sizeof a.record.hostName));
        const std::string key = name + "\n" + a.address + "\n" + number(a.record.port);
        if (!seen.insert(key).second)
            continue;
        XmlRpcValue g = newStruct();
        g["name"] = str(name);
        g["address"] = str(a.address);
        g["port"] = XmlRpcValue(static_cast<int>(a.record.port));
        g["serviceCode"] = XmlRpcValue(static_cast<int>(a.record.serviceCode));
        // The record carries no version: ask the generator itself, briefly.
        std::string version;
        {
            XmlRpcClient client(a.address.c_str(), a.record.port);
            client.setTimeLimit(std::min(o.timeoutGiven ? o.timeout : 2.0, 2.0));
            XmlRpcValue v;
            if (client.execute("GetOrvVersion", XmlRpcValue(), v) && !client.isFault() &&
                v.getType() == XmlRpcValue::TypeArray && v.size() > 0)
                version = text(v.array()[0], "Software");
        }
        g["version"] = version.empty() ? XmlRpcValue() : str(version);
        push(list, g);
        rows.push_back({name, a.address, number(a.record.port), version.empty() ? "?" : version});
    }
    if (o.json)
        print(list);
    else if (list.size() > 0)
        m_out += table(rows);
    if (list.size() == 0) {
        m_err += "orvane-ctl: no generator answered on UDP port " + number(o.discoveryPort) + " of " + o.broadcast +
                 " within " + seconds(collect) + " s\n";
        return kUnreachable;
    }
    return kOk;
}

int OvcCtl::patterns()
{
    const XmlRpcValue list = patternList();
    XmlRpcValue pats = newArray(), aliases = newArray();
    std::vector<std::vector<std::string>> pRows, aRows;
    for (const auto &[name, v] : list.structMembers()) {
        const std::string t = v.getType() == XmlRpcValue::TypeString ? v.asString() : std::string();
        XmlRpcValue e = newStruct();
        e["name"] = str(name);
        if (startsWith(t, "Alias/")) {
            e["pattern"] = str(t.substr(6));
            push(aliases, e);
            aRows.push_back({name, t.substr(6)});
        } else {
            e["revision"] = str(t);
            push(pats, e);
            pRows.push_back({name, t});
        }
    }
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["patterns"] = pats;
        j["aliases"] = aliases;
        print(j);
        return kOk;
    }
    m_out += "Patterns:\n" + table(pRows, "  ");
    m_out += "Aliases:\n" + (aRows.empty() ? std::string("  (none)\n") : table(aRows, "  "));
    return kOk;
}

int OvcCtl::options(const std::vector<std::string> &args)
{
    if (args.size() != 1)
        throw usage("options takes one pattern name");
    Pattern p;
    if (!resolvePattern(args[0], p))
        throw refused("the generator has no pattern or alias '" + args[0] + "'");
    // Current values when this pattern is the one on the output.
    const XmlRpcValue gen = genOptions();
    const XmlRpcValue &map = gen.array().back();
    bool shown = false;
    const std::string onOutput = text(map, "Pattern");
    if (!onOutput.empty()) {
        Pattern cur;
        shown = sameText(onOutput, p.name) || (resolvePattern(onOutput, cur) && sameText(cur.renderer, p.renderer));
    }
    XmlRpcValue opts = newArray();
    std::vector<std::vector<std::string>> rows{{"NAME", "TYPE", "RANGE", "DEFAULT", "CURRENT"}};
    std::string lists;
    for (const XmlRpcValue &d : p.options.array()) {
        XmlRpcValue current;
        if (shown) {
            current = currentOf(d, map);
            if (!current.valid())
                current = str(defaultText(d));
        }
        push(opts, optionJson(d, current));
        bool longList = false;
        rows.push_back({text(d, "Name"), text(d, "DataType"), rangeText(d, &longList), defaultText(d),
                        readable(d, current)});
        if (longList) {
            std::string all;
            for (const auto &v : enumValues(d))
                all += (all.empty() ? "" : ", ") + v;
            lists += text(d, "Name") + ": " + all + "\n";
        }
    }
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["pattern"] = str(p.renderer);
        j["alias"] = p.isAlias ? str(p.name) : XmlRpcValue();
        j["shown"] = XmlRpcValue(shown);
        j["options"] = opts;
        print(j);
        return kOk;
    }
    m_out += p.isAlias ? p.name + " (alias of " + p.renderer + ")" : p.name;
    m_out += shown ? ", on the output\n" : "\n";
    if (p.options.size() == 0)
        m_out += "  (no options)\n";
    else
        m_out += table(rows, "  ");
    m_out += lists;
    return kOk;
}

int OvcCtl::generator()
{
    const XmlRpcValue gen = genOptions();
    const auto &a = gen.array();
    const XmlRpcValue &values = a[a.size() - 2];
    const XmlRpcValue map = withoutMarkers(a.back());
    XmlRpcValue opts = newArray();
    std::vector<std::vector<std::string>> rows{{"NAME", "TYPE", "RANGE", "DEFAULT", "CURRENT"}};
    std::string lists;
    for (size_t i = 0; i + 2 < a.size(); ++i) {
        const XmlRpcValue &d = a[i];
        XmlRpcValue current = currentOf(d, values);
        if (!current.valid() && text(d, "DataType") == "RoInteger")
            current = str(text(d, "Value"));
        push(opts, optionJson(d, current));
        bool longList = false;
        rows.push_back({text(d, "Name"), text(d, "DataType"), rangeText(d, &longList), defaultText(d),
                        readable(d, current)});
        if (longList) {
            std::string all;
            for (const auto &v : enumValues(d))
                all += (all.empty() ? "" : ", ") + v;
            lists += text(d, "Name") + ": " + all + "\n";
        }
    }
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["options"] = opts;
        j["settings"] = values;
        j["request"] = map;
        print(j);
        return kOk;
    }
    m_out += "Generator options:\n" + table(rows, "  ") + lists;
    m_out += "On the output:";
    for (const auto &[k, v] : map.structMembers())
        m_out += " " + k + "=" + (v.getType() == XmlRpcValue::TypeString ? v.asString() : std::string());
    m_out += "\n";
    return kOk;
}

int OvcCtl::set(const std::vector<std::string> &args)
{
    if (args.empty())
        throw usage("set needs a pattern or KEY=VALUE");
    Request r;
    buildRequest(args, 0, true, r);
    if (r.members.size() == 0)
        throw usage("set needs a pattern or KEY=VALUE");
    const XmlRpcValue before = genOptions();
    XmlRpcValue params = newArray();
    push(params, r.members);
    const XmlRpcValue id = execute("SetGen", params);
    if (id.getType() != XmlRpcValue::TypeInt || id.asInt() == -1)
        throw refused("SetGen: the generator refused the request (answer " + OvcJson::write(id, false) + ")");
    bool taken = false, shown = false;
    if (!m_opt->noWait) {
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(m_opt->wait));
        taken = waitTaken(r, before);
        if (!taken)
            throw refused("the generator did not take transaction " + number(id.asInt()) + " within " +
                          seconds(m_opt->wait) + " s");
        shown = waitShown(id.asInt(), end);
        if (!shown)
            throw refused("transaction " + number(id.asInt()) + " was not on the output within " +
                          seconds(m_opt->wait) + " s");
    }
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["transaction"] = id;
        j["request"] = r.members;
        j["taken"] = XmlRpcValue(taken);
        j["shown"] = XmlRpcValue(shown);
        print(j);
        return kOk;
    }
    m_out += "transaction " + number(id.asInt()) + (shown ? ": on the output\n" : ": queued\n");
    return kOk;
}

int OvcCtl::alias(const std::vector<std::string> &args)
{
    if (args.empty())
        throw usage("alias needs define or flush");
    const std::string &sub = args[0];
    if (sub == "flush") {
        if (m_opt->current)
            throw usage("--current belongs to alias define");
        if (args.size() != 2)
            throw usage("alias flush takes one prefix");
        std::string prefix = args[1];
        while (!prefix.empty() && prefix.back() == '/')
            prefix.pop_back();
        if (prefix.empty())
            throw usage("alias flush needs a prefix that is not empty");
        const auto countUnder = [&](const XmlRpcValue &list) {
            int n = 0;
            for (const auto &[name, v] : list.structMembers())
                n += startsWith(name, prefix + "/") && v.getType() == XmlRpcValue::TypeString &&
                             startsWith(v.asString(), "Alias/")
                         ? 1
                         : 0;
            return n;
        };
        const int before = countUnder(patternList());
        XmlRpcValue s = newStruct();
        s["Prefix"] = str(prefix);
        s["Path"] = str("flush");
        XmlRpcValue params = newArray();
        push(params, s);
        const XmlRpcValue answer = execute("MMCAlias", params);
        const std::string expected = "flushed " + prefix + "/ aliases";
        if (answer.getType() != XmlRpcValue::TypeString || answer.asString() != expected)
            throw refused("MMCAlias: the generator did not flush (answer " + OvcJson::write(answer, false) + ")");
        const int removed = before - countUnder(patternList());
        if (m_opt->json) {
            XmlRpcValue j = newStruct();
            j["answer"] = answer;
            j["removed"] = XmlRpcValue(removed);
            print(j);
        } else {
            m_out += answer.asString() + " (" + number(removed) + " removed)\n";
        }
        return kOk;
    }
    if (sub != "define")
        throw usage("alias needs define or flush, not '" + sub + "'");
    if (args.size() < 2)
        throw usage("alias define needs a name");
    const std::string name = args[1];
    if (name.empty())
        throw usage("alias define needs a name that is not empty");
    if (name.find('=') != std::string::npos)
        throw usage("alias define needs a name before KEY=VALUE");
    const std::string stored = name.substr(0, kAliasNameLength);
    XmlRpcValue members = newStruct();
    std::string pattern;
    if (m_opt->current) {
        if (args.size() > 2)
            throw usage("alias define --current takes no KEY=VALUE");
        const XmlRpcValue gen = genOptions();
        const XmlRpcValue map = withoutMarkers(gen.array().back());
        pattern = text(map, "Pattern");
        Pattern p;
        if (pattern.empty() || !resolvePattern(pattern, p))
            throw refused("the generator has no pattern on the output to define '" + name + "' from");
        // The map on the output, sent as it stands: the generator's own copy
        // (AliasType=Pattern) works for patterns only and would keep the
        // wait markers. An alias on the output is defined on its pattern.
        members = map;
        members["Pattern"] = str(p.renderer);
    } else {
        Request r;
        buildRequest(args, 2, true, r);
        if (r.pattern.empty())
            throw usage("alias define needs the pattern: PATTERN or Pattern=NAME");
        if (r.patternIsAlias)
            throw refused("'" + r.pattern + "' is an alias; an alias is defined from a pattern");
        members = r.members;
        pattern = r.pattern;
    }
    members["AliasName"] = str(name);
    XmlRpcValue params = newArray();
    push(params, members);
    const XmlRpcValue answer = execute("SetAlias", params);
    if (answer.getType() != XmlRpcValue::TypeString || answer.asString() != stored)
        throw refused("SetAlias: the generator refused the alias (answer " + OvcJson::write(answer, false) + ")");
    // The answer is the name even when the generator could not make the
    // alias: the list tells.
    const XmlRpcValue list = patternList();
    const std::string entry = text(list, stored.c_str());
    if (!startsWith(entry, "Alias/"))
        throw refused("the generator did not store the alias '" + stored + "'");
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["alias"] = str(stored);
        j["pattern"] = str(entry.substr(6));
        print(j);
    } else {
        m_out += "alias " + stored + " -> " + entry.substr(6) + "\n";
    }
    if (stored.size() < name.size())
        m_err += "orvane-ctl: warning: the alias name was cut to " + number(kAliasNameLength) + " characters\n";
    return kOk;
}

int OvcCtl::scan(const std::vector<std::string> &args)
{
    if (args.empty() || args.size() > 2)
        throw usage("scan takes FOLDER [PREFIX]");
    std::string folder = args[0];
    if (folder.empty())
        throw usage("scan needs a folder");
    // The generator reads the path "flush" as the flush request.
    if (folder == "flush")
        folder = "./flush";
    std::string prefix = args.size() == 2 ? args[1] : "mmc";
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    if (prefix.empty())
        throw usage("scan needs a prefix that is not empty");
    const std::string under = prefix + "/";
    const auto aliasesUnder = [&](const XmlRpcValue &list) {
        std::vector<std::string> names;
        for (const auto &[name, v] : list.structMembers())
            if (startsWith(name, under) && v.getType() == XmlRpcValue::TypeString && startsWith(v.asString(), "Alias/"))
                names.push_back(name);
        return names;
    };
    const auto before = aliasesUnder(patternList());
    XmlRpcValue params = newArray();
    if (args.size() == 2) {
        XmlRpcValue s = newStruct();
        s["Prefix"] = str(prefix);
        s["Path"] = str(folder);
        push(params, s);
    } else {
        push(params, str(folder));
    }
    const XmlRpcValue answer = execute("MMCAlias", params);
    if (answer.getType() == XmlRpcValue::TypeString && answer.asString() == "invalid arguments")
        throw refused("MMCAlias: the generator answered \"invalid arguments\"");
    const auto after = aliasesUnder(patternList());
    int added = 0;
    for (const auto &n : after)
        added += std::find(before.begin(), before.end(), n) == before.end() ? 1 : 0;
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["folder"] = str(folder);
        j["prefix"] = str(under);
        XmlRpcValue names = newArray();
        for (const auto &n : after)
            push(names, str(n));
        j["aliases"] = names;
        j["added"] = XmlRpcValue(added);
        print(j);
        return kOk;
    }
    m_out += "scanned " + folder + ": " + number(static_cast<long long>(after.size())) + " aliases under " + under +
             " (" + number(added) + " new)\n";
    for (const auto &n : after)
        m_out += "  " + n + "\n";
    return kOk;
}

int OvcCtl::edid()
{
    const XmlRpcValue answer = execute("ReadEdid", XmlRpcValue());
    if (answer.getType() != XmlRpcValue::TypeBase64) {
        const std::string t = answer.getType() == XmlRpcValue::TypeString ? answer.asString() : "no EDID";
        throw refused("ReadEdid: " + t);
    }
    const auto &bytes = answer.asBinary();
    if (!m_opt->output.empty()) {
        std::ofstream f(m_opt->output, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        f.close();
        if (!f)
            throw refused("cannot write " + m_opt->output);
    }
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["bytes"] = XmlRpcValue(static_cast<int>(bytes.size()));
        j["hex"] = str(hex(bytes, false));
        print(j);
    } else if (m_opt->output.empty()) {
        m_out += hex(bytes, true) + "\n";
    } else {
        m_out += "wrote " + number(static_cast<long long>(bytes.size())) + " bytes to " + m_opt->output + "\n";
    }
    return kOk;
}

int OvcCtl::version()
{
    const XmlRpcValue answer = execute("GetOrvVersion", XmlRpcValue());
    if (answer.getType() != XmlRpcValue::TypeArray || answer.size() < 1 ||
        answer.array()[0].getType() != XmlRpcValue::TypeStruct)
        throw refused("GetOrvVersion: no version texts in the answer");
    const XmlRpcValue &v = answer.array()[0];
    if (m_opt->json) {
        print(v);
        return kOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const char *k : {"Software", "Gateware", "OS", "Application"})
        rows.push_back({k, text(v, k)});
    m_out += table(rows);
    return kOk;
}

int OvcCtl::log(const std::vector<std::string> &args)
{
    if (m_opt->reset ? !args.empty() : args.size() != 1)
        throw usage("log takes one host, or --reset");
    if (!m_opt->reset && args[0].empty())
        throw usage("log needs a host name");
    XmlRpcValue s = newStruct();
    s["Log"] = str(m_opt->reset ? "Reset" : args[0]);
    XmlRpcValue params = newArray();
    push(params, s);
    const XmlRpcValue answer = execute("SetGen", params);
    const std::string t = answer.getType() == XmlRpcValue::TypeString ? answer.asString() : std::string();
    const bool ok = m_opt->reset ? t == "Redirected to local" || t == "Not Redirected" : t == "Redirected to Net";
    if (!ok)
        throw refused("SetGen: unexpected answer " + OvcJson::write(answer, false));
    if (m_opt->json) {
        XmlRpcValue j = newStruct();
        j["answer"] = answer;
        print(j);
    } else {
        m_out += t + "\n";
    }
    return kOk;
}

int OvcCtl::call(const std::vector<std::string> &args)
{
    if (args.empty() || args[0].empty())
        throw usage("call needs a method name");
    XmlRpcValue params;
    if (args.size() > 1) {
        params = newArray();
        for (size_t i = 1; i < args.size(); ++i) {
            XmlRpcValue v;
            std::string error;
            if (!OvcJson::parse(args[i], v, error))
                throw usage("parameter " + number(static_cast<long long>(i)) + " is not JSON: " + error);
            push(params, v);
        }
    }
    print(execute(args[0].c_str(), params));
    return kOk;
}
