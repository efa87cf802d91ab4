// The pattern catalogue: renderer registry and alias table.
#include "OvCore.h"
#include "FolderScanner.h"
#include "QiLog.h"
#include "QiUtf8.h"

bool OvCore::registerRenderer(OvPatternRenderer *renderer)
{
    {
        std::unique_lock<std::mutex> lock = tableLock();
        m_renderers.push_back(renderer);
        // operator[] keeps the first key's spelling; replace the whole entry so
        // the registry lists the newest renderer's name.
        m_registry.erase(renderer->name());
        m_registry.emplace(renderer->name(), renderer);
    }
    renderer->registerAliases(this);
    return true;
}

OvPatternRenderer *OvCore::findRenderer(const char *name)
{
    std::unique_lock<std::mutex> lock = tableLock();
    auto it = m_registry.find(name);
    return it == m_registry.end() ? nullptr : it->second;
}

OvPatternRenderer *OvCore::resolvePattern(const char *name, QiParams &request)
{
    std::unique_lock<std::mutex> lock = tableLock();
    auto r = m_registry.find(name);
    if (r != m_registry.end())
        return r->second;
    auto a = m_aliases.find(name);
    if (a == m_aliases.end())
        return nullptr;
    request.addMissing(a->second.params);
    return a->second.renderer;
}

bool OvCore::makeAlias(const char *name, const QiParams &params)
{
    // Alias names are listed to clients in XML: control bytes or broken
    // UTF-8 would make every listing ill-formed.
    if (!QiUtf8::isCleanName(name)) {
        qiLog(1, "makeAlias: refusing an alias name with control characters or invalid UTF-8\n");
        return false;
    }
    const char *pattern = nullptr;
    if (!params.get("Pattern", pattern)) {
        qiLog(2, "makeAlias: Couldn't find name for pattern\n");
        return false;
    }
    OvPatternRenderer *r = findRenderer(pattern);
    if (!r) {
        qiLog(2, "makeAlias: Couldn't find renderer for '%s'\n", pattern);
        return false;
    }
    qiLog(2, "adding alias for %s\n", name);
    std::unique_lock<std::mutex> lock = tableLock();
    m_aliases.erase(name);
    m_aliases.emplace(name, Alias{r, params});
    return true;
}

bool OvCore::makeAliasFromCurrent(const char *name)
{
    QiParams current;
    {
        std::unique_lock<std::mutex> lock = tableLock();
        current = m_currentParams;
    }
    return makeAlias(name, current);
}

bool OvCore::removeAliases(const char *prefix)
{
    std::string p(prefix ? prefix : "");
    std::unique_lock<std::mutex> lock = tableLock();
    for (auto it = m_aliases.begin(); it != m_aliases.end();) {
        if (it->first.compare(0, p.size(), p) == 0)
            it = m_aliases.erase(it);
        else
            ++it;
    }
    return true;
}

bool OvCore::listPatterns(QiParams &out)
{
    std::unique_lock<std::mutex> lock = tableLock();
    for (const auto &kv : m_registry)
        out.set(kv.first, kv.second->revision);
    for (const auto &kv : m_aliases)
        out.set(kv.first, std::string("Alias/") + kv.second.renderer->name());
    return true;
}

bool OvCore::getPatternOpts(const char *name, std::vector<QiParams> &out)
{
    OvPatternRenderer *r = findRenderer(name);
    if (!r) {
        qiLog(2, "getPatternOpts: no renderer for '%s'\n", name);
        return false;
    }
    for (QiOptionList o = r->options; o && *o; ++o) {
        QiParams p;
        (*o)->describe(p);
        out.push_back(std::move(p));
    }
    return true;
}

bool OvCore::adoptRenderer(OvPatternRenderer *renderer)
{
    {
        std::unique_lock<std::mutex> lock = tableLock();
        m_owned.emplace_back(renderer);
    }
    return registerRenderer(renderer);
}

bool OvCore::scanFolder(const char *folder, const char *prefix, bool allowPlugins)
{
    FolderScanner scanner(this, folder ? folder : "", prefix ? prefix : "");
    scanner.scan(allowPlugins);
    scanner.makeAliases();
    return true;
}

