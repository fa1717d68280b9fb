// SPDX-License-Identifier: GPL-3.0-or-later
#include "namelessfile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

QString cacheFolder(const QString& folder)
{
    if (!folder.isEmpty())
        return folder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Sumpwell");
}

int openNamelessFile(const QString& folder)
{
    if (!QDir().mkpath(folder)) {
        errno = ENOENT;
        return -1;
    }
    const QByteArray path = QFile::encodeName(folder);
    int fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // A file system without nameless files: a named one, unlinked at once.
    QByteArray name = path + "/log-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}
