#pragma once
// The generator's eight XML-RPC methods, in registration order. Each runs on
// the server thread and reaches the engine through its holder.
#include "OvcXmlPrivates.h"

class QiParams;

// Struct members to a parameter map: booleans "true"/"false", ints "%d",
// doubles "%f", strings as they are; other types are left out with a log line.
void ovcStructToParams(const XmlRpcValue &s, QiParams &out);
// Every entry becomes a string member.
XmlRpcValue ovcParamsToStruct(const QiParams &params);

class SetGen : public OvcXmlMethod {
public:
    explicit SetGen(OvcXmlPrivates *h) : OvcXmlMethod("SetGen", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class PatternOption : public OvcXmlMethod {
public:
    explicit PatternOption(OvcXmlPrivates *h) : OvcXmlMethod("PatternOption", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class GetGenOptions : public OvcXmlMethod {
public:
    explicit GetGenOptions(OvcXmlPrivates *h) : OvcXmlMethod("GetGenOptions", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class SetAlias : public OvcXmlMethod {
public:
    explicit SetAlias(OvcXmlPrivates *h) : OvcXmlMethod("SetAlias", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class MMCAlias : public OvcXmlMethod {
public:
    explicit MMCAlias(OvcXmlPrivates *h) : OvcXmlMethod("MMCAlias", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class GetOrvVersion : public OvcXmlMethod {
public:
    explicit GetOrvVersion(OvcXmlPrivates *h) : OvcXmlMethod("GetOrvVersion", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class ReadEdid : public OvcXmlMethod {
public:
    explicit ReadEdid(OvcXmlPrivates *h) : OvcXmlMethod("ReadEdid", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};

class RescanFormats : public OvcXmlMethod {
public:
    explicit RescanFormats(OvcXmlPrivates *h) : OvcXmlMethod("RescanFormats", h) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override;
    std::string help() override;
};
