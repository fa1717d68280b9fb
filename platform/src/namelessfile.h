// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files without a name in the program's cache folder: the system removes them however the program
// ends.
#include <QString>

// folder, or the cache folder ($XDG_CACHE_HOME/Sumpwell) when folder is empty.
QString cacheFolder(const QString& folder);

// A new, nameless file in folder (made when missing), or -1 with errno set.
int openNamelessFile(const QString& folder);
