#pragma once
#include <cstdint>
#include <map>
#include <string>

// The parameter map: every request and every published option is one of these.
// Keys are case-sensitive and iterate in ascending byte order. Values are text,
// parsed by each reader. Not synchronised: one thread at a time.
class QiParams {
public:
    using Map = std::map<std::string, std::string>;

    bool set(const std::string &key, const std::string &value);
    bool setInt(const std::string &key, int32_t value);
    bool setDouble(const std::string &key, double value);

    // Reads leave the output untouched when the key is absent and return false.
    // A text pointer stays valid until the key is written or removed.
    bool get(const std::string &key, const char *&out) const;
    bool getInt(const std::string &key, int32_t &out) const;
    bool getUInt(const std::string &key, uint32_t &out) const;
    bool getDouble(const std::string &key, double &out) const;
    bool getBool(const std::string &key, bool &out) const;
    // "toggle..." inverts the value passed in and writes "true"/"false" back.
    bool getBoolToggle(const std::string &key, bool &inout);

    bool has(const std::string &key) const { return m_map.count(key) != 0; }
    bool remove(const std::string &key);
    // Inserts the entries of other whose keys this map lacks.
    bool addMissing(const QiParams &other);
    // Logs the map at level 2 under a title.
    void dump(const char *title) const;

    void clear() { m_map.clear(); }
    bool empty() const { return m_map.empty(); }
    size_t size() const { return m_map.size(); }
    Map::const_iterator begin() const { return m_map.begin(); }
    Map::const_iterator end() const { return m_map.end(); }
    const Map &map() const { return m_map; }
    bool operator==(const QiParams &o) const { return m_map == o.m_map; }

    // Text parsers shared with the option readers.
    static int32_t parseInt(const char *text);
    static uint32_t parseUInt(const char *text);
    static double parseDouble(const char *text);
    static bool parseBool(const char *text);

private:
    Map m_map;
};

// "%f" of any magnitude, without a fixed-size buffer.
std::string formatDouble(double value);
