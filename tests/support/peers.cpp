#include "peers.h"

#include <QDir>
#include <QFile>

namespace testsupport {

bool TcpPortListening(std::uint16_t port)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    f.readLine();   // header
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().simplified().split(' ');
        if (fields.size() < 4)
            continue;
        // local_address is ADDR:PORT in hex; state 0A is LISTEN.
        if (fields[1].endsWith(":" + wanted) && fields[3] == "0A")
            return true;
    }
    return false;
}

int OpenDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace testsupport
