#pragma once
#include <QTcpServer>

namespace vt::test {

// A port that was free a moment ago: nobody listens there now (0 when none could be had).
inline quint16 closedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace vt::test
