// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files without a name in the program's cache folder: the system removes them however the program
// ends.
#include <string>

// folder, or, when it is empty, the program's cache folder: $XDG_CACHE_HOME/<application title>
// (the framework names the application after its title, as it does for the profile).
std::string cacheFolder(const std::string& folder);

// A new, nameless file in folder (made when missing), or -1 with errno set.
int openNamelessFile(const std::string& folder);

// Closes fd on a thread of its own. The last close of a large file that is gone (a store file, a
// log a save replaced) frees its blocks, which, where the file system discards them at once, takes
// about as long as writing them did; the window goes on meanwhile.
void closeInBackground(int fd);
