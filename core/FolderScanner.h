#pragma once
#include "QiParams.h"

#include <cstdint>
#include <map>
#include <string>
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

    // The alias parameters for one base name (exposed for tests).
    QiParams aliasParams(const std::string &base) const;

    // Splits base[-vres][~frame].ext; a resolution below 480 counts as 0.
    static void parseName(const std::string &fileName, std::string &base, uint32_t &vres, uint32_t &frame);

private:
    OvCore *m_engine;
    std::string m_folder;
    std::string m_prefix;
    // base name -> resolution -> frame file names (index = frame number)
    std::map<std::string, std::map<uint32_t, std::vector<std::string>>> m_images;
};
