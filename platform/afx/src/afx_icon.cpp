// SPDX-License-Identifier: GPL-3.0-or-later
#include "afx_icon.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

QIcon AfxLoadIconGroup(const IconData& icon)
{
    const QString path = QString::fromUtf8(icon.path);
    QIcon result(path);

    int largest = 0;
    for (const QSize& size : result.availableSizes())
        largest = std::max({largest, size.width(), size.height()});

    // Only sizes the .ico lacks are added: at the .ico's own sizes its images stay the ones shown.
    const QFileInfo info(path);
    const QString stem = info.completeBaseName();
    const QRegularExpression sized(
        QRegularExpression::anchoredPattern(QRegularExpression::escape(stem) + QStringLiteral("-(\\d+)\\.png")));
    const QDir dir = info.dir();
    for (const QString& name : dir.entryList({stem + QStringLiteral("-*.png")}, QDir::Files)) {
        const QRegularExpressionMatch m = sized.match(name);
        if (!m.hasMatch())
            continue;
        const int size = m.captured(1).toInt();
        if (size > largest)
            result.addFile(dir.filePath(name), QSize(size, size));
    }
    return result;
}
