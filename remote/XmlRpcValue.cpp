#include "XmlRpcValue.h"

#include "XmlRpcUtil.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const char kValueTag[] = "<value>";
const char kValueEtag[] = "</value>";
const char kBooleanTag[] = "<boolean>";
const char kI4Tag[] = "<i4>";
const char kIntTag[] = "<int>";
const char kI8Tag[] = "<i8>";
const char kNilTag[] = "<nil>";
const char kDoubleTag[] = "<double>";
const char kStringTag[] = "<string>";
const char kDateTag[] = "<dateTime.iso8601>";
const char kBase64Tag[] = "<base64>";
const char kArrayTag[] = "<array>";
const char kDataTag[] = "<data>";
const char kDataEtag[] = "</data>";
const char kStructTag[] = "<struct>";
const char kMemberTag[] = "<member>";
const char kMemberEtag[] = "</member>";
const char kNameTag[] = "<name>";

std::string &doubleFormat()
{
    static std::string format = "%f";
    return format;
}

const char kB64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int b64Index(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

void base64Encode(const XmlRpcValue::BinaryData &in, std::string &out)
{
    size_t groups = 0;
    size_t i = 0;
    auto put = [&](uint32_t v, int chars) {
        char quad[4];
        quad[0] = kB64Alphabet[(v >> 18) & 63];
        quad[1] = kB64Alphabet[(v >> 12) & 63];
        quad[2] = chars > 2 ? kB64Alphabet[(v >> 6) & 63] : '=';
        quad[3] = chars > 3 ? kB64Alphabet[v & 63] : '=';
        out.append(quad, 4);
        // A line feed after every 72 output characters.
        if (++groups % 18 == 0)
            out += '\n';
    };
    for (; i + 3 <= in.size(); i += 3)
        put((uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2], 4);
    if (in.size() - i == 1)
        put(uint32_t(in[i]) << 16, 2);
    else if (in.size() - i == 2)
        put((uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8), 3);
}

void base64Decode(const char *p, size_t n, XmlRpcValue::BinaryData &out)
{
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '=')
            break;
        int v = b64Index(c);
        if (v < 0)
            continue; // line breaks, blanks
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1u;
        }
    }
}

// strtol clamped to int, as the conversion does where long is 32 bits.
bool parseInt(const std::string &text, int &out)
{
    const char *start = text.c_str();
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(start, &end, 10);
    if (end == start)
        return false;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    out = static_cast<int>(v);
    return true;
}

// The text from the position up to the next '<'; false when there is none.
bool textUpToTag(XmlRpcScanner &xml, size_t *offset, std::string &out)
{
    size_t end = xml.findChar('<', *offset);
    if (end == std::string::npos)
        return false;
    out.assign(xml.text(), *offset, end - *offset);
    *offset = end;
    return true;
}

bool tmEqual(const std::tm &a, const std::tm &b)
{
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min && a.tm_sec == b.tm_sec && a.tm_isdst == b.tm_isdst;
}

} // namespace

XmlRpcValue::XmlRpcValue(const void *bytes, size_t length)
    : m_value(BinaryData(static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + length))
{
}

XmlRpcValue::XmlRpcValue(const std::string &xml, size_t *offset) { fromXml(xml, offset); }

XmlRpcValue::XmlRpcValue(XmlRpcScanner &xml, size_t *offset) { fromXml(xml, offset); }

XmlRpcValue &XmlRpcValue::operator=(const XmlRpcValue &rhs)
{
    if (this != &rhs) {
        XmlRpcValue copy(rhs); // rhs may live inside this value
        m_value = std::move(copy.m_value);
    }
    return *this;
}

XmlRpcValue &XmlRpcValue::operator=(XmlRpcValue &&rhs) noexcept
{
    if (this != &rhs) {
        auto moved = std::move(rhs.m_value);
        m_value = std::move(moved);
    }
    return *this;
}

bool XmlRpcValue::operator==(const XmlRpcValue &other) const
{
    if (m_value.index() != other.m_value.index())
        return false;
    if (auto *t = std::get_if<std::tm>(&m_value))
        return tmEqual(*t, std::get<std::tm>(other.m_value));
    switch (getType()) {
    case TypeInvalid: return true;
    case TypeBoolean: return std::get<bool>(m_value) == std::get<bool>(other.m_value);
    case TypeInt: return std::get<int>(m_value) == std::get<int>(other.m_value);
    case TypeDouble: return std::get<double>(m_value) == std::get<double>(other.m_value);
    case TypeString: return std::get<std::string>(m_value) == std::get<std::string>(other.m_value);
    case TypeBase64: return std::get<BinaryData>(m_value) == std::get<BinaryData>(other.m_value);
    case TypeArray: return std::get<ValueArray>(m_value) == std::get<ValueArray>(other.m_value);
    case TypeStruct: return std::get<ValueStruct>(m_value) == std::get<ValueStruct>(other.m_value);
    default: return false;
    }
}

template <typename T> T &XmlRpcValue::need()
{
    if (m_value.index() == TypeInvalid)
        m_value = T{};
    T *p = std::get_if<T>(&m_value);
    if (!p)
        throw XmlRpcException("type error");
    return *p;
}

bool &XmlRpcValue::asBool() { return need<bool>(); }
int &XmlRpcValue::asInt() { return need<int>(); }
double &XmlRpcValue::asDouble() { return need<double>(); }
std::string &XmlRpcValue::asString() { return need<std::string>(); }
std::tm &XmlRpcValue::asTime() { return need<std::tm>(); }
XmlRpcValue::BinaryData &XmlRpcValue::asBinary() { return need<BinaryData>(); }

namespace {
template <typename T, typename V> const T &have(const V &v)
{
    const T *p = std::get_if<T>(&v);
    if (!p)
        throw XmlRpcException("type error");
    return *p;
}
} // namespace

bool XmlRpcValue::asBool() const { return have<bool>(m_value); }
int XmlRpcValue::asInt() const { return have<int>(m_value); }
double XmlRpcValue::asDouble() const { return have<double>(m_value); }
const std::string &XmlRpcValue::asString() const { return have<std::string>(m_value); }
const std::tm &XmlRpcValue::asTime() const { return have<std::tm>(m_value); }
const XmlRpcValue::BinaryData &XmlRpcValue::asBinary() const { return have<BinaryData>(m_value); }

XmlRpcValue &XmlRpcValue::operator[](int index)
{
    if (index < 0)
        throw XmlRpcException("range error: array index too large");
    if (m_value.index() == TypeInvalid)
        m_value = ValueArray{};
    ValueArray *a = std::get_if<ValueArray>(&m_value);
    if (!a)
        throw XmlRpcException("type error: expected an array");
    if (a->size() < static_cast<size_t>(index) + 1)
        a->resize(static_cast<size_t>(index) + 1);
    return (*a)[static_cast<size_t>(index)];
}

const XmlRpcValue &XmlRpcValue::operator[](int index) const
{
    const ValueArray *a = std::get_if<ValueArray>(&m_value);
    if (!a)
        throw XmlRpcException("type error: expected an array");
    if (index < 0 || static_cast<size_t>(index) >= a->size())
        throw XmlRpcException("range error: array index too large");
    return (*a)[static_cast<size_t>(index)];
}

void XmlRpcValue::setSize(int size)
{
    if (m_value.index() == TypeInvalid)
        m_value = ValueArray{};
    ValueArray *a = std::get_if<ValueArray>(&m_value);
    if (!a)
        throw XmlRpcException("type error: expected an array");
    if (size < 0)
        throw XmlRpcException("range error: array index too large");
    if (a->size() < static_cast<size_t>(size))
        a->resize(static_cast<size_t>(size));
}

XmlRpcValue &XmlRpcValue::operator[](const std::string &name)
{
    if (m_value.index() == TypeInvalid)
        m_value = ValueStruct{};
    ValueStruct *s = std::get_if<ValueStruct>(&m_value);
    if (!s)
        throw XmlRpcException("type error: expected a struct");
    return (*s)[name];
}

bool XmlRpcValue::hasMember(const std::string &name) const
{
    const ValueStruct *s = std::get_if<ValueStruct>(&m_value);
    return s && s->count(name) != 0;
}

const XmlRpcValue::ValueArray &XmlRpcValue::array() const
{
    const ValueArray *a = std::get_if<ValueArray>(&m_value);
    if (!a)
        throw XmlRpcException("type error: expected an array");
    return *a;
}

const XmlRpcValue::ValueStruct &XmlRpcValue::structMembers() const
{
    const ValueStruct *s = std::get_if<ValueStruct>(&m_value);
    if (!s)
        throw XmlRpcException("type error: expected a struct");
    return *s;
}

int XmlRpcValue::size() const
{
    switch (getType()) {
    case TypeString: return static_cast<int>(std::get<std::string>(m_value).size());
    case TypeBase64: return static_cast<int>(std::get<BinaryData>(m_value).size());
    case TypeArray: return static_cast<int>(std::get<ValueArray>(m_value).size());
    case TypeStruct: return static_cast<int>(std::get<ValueStruct>(m_value).size());
    default: throw XmlRpcException(" type error");
    }
}

void XmlRpcValue::setDoubleFormat(const char *format) { doubleFormat() = format ? format : "%f"; }
const std::string &XmlRpcValue::getDoubleFormat() { return doubleFormat(); }

std::string XmlRpcValue::toXml() const
{
    std::string out;
    write(out, 0);
    return out;
}

void XmlRpcValue::appendXml(std::string &out) const { write(out, 0); }

void XmlRpcValue::write(std::string &out, int depth) const
{
    switch (getType()) {
    case TypeInvalid: return;
    case TypeBoolean:
        out += std::get<bool>(m_value) ? "<value><boolean>1</boolean></value>" : "<value><boolean>0</boolean></value>";
        return;
    case TypeInt: {
        char buf[16];
        snprintf(buf, sizeof buf, "%d", std::get<int>(m_value));
        out += "<value><i4>";
        out += buf;
        out += "</i4></value>";
        return;
    }
    case TypeDouble: {
        // "%f" of 1e300 is 300+ characters: size the text, never cut it.
        const char *fmt = doubleFormat().c_str();
        double d = std::get<double>(m_value);
        // A point, never the user's decimal comma.
        XmlRpcUtil::ClassicNumbers classic;
        char small[64];
        int n = snprintf(small, sizeof small, fmt, d);
        out += "<value><double>";
        if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
            out.append(small, static_cast<size_t>(n));
        } else if (n > 0) {
            std::string big(static_cast<size_t>(n) + 1, '\0');
            snprintf(big.data(), big.size(), fmt, d);
            out.append(big.data(), static_cast<size_t>(n));
        }
        out += "</double></value>";
        return;
    }
    case TypeString:
        out += "<value>";
        XmlRpcUtil::xmlEncode(std::get<std::string>(m_value), out);
        out += "</value>";
        return;
    case TypeDateTime: {
        const std::tm &t = std::get<std::tm>(m_value);
        char buf[80];
        snprintf(buf, sizeof buf, "%4d%02d%02dT%02d:%02d:%02d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
                 t.tm_min, t.tm_sec);
        out += "<value><dateTime.iso8601>";
        out += buf;
        out += "</dateTime.iso8601></value>";
        return;
    }
    case TypeBase64:
        out += "<value><base64>";
        base64Encode(std::get<BinaryData>(m_value), out);
        out += "</base64></value>";
        return;
    case TypeArray:
        out += "<value><array><data>";
        for (const XmlRpcValue &v : std::get<ValueArray>(m_value))
            v.write(out, depth + 1);
        out += "</data></array></value>";
        return;
    case TypeStruct:
        out += "<value><struct>";
        for (const auto &kv : std::get<ValueStruct>(m_value)) {
            out += "<member><name>";
            XmlRpcUtil::xmlEncode(kv.first, out);
            out += "</name>";
            kv.second.write(out, depth + 1);
            out += "</member>";
        }
        out += "</struct></value>";
        return;
    }
}

bool XmlRpcValue::fromXml(const std::string &xml, size_t *offset)
{
    // Only what follows the position is read, so only that is rewritten.
    XmlRpcScanner scanner(xml, *offset);
    size_t pos = *offset;
    if (!fromXml(scanner, &pos))
        return false;
    *offset = scanner.inputPosition(pos);
    return true;
}

bool XmlRpcValue::fromXml(XmlRpcScanner &xml, size_t *offset)
{
    size_t saved = *offset;
    clear();
    if (read(xml, offset, 0))
        return true;
    clear();
    *offset = saved;
    return false;
}

bool XmlRpcValue::read(XmlRpcScanner &xml, size_t *offset, int depth)
{
    if (depth >= kMaxDepth || !xml.charge(1))
        return false;
    if (!XmlRpcUtil::nextTagIs(kValueTag, xml, offset))
        return false;
    size_t afterValue = *offset;
    std::string typeTag = XmlRpcUtil::getNextTag(xml, offset);
    std::string text;
    bool ok = false;

    if (typeTag == kBooleanTag) {
        int v = 0;
        ok = textUpToTag(xml, offset, text) && parseInt(text, v) && (v == 0 || v == 1);
        if (ok)
            m_value = v == 1;
    } else if (typeTag == kI4Tag || typeTag == kIntTag || typeTag == kI8Tag) {
        // 64-bit integers saturate like any other out of range.
        int v = 0;
        ok = textUpToTag(xml, offset, text) && parseInt(text, v);
        if (ok)
            m_value = v;
    } else if (typeTag == kDoubleTag) {
        if (textUpToTag(xml, offset, text)) {
            double v = 0.0;
            ok = XmlRpcUtil::readDouble(text.c_str(), v);
            if (ok)
                m_value = v;
        }
    } else if (typeTag == kStringTag) {
        ok = textUpToTag(xml, offset, text);
        if (ok)
            m_value = XmlRpcUtil::xmlDecode(text);
    } else if (typeTag.empty() || typeTag == kValueEtag) {
        // Untagged string, or "<value></value>": the text right after <value>.
        *offset = afterValue;
        ok = textUpToTag(xml, offset, text);
        if (ok)
            m_value = XmlRpcUtil::xmlDecode(text);
    } else if (typeTag == kDateTag) {
        std::tm t{};
        if (textUpToTag(xml, offset, text) &&
            sscanf(text.c_str(), "%4d%2d%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                   &t.tm_sec) == 6) {
            t.tm_isdst = -1;
            m_value = t;
            ok = true;
        }
    } else if (typeTag == kBase64Tag) {
        size_t end = xml.findChar('<', *offset);
        if (end != std::string::npos) {
            BinaryData data;
            base64Decode(xml.text().data() + *offset, end - *offset, data);
            *offset = end;
            m_value = std::move(data);
            ok = true;
        }
    } else if (typeTag == kArrayTag) {
        if (XmlRpcUtil::nextTagIs(kDataTag, xml, offset)) {
            ValueArray items;
            for (;;) {
                XmlRpcValue v;
                size_t before = *offset;
                if (!v.read(xml, offset, depth + 1)) {
                    *offset = before;
                    // An element that is there but unreadable ends the array
                    // early: the caller may want to know.
                    size_t probe = before;
                    if (XmlRpcUtil::nextTagIs(kValueTag, xml, &probe))
                        xml.noteCutShort();
                    break;
                }
                items.push_back(std::move(v));
            }
            XmlRpcUtil::nextTagIs(kDataEtag, xml, offset);
            m_value = std::move(items);
            ok = true;
        }
    } else if (typeTag == kStructTag) {
        ValueStruct members;
        ok = true;
        while (XmlRpcUtil::nextTagIs(kMemberTag, xml, offset)) {
            // Names are taken raw, not unescaped.
            std::string name = XmlRpcUtil::parseTag(kNameTag, xml, offset);
            XmlRpcValue v;
            if (!v.read(xml, offset, depth + 1)) {
                ok = false;
                break;
            }
            // The first of two equal names stays; a nil member is no member.
            if (v.valid())
                members.emplace(std::move(name), std::move(v));
            XmlRpcUtil::findTag(kMemberEtag, xml, offset);
        }
        if (ok)
            m_value = std::move(members);
    } else if (typeTag == kNilTag) {
        ok = true; // an absent value: read, but nothing in it
    } else {
        xml.noteUnknownTag(typeTag);
    }

    if (!ok)
        return false;
    XmlRpcUtil::findTag(kValueEtag, xml, offset);
    return true;
}
