#pragma once
#include "OvWebAccess.h"
#include "OvWebApi.h"
#include "OvWebHttp.h"
#include "OvWebLive.h"

#include <map>
#include <memory>
#include <string>
#include <thread>

class OvCore;

// The web control page, served by the generator itself: the page's files
// from the data folder, the JSON endpoints, the live view and snapshots.
// Off unless the program is asked for it (--web).
class OvWebServer {
public:
    struct Options {
        std::string address = "127.0.0.1";
        int port = 0; // 0: one the system picks
        std::string token; // empty: none required
        // The folder holding the page (index.html, orvane.css, orvane.js).
        std::string pageFolder;
        OvWebApi::Info info;
        OvWebHttp::Limits limits;
    };
    // The page's files, served from memory; nothing else is read from disk.
    static const char *const kPageFiles[];
    // Largest page file read.
    static constexpr size_t kMaxPageFileBytes = 1024 * 1024;
    // Longest wait a live-view request may ask for.
    static constexpr std::chrono::milliseconds kMaxLiveWait{10000};

    OvWebServer(OvCore *engine, Options options);
    ~OvWebServer();

    // Binds, reads the page files and starts serving. False, with the
    // reason in error, when the address cannot be bound.
    bool start(std::string &error);
    // Ends every connection and the server thread. Idempotent.
    void shutdown();

    // The port bound, or -1.
    int port() const { return m_port; }
    const std::string &address() const { return m_options.address; }
    OvWebHttp &http() { return m_http; }
    OvWebLive &live() { return m_live; }

    OvWebServer(const OvWebServer &) = delete;
    OvWebServer &operator=(const OvWebServer &) = delete;

private:
    struct File {
        std::string type;
        std::string body;
    };
    void routes();
    void loadPage();
    httplib::Server::HandlerResponse screen(const httplib::Request &req, httplib::Response &res);
    void send(httplib::Response &res, const OvWebApi::Reply &r);
    void page(const httplib::Request &req, httplib::Response &res, const std::string &name);
    void liveView(const httplib::Request &req, httplib::Response &res);

    OvCore *m_engine;
    Options m_options;
    OvWebHttp m_http;
    OvWebLive m_live;
    OvWebApi m_api;
    std::unique_ptr<OvWebAccess> m_access;
    std::map<std::string, File> m_files;
    std::thread m_thread;
    int m_port = -1;
};
