// SPDX-License-Identifier: GPL-3.0-or-later
// The program's identity: its desktop entry, its command and manual, and the text of --help. Its
// title (AFX_IDS_APP_TITLE, in strings.cpp) names its windows and its profile.
#include "tables.h"

namespace cistern_res {
namespace {

constexpr IdentityData kIdentity = {
    "org.cistern.Sumpwell",
    "sumpwell",
    ":/help/sumpwell.html",
    "Usage: %s [FILE]\n"
    "Listens on one UDP or TCP port and shows every line of text that arrives.\n"
    "With FILE, opens that file as the log.\n\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n\n"
    "Qt's standard options (-platform, -style, -reverse, ...) are accepted too.\n",
};

} // namespace

const IdentityData& Identity() { return kIdentity; }

} // namespace cistern_res
