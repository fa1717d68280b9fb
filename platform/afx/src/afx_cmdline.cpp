// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: --help, --version and wrong arguments answered before the application starts,
// and the file to open once it runs.
#include "platform/afxcmdline.h"
#include "platform/afxapp.h"
#include "platform/resdata.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace {

// "ProductName major.minor.build.revision" from the version block, or empty.
CString ProductVersion()
{
    const ResourceTable* table = AfxGetResourceTable();
    if (table == nullptr || table->version == nullptr)
        return {};
    const VersionData& v = *table->version;
    CString name;
    for (const VersionString& s : v.strings)
        if (std::strcmp(s.key, "ProductName") == 0)
            name = s.value;
    CString text;
    text.Format("%s %u.%u.%u.%u", name.c_str(), v.productVersionMS >> 16, v.productVersionMS & 0xFFFF,
                v.productVersionLS >> 16, v.productVersionLS & 0xFFFF);
    return text;
}

// Qt's standard options, which QApplication takes out of the arguments itself; those in the first
// list take a value.
bool IsQtOption(const std::string& a, bool& takesValue)
{
    static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                            "stylesheet", "session", "display", "geometry", "title", "name",
                                            "visual", "ncols", "cmap", "im", "inputstyle", "fn", "font",
                                            "bg", "background", "fg", "foreground", "btn", "button"};
    static const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    std::string name = a.substr(a.rfind('-', 1) == 1 ? 2 : 1);   // "-x" or "--x"
    const std::size_t eq = name.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue)
        name.resize(eq);
    for (const char* o : withValue)
        if (name == o) {
            takesValue = !inlineValue;
            return true;
        }
    for (const char* o : flags)
        if (name == o) {
            takesValue = false;
            return true;
        }
    return name.rfind("qmljsdebugger", 0) == 0;
}

} // namespace

int AfxPreParseCommandLine(int argc, char** argv)
{
    const std::string program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString()
                                          : AfxGetIdentity().program;
    const auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.c_str(), why.c_str(),
                     program.c_str());
        return 2;
    };
    int files = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            if (++files > 1)
                return refuse("only one file can be opened, not also '" + a + "'");
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            std::printf(AfxGetIdentity().usage, program.c_str());
            return 0;
        } else if (a == "--version" || a == "-v") {
            std::printf("%s\n", ProductVersion().c_str());
            return 0;
        } else if (bool takesValue = false; IsQtOption(a, takesValue)) {
            if (takesValue && ++i >= argc)
                return refuse("option '" + a + "' needs a value");
        } else {
            return refuse("unknown option '" + a + "'");
        }
    }
    return -1;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo)
{
    // Qt's own options are already taken out; the rest was checked before the application began.
    const QStringList args = QCoreApplication::arguments();
    bool optionsEnded = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (!optionsEnded && args[i] == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && args[i].startsWith(QLatin1Char('-')) && args[i].size() > 1)
            continue;
        rCmdInfo.m_nShellCommand = CCommandLineInfo::FileOpen;
        rCmdInfo.m_strFileName = args[i].toStdString();
        break;
    }
}

