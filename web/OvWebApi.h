#pragma once
#include "XmlRpcValue.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class OvCore;

// The JSON endpoints behind the web page, without the HTTP around them.
// They answer what the XML-RPC methods answer (the pattern list, a
// pattern's describe maps, the generator's maps, the version), and every
// change goes through the engine's post like any other request.
class OvWebApi {
public:
    // Longest wait for a request to reach the output.
    static constexpr std::chrono::milliseconds kMaxWait{10000};
    // Alias names are kept to this many bytes (as SetAlias keeps them).
    static constexpr size_t kAliasNameBytes = 80;

    struct Reply {
        int status = 200;
        std::string type = "application/json";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    // Another protocol this generator serves, for the status.
    struct Protocol {
        std::string name;
        std::string address;
        int port = 0;
    };
    struct Info {
        std::string name;    // the generator's name (its host name)
        std::string version; // the program's version
        std::vector<Protocol> protocols;
    };

    // stopping: true once the server shuts down (waits end early); frames:
    // frames output so far (answers to waited changes carry it).
    OvWebApi(OvCore *engine, Info info, std::function<bool()> stopping, std::function<uint64_t()> frames);

    Reply patterns();                                      // PatternOption()
    Reply pattern(const std::string *name);                // PatternOption(name)
    // GetGenOptions(); with signal, the signal options joined in: every
    // description, then all values, then the current parameters.
    Reply generator(bool signal = false);
    Reply version();                                       // GetOrvVersion()
    Reply status(uint64_t frames);
    Reply windowModel(const std::string *steps);
    // body: a JSON object of options (SetGen's struct) or a pattern name.
    Reply set(const std::string &body, bool wait);
    // body: a JSON object with "AliasName" (SetAlias's struct).
    Reply alias(const std::string &body);
    // body: {"size", "steps", "level", "color"} of the window-control page.
    Reply window(const std::string &body, bool wait);
    // The frame buffer as PNG, once what is queued has been drawn.
    Reply snapshot(uint64_t frames);

    static Reply error(int status, const std::string &message);
    static Reply json(const XmlRpcValue &value, int status = 200);

    const Info &info() const { return m_info; }
    // Before serving starts only.
    void addProtocol(Protocol p) { m_info.protocols.push_back(std::move(p)); }

private:
    // Posts params; fills the answer with the id and, when asked, whether
    // the request reached the output in time.
    Reply post(const class QiParams &params, bool wait, XmlRpcValue answer = XmlRpcValue());
    // True when name is a pattern or an alias.
    bool known(const std::string &name);
    // Waits in short slices so a stopping server does not wait for it.
    bool waitFor(int32_t id, std::chrono::milliseconds limit);

    OvCore *m_engine;
    Info m_info;
    std::function<bool()> m_stopping;
    std::function<uint64_t()> m_frames;
};
