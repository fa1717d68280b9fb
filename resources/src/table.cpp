// SPDX-License-Identifier: GPL-3.0-or-later
// The program's resource table, assembled from its parts, and its registration at start-up.
#include "tables.h"

#include "resources/resource.h"

#include <QtCore/qglobal.h>

namespace cistern_res {
namespace {

// Each group's .ico holds a 32 x 32 and a 16 x 16 image in 16 colours with a transparency mask.
constexpr IconData kIcons[] = {
    {IDR_MAINFRAME, ":/icons/sumpwell.ico"},
    {IDR_CISTERNTYPE, ":/icons/sumpwell-doc.ico"},
};

} // namespace

std::span<const IconData> Icons() { return kIcons; }

} // namespace cistern_res

const ResourceTable& CisternResources()
{
    static const ResourceTable table = {
        IDR_MAINFRAME,
        cistern_res::MainMenu(),
        cistern_res::MainAccelerators(),
        cistern_res::StringTable(),
        cistern_res::DialogTemplates(),
        cistern_res::Icons(),
        &cistern_res::VersionBlock(),
        &cistern_res::Identity(),
    };
    return table;
}

void CisternInitResources()
{
    // The icon files are compiled into this static library; a static library's Qt resources
    // are not registered until someone asks for them by name.
    Q_INIT_RESOURCE(cistern_icons);
    AfxSetResourceTable(&CisternResources());
}
