#pragma once
#include "XmlRpcValue.h"

#include <string>

// JSON text to XML-RPC values and back, for orvane-ctl's arguments and
// output. Objects are structs, arrays arrays, integers that fit 32 bits ints,
// other numbers doubles. Base64 and dateTime values, which JSON lacks, are
// objects with the single member "base64" or "dateTime.iso8601" holding the
// XML-RPC text. An invalid value is null. Numbers are read and written as in
// the C locale whatever the user's.
class OvcJson {
public:
    // Nesting deeper than this is refused (as the XML-RPC values are).
    static constexpr int kMaxDepth = XmlRpcValue::kMaxDepth;

    // Parses one JSON value filling the whole text (white space around it
    // allowed). False with the reason and its byte offset in error; null is
    // refused, XML-RPC has no such value.
    static bool parse(const std::string &text, XmlRpcValue &out, std::string &error);

    // The value as JSON; indented by two spaces per level when pretty.
    // Strings that are not valid UTF-8 have their stray bytes replaced by
    // U+FFFD, so the output always is.
    static std::string write(const XmlRpcValue &value, bool pretty);
    static void appendString(std::string &out, const std::string &text);
    // Shortest text that reads back as the same double; null when not finite.
    static void appendDouble(std::string &out, double value);
};
