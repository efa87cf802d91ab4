#pragma once
#include "OvController.h"

class OvCore;

// Drives the engine of this process. Waiting blocks the calling (GUI)
// thread until the render thread has drawn the request.
class OvCoreController : public OvController {
public:
    // engine may be null: every operation then fails.
    explicit OvCoreController(OvCore *engine);

    bool listPatterns(QiParams &out) override;
    bool getPatternOpts(const std::string &name, std::vector<QiParams> &out) override;
    bool getGenOptions(std::vector<QiParams> &out) override;
    bool getGenValues(QiParams &out) override;
    bool currentParams(QiParams &out) override;
    // The render result; true when the engine had nothing left to wait for
    // (the request was already drawn).
    bool waitTransaction(int32_t id) override;
    int32_t post(const QiParams &params) override;
    // Lets the render thread finish what is queued first: the frame buffer
    // belongs to it while it draws.
    bool saveImageAsPng(const std::string &path) override;
    int32_t blackLevel() override;
    int32_t whiteLevel() override;
    int32_t bitDepth() override;
    std::string target() const override;
    bool activeProtocols(std::vector<std::string> &out) const override;

    OvCore *engine() const { return m_engine; }

private:
    OvCore *m_engine;
};
