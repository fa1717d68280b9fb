// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/namelessfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

std::string cacheFolder(const std::string& folder)
{
    if (!folder.empty())
        return folder;
    const QString title = QCoreApplication::applicationName();
    return (QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + title).toStdString();
}

int openNamelessFile(const std::string& folder)
{
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // A file system without nameless files: a named one, unlinked at once.
    std::string name = folder + "/log-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

void closeInBackground(int fd)
{
    if (fd >= 0)
        std::thread([fd] { ::close(fd); }).detach();
}
