#pragma once
#include <string>

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

// The five XML entities, both ways. Other ampersands stay as they are.
std::string xmlEncode(const std::string &raw);
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
