// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line: what the program was asked to do at start, and the answers given before any
// window exists.
#include "platform/cstring.h"

class CCommandLineInfo {
public:
    enum { FileNew, FileOpen } m_nShellCommand = FileNew;
    CString m_strFileName;
};

// Answers --help and --version and refuses unknown options and a second file, on standard output
// or standard error: the exit code, or -1 to go on.
int AfxPreParseCommandLine(int argc, char** argv);
