#include "OvCoreController.h"

#include "OvCore.h"
#include "OvcProtocols.h"
#include "QiRaster.h"

OvCoreController::OvCoreController(OvCore *engine) : m_engine(engine) {}

bool OvCoreController::listPatterns(QiParams &out)
{
    return m_engine && m_engine->listPatterns(out);
}

bool OvCoreController::getPatternOpts(const std::string &name, std::vector<QiParams> &out)
{
    return m_engine && m_engine->getPatternOpts(name.c_str(), out);
}

// The panel edits the signal options beside the usual ones.
bool OvCoreController::getGenOptions(std::vector<QiParams> &out)
{
    if (!m_engine)
        return false;
    std::vector<QiParams> maps;
    m_engine->getGenOptions(maps, true);
    ovJoinSignalMaps(maps);
    for (QiParams &p : maps)
        out.push_back(std::move(p));
    return true;
}

bool OvCoreController::getGenValues(QiParams &out)
{
    return m_engine && m_engine->getGenValues(out) && m_engine->getSignalValues(out);
}

bool OvCoreController::currentParams(QiParams &out)
{
    if (!m_engine)
        return false;
    out.clear();
    QiParams current;
    m_engine->currentParams(current);
    out.addMissing(current);
    return true;
}

bool OvCoreController::waitTransaction(int32_t id)
{
    if (!m_engine)
        return false;
    bool result = false;
    if (m_engine->waitTransaction(id, result))
        return result;
    return true;
}

int32_t OvCoreController::post(const QiParams &params)
{
    return m_engine ? m_engine->post(params) : 0;
}

bool OvCoreController::saveImageAsPng(const std::string &path)
{
    if (!m_engine || !m_engine->raster()) {
        report(false, "Could not save " + path + ": no generator");
        return false;
    }
    // An empty request draws nothing; once it is through, everything queued
    // before it has been drawn and the render thread leaves the image alone.
    bool drawn = false;
    m_engine->waitTransaction(m_engine->post(QiParams()), drawn);
    if (m_engine->saveImageAsPng(path.c_str()))
        return true;
    report(false, "Could not save " + path);
    return false;
}

int32_t OvCoreController::blackLevel()
{
    return m_engine && m_engine->raster() ? m_engine->raster()->blackLevel() : 0;
}

int32_t OvCoreController::whiteLevel()
{
    return m_engine && m_engine->raster() ? m_engine->raster()->whiteLevel() : 0;
}

int32_t OvCoreController::bitDepth()
{
    return m_engine && m_engine->raster() ? m_engine->raster()->bits() : 0;
}

std::string OvCoreController::target() const
{
    return "this computer";
}

bool OvCoreController::activeProtocols(std::vector<std::string> &out) const
{
    out.clear();
    if (const OvcProtocols *p = OvcProtocols::instance())
        out = p->active();
    return true;
}
