#pragma once
#include <string>

// Raised on misuse of an XmlRpcValue and by request handling; the server
// answers it with a fault carrying the message and code.
class XmlRpcException {
public:
    explicit XmlRpcException(std::string message, int code = -1) : m_message(std::move(message)), m_code(code) {}

    const std::string &getMessage() const { return m_message; }
    int getCode() const { return m_code; }

private:
    std::string m_message;
    int m_code;
};
