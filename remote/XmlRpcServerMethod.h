#pragma once
#include "XmlRpcValue.h"

#include <string>

class XmlRpcServer;

// A named method; registers itself with the server given at construction.
// execute runs on the server thread.
class XmlRpcServerMethod {
public:
    XmlRpcServerMethod(const std::string &name, XmlRpcServer *server = nullptr);
    virtual ~XmlRpcServerMethod();

    const std::string &name() const { return m_name; }
    XmlRpcServer *server() const { return m_server; }

    // params: the call's parameters (an array, or invalid when there were
    // none); result: the value to answer with.
    virtual void execute(XmlRpcValue &params, XmlRpcValue &result) = 0;
    virtual std::string help() { return std::string(); }

    XmlRpcServerMethod(const XmlRpcServerMethod &) = delete;
    XmlRpcServerMethod &operator=(const XmlRpcServerMethod &) = delete;

protected:
    std::string m_name;
    XmlRpcServer *m_server;
};
