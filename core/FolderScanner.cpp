#include "FolderScanner.h"

#include "OvCore.h"
#include "QiAscii.h"
#include "QiImageFiles.h"
#include "QiLog.h"

#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

namespace {

// Frame numbers index a list: a file called x~99999999.png must not make the
// scanner allocate millions of empty slots.
constexpr uint32_t kMaxFrames = 10000;

uint32_t leadingNumber(const std::string &s, size_t from)
{
    uint64_t v = 0;
    for (size_t i = from; i < s.size() && qiAsciiDigit(s[i]); ++i) {
        v = v * 10 + static_cast<uint64_t>(s[i] - '0');
        if (v > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(v);
}

} // namespace

FolderScanner::FolderScanner(OvCore *engine, const std::string &folder, const std::string &prefix)
    : m_engine(engine), m_folder(folder), m_prefix(prefix)
{
}

void FolderScanner::parseName(const std::string &fileName, std::string &base, uint32_t &vres, uint32_t &frame)
{
    std::string rest = fileName;
    size_t dot = rest.rfind('.');
    if (dot != std::string::npos)
        rest.resize(dot);
    frame = 0;
    size_t tilde = rest.rfind('~');
    if (tilde != std::string::npos) {
        frame = leadingNumber(rest, tilde + 1);
        rest.resize(tilde);
    }
    vres = 0;
    size_t dash = rest.rfind('-');
    if (dash != std::string::npos && dash + 1 < rest.size() && qiAsciiDigit(rest[dash + 1])) {
        vres = leadingNumber(rest, dash + 1);
        if (vres < 480)
            vres = 0;
        rest.resize(dash);
    }
    base = rest;
}

void FolderScanner::processFile(const std::string &fileName)
{
    std::string base;
    uint32_t vres, frame;
    parseName(fileName, base, vres, frame);
    if (frame >= kMaxFrames) {
        qiLog(1, "%s: frame number %u of %s out of range, skipped\n", "FolderScanner::processFile", frame,
              fileName.c_str());
        return;
    }
    // Resolutions travel as signed 32-bit numbers ("vres%d") and in key
    // names; one beyond that range could not be written the same in both.
    if (vres > static_cast<uint32_t>(INT32_MAX)) {
        qiLog(1, "%s: resolution of %s out of range, skipped\n", "FolderScanner::processFile", fileName.c_str());
        return;
    }
    m_images[base][vres][frame] = fileName;
    m_settled = false;
    qiLog(2, "%s: %s.%d.%d %s\n", "FolderScanner::processFile", base.c_str(), static_cast<int>(vres),
          static_cast<int>(frame), fileName.c_str());
}

void FolderScanner::addPattern(const std::string &path)
{
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return;
    auto entry = reinterpret_cast<OvRendererFactory>(dlsym(module, "OvpMain"));
    if (!entry) {
        dlclose(module);
        return;
    }
    qiLog(2, "%s: adding pattern %s\n", "FolderScanner::addPattern", path.c_str());
    OvPatternRenderer *r = entry();
    if (r)
        m_engine->adoptRenderer(r); // the module stays loaded for good
}

void FolderScanner::scan(bool allowPlugins)
{
    DIR *dir = opendir(m_folder.c_str());
    if (!dir)
        return;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        std::string path = m_folder + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && name.compare(dot, std::string::npos, ".ovp") == 0) {
            if (allowPlugins)
                addPattern(path);
            else
                qiLog(1, "%s: plug-in %s not loaded: plug-ins from this folder are not allowed\n",
                      "FolderScanner::scan", path.c_str());
            continue;
        }
        int32_t w, h;
        bool ycc;
        if (imageInfo(path, w, h, ycc))
            processFile(name);
    }
    closedir(dir);
}

void FolderScanner::settle() const
{
    if (m_settled)
        return;
    m_refused.clear();
    size_t missing = 0;
    for (const auto &[base, byRes] : m_images) {
        for (const auto &[vres, frames] : byRes) {
            const size_t gaps = static_cast<size_t>(frames.rbegin()->first) + 1 - frames.size();
            if (missing + gaps > kMaxMissingFrames) {
                qiLog(1, "%s: %s at %u lines misses %zu of %u frames, too many for one folder, skipped\n",
                      "FolderScanner::makeAliases", base.c_str(), vres, gaps, frames.rbegin()->first + 1);
                m_refused.emplace(base, vres);
            } else {
                missing += gaps;
            }
        }
    }
    m_settled = true;
}

QiParams FolderScanner::aliasParams(const std::string &base) const
{
    QiParams p;
    auto it = m_images.find(base);
    if (it == m_images.end())
        return p;
    settle();
    int32_t kept = 0;
    for (const auto &res : it->second)
        kept += m_refused.count({base, res.first}) ? 0 : 1;
    if (kept == 0)
        return p;
    p.set("Pattern", "ImageFile");
    p.set("Name", base);
    p.set("Folder", m_folder);
    p.set("Anchor", "MC");
    p.setInt("nVres", kept);
    int i = 0;
    for (const auto &[vres, frames] : it->second) {
        if (m_refused.count({base, vres}))
            continue;
        p.setInt("vres" + std::to_string(i++), static_cast<int32_t>(vres));
        const std::string r = std::to_string(vres);
        const uint32_t count = frames.rbegin()->first + 1;
        p.setInt("nF" + r, static_cast<int32_t>(count));
        // Positions no file fills are empty texts.
        auto next = frames.begin();
        for (uint32_t f = 0; f < count; ++f) {
            const bool have = next != frames.end() && next->first == f;
            p.set("r" + r + "-f" + std::to_string(f), have ? next->second : std::string());
            if (have)
                ++next;
        }
    }
    return p;
}

void FolderScanner::makeAliases()
{
    for (const auto &img : m_images) {
        QiParams p = aliasParams(img.first);
        if (p.empty())
            continue;
        std::string alias = m_prefix + img.first;
        m_engine->makeAlias(alias.c_str(), p);
        p.dump(alias.c_str());
    }
}
