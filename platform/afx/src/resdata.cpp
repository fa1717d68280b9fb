// SPDX-License-Identifier: GPL-3.0-or-later
// The framework's view of the program's resources: one table, handed over at start-up.
#include "platform/resdata.h"

namespace {

const ResourceTable* g_table = nullptr;

} // namespace

void AfxSetResourceTable(const ResourceTable* table)
{
    g_table = table;
}

const ResourceTable* AfxGetResourceTable()
{
    return g_table;
}

const char* AfxLoadString(UINT id)
{
    if (!g_table)
        return nullptr;
    for (const StringData& s : g_table->strings)
        if (s.id == id)
            return s.text;
    return nullptr;
}

const DialogTemplateData* AfxFindDialogTemplate(UINT id)
{
    if (!g_table)
        return nullptr;
    for (const DialogTemplateData& d : g_table->dialogs)
        if (d.id == id)
            return &d;
    return nullptr;
}

const IconData* AfxFindIcon(UINT id)
{
    if (!g_table)
        return nullptr;
    for (const IconData& i : g_table->icons)
        if (i.id == id)
            return &i;
    return nullptr;
}

const IdentityData& AfxGetIdentity()
{
    static const IdentityData none{"", "", "", ""};
    return g_table != nullptr && g_table->identity != nullptr ? *g_table->identity : none;
}
