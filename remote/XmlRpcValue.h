#pragma once
#include "XmlRpcException.h"
#include "XmlRpcUtil.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <variant>
#include <vector>

// Member and tag names shared by server, client and methods.
namespace XmlRpcNames {
inline constexpr const char *kMethodName = "methodName";
inline constexpr const char *kParams = "params";
inline constexpr const char *kFaultCode = "faultCode";
inline constexpr const char *kFaultString = "faultString";
inline constexpr const char *kListMethods = "system.listMethods";
inline constexpr const char *kMethodHelp = "system.methodHelp";
inline constexpr const char *kMulticall = "system.multicall";
} // namespace XmlRpcNames

// The tagged value that crosses the remote interface. Owns its payload;
// copies are deep. Not synchronised.
class XmlRpcValue {
public:
    // Type codes, as they appear in log lines.
    enum Type {
        TypeInvalid = 0,
        TypeBoolean = 1,
        TypeInt = 2,
        TypeDouble = 3,
        TypeString = 4,
        TypeDateTime = 5,
        TypeBase64 = 6,
        TypeArray = 7,
        TypeStruct = 8,
    };
    using BinaryData = std::vector<uint8_t>;
    using ValueArray = std::vector<XmlRpcValue>;
    using ValueStruct = std::map<std::string, XmlRpcValue>;

    // Values read from or written into XML never nest deeper than this.
    static constexpr int kMaxDepth = 64;

    XmlRpcValue() = default;
    XmlRpcValue(bool value) : m_value(value) {}
    XmlRpcValue(int value) : m_value(value) {}
    XmlRpcValue(double value) : m_value(value) {}
    XmlRpcValue(const std::string &value) : m_value(value) {}
    XmlRpcValue(const char *value) : m_value(std::string(value)) {}
    // Broken-down time: full year, month from 1.
    XmlRpcValue(const std::tm &value) : m_value(value) {}
    XmlRpcValue(const void *bytes, size_t length);
    explicit XmlRpcValue(ValueArray value) : m_value(std::move(value)) {}
    explicit XmlRpcValue(ValueStruct value) : m_value(std::move(value)) {}
    // Parses one value at *offset and moves past it; on failure the value
    // stays invalid and *offset is unchanged. "<nil/>" reads (fromXml
    // says true) as an invalid value: absent. Empty elements ("<string/>")
    // read as their long form; "<i8>" reads as an int, saturated.
    XmlRpcValue(const std::string &xml, size_t *offset);
    // The same on a scanner shared by several reads of one text (positions
    // in the scanner's text).
    XmlRpcValue(XmlRpcScanner &xml, size_t *offset);

    XmlRpcValue(const XmlRpcValue &) = default;
    XmlRpcValue(XmlRpcValue &&) noexcept = default;
    // Safe when rhs is part of this value.
    XmlRpcValue &operator=(const XmlRpcValue &rhs);
    XmlRpcValue &operator=(XmlRpcValue &&rhs) noexcept;

    bool operator==(const XmlRpcValue &other) const;
    bool operator!=(const XmlRpcValue &other) const { return !(*this == other); }

    void clear() { m_value = std::monostate{}; }
    bool valid() const { return m_value.index() != TypeInvalid; }
    Type getType() const { return static_cast<Type>(m_value.index()); }

    // Typed access: an invalid value first becomes a zero value of the type;
    // another type raises "type error".
    bool &asBool();
    int &asInt();
    double &asDouble();
    std::string &asString();
    std::tm &asTime();
    BinaryData &asBinary();
    // Read-only typed access: "type error" unless the value has the type.
    bool asBool() const;
    int asInt() const;
    double asDouble() const;
    const std::string &asString() const;
    const std::tm &asTime() const;
    const BinaryData &asBinary() const;

    // Array element; an invalid value becomes an array, a short array grows.
    XmlRpcValue &operator[](int index);
    // "range error: array index too large" past the end.
    const XmlRpcValue &operator[](int index) const;
    void setSize(int size);
    // Struct member; an invalid value becomes a struct, a missing member is
    // created invalid.
    XmlRpcValue &operator[](const std::string &name);
    XmlRpcValue &operator[](const char *name) { return (*this)[std::string(name)]; }
    bool hasMember(const std::string &name) const;
    const ValueArray &array() const;
    const ValueStruct &structMembers() const;

    // String length, byte count, element or member count; " type error" else.
    int size() const;

    // The value's XML; empty for an invalid value.
    std::string toXml() const;
    void appendXml(std::string &out) const;
    bool fromXml(const std::string &xml, size_t *offset);
    bool fromXml(XmlRpcScanner &xml, size_t *offset);

    // printf format used for doubles (default "%f"). Set it before threads
    // that write values start.
    static void setDoubleFormat(const char *format);
    static const std::string &getDoubleFormat();

private:
    bool read(XmlRpcScanner &xml, size_t *offset, int depth);
    void write(std::string &out, int depth) const;
    template <typename T> T &need();

    std::variant<std::monostate, bool, int, double, std::string, std::tm, BinaryData, ValueArray, ValueStruct>
        m_value;
};
