#include "XmlRpcSource.h"

#include "XmlRpcSocket.h"
#include "XmlRpcUtil.h"

XmlRpcSource::~XmlRpcSource() = default;

void XmlRpcSource::close()
{
    if (m_fd != -1) {
        XmlRpcUtil::log(2, "XmlRpcSource::close: closing socket %d.", m_fd);
        XmlRpcSocket::close(m_fd);
        XmlRpcUtil::log(2, "XmlRpcSource::close: done closing socket %d.", m_fd);
        m_fd = -1;
    }
    if (m_deleteOnClose) {
        XmlRpcUtil::log(2, "XmlRpcSource::close: deleting this");
        m_deleteOnClose = false;
        delete this;
    }
}
