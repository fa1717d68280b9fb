#include "peers.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <unistd.h>

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

int OpenSocketCount()
{
    // Only sockets: Qt's painting threads open and close event descriptors of their own.
    int count = 0;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char target[64] = {};
        const QByteArray path = "/proc/self/fd/" + name.toLatin1();
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0)
            ++count;
    }
    return count;
}

} // namespace testsupport
