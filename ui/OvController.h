#pragma once
#include "QiParams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class OvCtlObject;

// What the control panel drives: the engine in this process or a generator
// reached over the network, behind one set of operations. GUI thread only.
class OvController {
public:
    // ok false: an operation failed and message says which and why; ok true:
    // the generator answers again after a failure.
    using StatusSink = std::function<void(bool ok, const std::string &message)>;

    // Builds the eight presets in their fixed order.
    OvController();
    virtual ~OvController();

    // Keys: every pattern and alias name.
    virtual bool listPatterns(QiParams &out) = 0;
    // Appends one describe map per option of the pattern.
    virtual bool getPatternOpts(const std::string &name, std::vector<QiParams> &out) = 0;
    // Appends the generator's describe maps, then its values, then the
    // current parameters.
    virtual bool getGenOptions(std::vector<QiParams> &out) = 0;
    virtual bool getGenValues(QiParams &out) = 0;
    // Replaces out with the parameters of the pattern shown.
    virtual bool currentParams(QiParams &out) = 0;
    // Blocks until request id has been drawn.
    virtual bool waitTransaction(int32_t id) = 0;
    // Queues a request; its transaction id, or 0 when nothing was queued.
    virtual int32_t post(const QiParams &params) = 0;
    virtual bool saveImageAsPng(const std::string &path) = 0;
    // Code values of black and white and bits per component of the output.
    virtual int32_t blackLevel() = 0;
    virtual int32_t whiteLevel() = 0;
    virtual int32_t bitDepth() = 0;

    // The generator driven, as the panel names it.
    virtual std::string target() const = 0;
    // One line per calibration-program protocol the generator runs beside
    // XML-RPC; false when that cannot be known (a remote generator).
    virtual bool activeProtocols(std::vector<std::string> &out) const = 0;

    const std::vector<std::unique_ptr<OvCtlObject>> &presets() const { return m_presets; }

    // Where failures are shown; the panel installs it with the controller.
    void setStatusSink(StatusSink sink) { m_sink = std::move(sink); }
    void report(bool ok, const std::string &message);

    OvController(const OvController &) = delete;
    OvController &operator=(const OvController &) = delete;

private:
    std::vector<std::unique_ptr<OvCtlObject>> m_presets;
    StatusSink m_sink;
};
