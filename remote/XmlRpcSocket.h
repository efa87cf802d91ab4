#pragma once
#include <cstddef>
#include <string>

// Thin non-blocking socket helpers for the XML-RPC server and client.
namespace XmlRpcSocket {

// A TCP socket, or -1.
int socket();
void close(int fd);
bool setNonBlocking(int fd);
bool setReuseAddr(int fd);
// Binds to address (dotted IPv4, null for all local addresses) and port.
bool bind(int fd, int port, const char *address = nullptr);
bool listen(int fd, int backlog);
int accept(int fd);
// The port the socket is bound to, or -1.
int getPort(int fd);

// Appends what is available (reads of up to 4095 bytes) until the socket
// would block, reports end of file, or s holds at least limit bytes. False on
// an error other than would-block.
bool nbRead(int fd, std::string &s, bool *eof, size_t limit = static_cast<size_t>(-1));
// Sends from *bytesSoFar on without blocking, advancing it. False on error.
bool nbWrite(int fd, const std::string &s, int *bytesSoFar);

// The last socket error number, and whether it only means "try again".
int getError();
bool nonFatalError();
std::string getErrorMsg();
std::string getErrorMsg(int error);

} // namespace XmlRpcSocket
