#pragma once
#include "OvController.h"
#include "XmlRpcClient.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <optional>

// Drives a generator on the network through its XML-RPC methods:
//   post            SetGen(struct of the request, marked with "TransId" =
//                   a token of this panel and "Request" = "Post")
//                                                          -> transaction id
//   waitTransaction GetGenOptions until the current parameters carry the
//                   request's token (the render thread has taken it), then
//                   SetGen({TransId: id, Request: "WaitTrans"}) and
//                   GetGenOptions until they carry that (everything before
//                   the wait request has been drawn)
//   listPatterns    PatternOption()
//   getPatternOpts  PatternOption(name)
//   getGenOptions   GetGenOptions(); getGenValues and currentParams take
//                   its last two maps; the levels and depth come from its
//                   "BlackLevel", "WhiteLevel" and "BitDepth" maps
//   saveImageAsPng  no method exists for it: fails with a message
// Every failure is reported through the status sink. A call, and a whole
// wait, never blocks longer than kCallTimeLimit; after a call that got no
// answer, further
// calls fail at once until the event loop runs again, so one operator
// action costs at most one time-out.
class OvXmlController : public OvController {
public:
    static constexpr double kCallTimeLimit = 3.0;
    // Values until the generator has told its own (10-bit narrow range).
    static constexpr int32_t kInitialBlack = 64, kInitialWhite = 940, kInitialBits = 10;
    // Answers larger than these are refused as malformed.
    static constexpr size_t kMaxMaps = 4096;
    // Markers of recent posts and waits remembered for waiting.
    static constexpr size_t kMarkersKept = 64;

    OvXmlController(const std::string &host, int port, double timeLimit = kCallTimeLimit);
    ~OvXmlController() override;

    bool listPatterns(QiParams &out) override;
    bool getPatternOpts(const std::string &name, std::vector<QiParams> &out) override;
    bool getGenOptions(std::vector<QiParams> &out) override;
    bool getGenValues(QiParams &out) override;
    // Without the TransId and Request keys that waiting leaves behind.
    bool currentParams(QiParams &out) override;
    bool waitTransaction(int32_t id) override;
    int32_t post(const QiParams &params) override;
    bool saveImageAsPng(const std::string &path) override;
    int32_t blackLevel() override;
    int32_t whiteLevel() override;
    int32_t bitDepth() override;
    std::string target() const override;
    // XML-RPC has no method that tells.
    bool activeProtocols(std::vector<std::string> &) const override { return false; }

    const std::string &host() const { return m_host; }
    int port() const { return m_port; }
    double timeLimit() const { return m_timeLimit; }

private:
    bool call(const char *method, const XmlRpcValue &params, XmlRpcValue &result);
    void failed(const std::string &message);
    bool fetchGenOptions(std::vector<QiParams> &out);
    void learnLevels(const std::vector<QiParams> &maps);
    void ensureLevels();
    struct Marker {
        std::string text; // the "TransId" the request carries
        uint64_t sequence;
        int32_t id; // transaction id of a post; 0 for a wait request
    };
    void remember(const std::string &marker, uint64_t sequence, int32_t id);
    // The sequence number of the newest of our requests the render thread
    // has taken, as the current parameters show it; 0 when none is shown.
    uint64_t takenUpTo(const QiParams &current) const;
    bool pollUntilTaken(uint64_t sequence, std::chrono::steady_clock::time_point end, const std::string &idText);

    std::string m_host;
    int m_port;
    XmlRpcClient m_client;
    double m_timeLimit;
    // The end of the wait in progress, if any.
    std::optional<std::chrono::steady_clock::time_point> m_waitEnd;
    int32_t m_black = kInitialBlack, m_white = kInitialWhite, m_bits = kInitialBits;
    bool m_levelsKnown = false;
    std::string m_session;
    uint64_t m_sequence = 0;
    std::deque<Marker> m_markers;
    // A call got no answer since the event loop last ran.
    bool m_unreachable = false;
    // The last report was a failure.
    bool m_failing = false;
    // A failure was reported since the event loop last ran.
    bool m_failedThisTurn = false;
    // Owner of the event-loop callback that ends the turn.
    QObject m_turn;
};
