#pragma once
#include "QiParams.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class OvCore;

// One scan of a pattern folder: collects image files by base name,
// resolution and frame, loads ".ovp" plug-ins, then makes the aliases.
// File-system work happens without the engine lock.
class FolderScanner {
public:
    FolderScanner(OvCore *engine, const std::string &folder, const std::string &prefix);

    // Walks the folder; plug-ins are loaded only when allowPlugins.
    void scan(bool allowPlugins);
    // Records one image file name.
    void processFile(const std::string &fileName);
    // Loads a plug-in module and registers its renderer.
    void addPattern(const std::string &path);
    // Creates one "ImageFile" alias per base name, in name order.
    void makeAliases();

    // The alias parameters for one base name (exposed for tests); empty when
    // the name has no files or all its frame lists were refused.
    QiParams aliasParams(const std::string &base) const;

    // Splits base[-vres][~frame].ext; a resolution below 480 counts as 0.
    static void parseName(const std::string &fileName, std::string &base, uint32_t &vres, uint32_t &frame);

    // Frame positions no file fills, written as empty keys, for one scan in
    // all: beyond this the lists (in name order) that would add more are
    // left out, so a few files named x~9999.png cannot make millions of keys.
    static constexpr size_t kMaxMissingFrames = 10000;

private:
    // Decides, once per change, which lists stay within kMaxMissingFrames.
    void settle() const;

    OvCore *m_engine;
    std::string m_folder;
    std::string m_prefix;
    // base name -> resolution -> frame number -> file name. Sparse: what a
    // scan holds grows with the files, not with the numbers in their names.
    std::map<std::string, std::map<uint32_t, std::map<uint32_t, std::string>>> m_images;
    mutable bool m_settled = true;
    mutable std::set<std::pair<std::string, uint32_t>> m_refused;
};
