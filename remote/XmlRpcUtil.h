#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One text being read, with what has been learnt about it: where each tag
// searched for occurs, the last stretch of blanks skipped, the last distance
// to a '<' or '>'. A reader that searches ahead from many positions, or goes
// back after a failed read, then pays for each byte about once, not once per
// search. It also counts the work done; past a budget linear in the text,
// reads give up. Well-formed text costs 1-3 units a byte; the worst found
// (a failing struct under 60 levels, re-read once per level as the reading
// rules require) about 180. The text must outlive the scanner and stay
// unchanged.
//
// Tags from the start position on are read in their long form: an empty
// element "<data/>" or "<data />" as "<data></data>", and blanks before '>'
// dropped ("<value >", "</value >"). Other XML-RPC libraries write these;
// the readers then see the same text as for the long form. Positions are
// in text(), which is a rewritten copy only when something was rewritten;
// inputPosition() maps one back into the text given.
//
// Readers also leave notes here for the caller: the first type tag that no
// reader knows, and whether an array ended at an element that was there but
// could not be read.
class XmlRpcScanner {
public:
    // Work allowed per byte of text, plus a constant for short texts.
    static constexpr uint64_t kWorkPerByte = 256;
    static constexpr uint64_t kWorkBase = 1 << 16;

    explicit XmlRpcScanner(const std::string &text, size_t from = 0);

    const std::string &text() const { return m_text; }
    size_t size() const { return m_text.size(); }
    // The position in the text given that a position in text() stands for
    // (the end of a rewritten tag for one inside it).
    size_t inputPosition(size_t pos) const;

    // First occurrence of needle at or after pos, or npos.
    size_t find(const char *needle, size_t pos);
    // First c ('<' or '>') at or after pos, or npos.
    size_t findChar(char c, size_t pos);
    // First non-blank position at or after pos (size() when none).
    size_t skipBlanks(size_t pos);

    // Charges work; false once the budget is spent.
    bool charge(uint64_t units)
    {
        m_work += units;
        return m_work <= m_budget;
    }
    bool exhausted() const { return m_work > m_budget; }
    uint64_t work() const { return m_work; }

    // Notes of the readers.
    void noteUnknownTag(const std::string &tag);
    // Empty when every type tag was known; else the first other one.
    const std::string &unknownTag() const { return m_unknownTag; }
    void noteCutShort() { m_cutShort = true; }
    bool cutShort() const { return m_cutShort; }

    XmlRpcScanner(const XmlRpcScanner &) = delete;
    XmlRpcScanner &operator=(const XmlRpcScanner &) = delete;

private:
    struct Table {
        std::string needle;
        std::vector<uint32_t> at; // every occurrence, ascending
    };
    // Known stretches: for every position from a key up to its value, the
    // answer is that value (npos: none to the end of the text). Only
    // stretches worth remembering are kept, so there are few of them.
    using Spans = std::map<size_t, size_t>;
    size_t findCached(Spans &spans, size_t pos, bool (*hit)(char));

    // One rewritten tag: [from, to) of the text given became
    // [outFrom, outTo) of text().
    struct Rewrite {
        size_t from, to, outFrom, outTo;
    };
    static bool longForm(const std::string &in, size_t from, std::string &out, std::vector<Rewrite> &rewrites);

    std::vector<Rewrite> m_rewrites;
    std::string m_long;
    const std::string &m_text;
    std::vector<Table> m_tables;
    Spans m_blanks, m_lt, m_gt;
    uint64_t m_work = 0;
    uint64_t m_budget;
    std::string m_unknownTag;
    bool m_cutShort = false;
};

// Trace and error lines of the XML-RPC layer, and the tag scanning shared by
// values, server and client. All scanning functions take a text and a
// position, and fail harmlessly at or beyond the end of the text.
namespace XmlRpcUtil {

// Process-wide trace verbosity; 0 (the default) prints no trace lines.
int verbosity();
void setVerbosity(int level);

// Trace line to stdout when level <= verbosity (cut at 1023 characters).
void log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Error line, always written to stderr (or handed to the error sink).
void error(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Receives each error line instead of stderr; null restores stderr. For
// programs that report failures in their own words (orvane-ctl).
using ErrorSink = void (*)(const char *line);
void setErrorSink(ErrorSink sink);

// Text between tag and its end tag; moves past the end tag. Empty (position
// unchanged) when either is missing.
std::string parseTag(const char *tag, const std::string &xml, size_t *offset);
// Moves past tag if it occurs anywhere from the position on.
bool findTag(const char *tag, const std::string &xml, size_t *offset);
// Skips white space; moves past tag if the text there begins with it.
bool nextTagIs(const char *tag, const std::string &xml, size_t *offset);
// Skips white space; the tag up to and including '>' when the next character
// is '<', else empty (position unchanged).
std::string getNextTag(const std::string &xml, size_t *offset);

// The same on a scanner's text.
std::string parseTag(const char *tag, XmlRpcScanner &xml, size_t *offset);
bool findTag(const char *tag, XmlRpcScanner &xml, size_t *offset);
bool nextTagIs(const char *tag, XmlRpcScanner &xml, size_t *offset);
std::string getNextTag(XmlRpcScanner &xml, size_t *offset);

// The five XML entities, both ways. Other ampersands stay as they are.
// Encoding also replaces what XML 1.0 cannot carry (control characters
// other than tab, line feed and carriage return; bytes that are not UTF-8;
// U+FFFE and U+FFFF) by U+FFFD, so any text makes a well-formed answer.
std::string xmlEncode(const std::string &raw);
void xmlEncode(const std::string &raw, std::string &out);
std::string xmlDecode(const std::string &encoded);

// Numbers are written and read as in the C locale whatever the process
// locale is: while one of these lives, printf-style formatting on this
// thread uses the C locale.
class ClassicNumbers {
public:
    ClassicNumbers();
    ~ClassicNumbers();
    ClassicNumbers(const ClassicNumbers &) = delete;
    ClassicNumbers &operator=(const ClassicNumbers &) = delete;

private:
    void *m_old;
};

// strtod's reading in the C locale (blanks, sign, digits with point and
// exponent, 0x hexadecimal, inf, nan); false when no number starts the text.
bool readDouble(const char *text, double &out);

// "error N" for a socket error number.
std::string socketError(int err);

} // namespace XmlRpcUtil
