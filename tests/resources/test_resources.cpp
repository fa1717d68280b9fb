// SPDX-License-Identifier: GPL-3.0-or-later
// The resource table as the framework reads it: rules a hand edit of the table can break without
// any compiler noticing. What the menus, keys and dialogs do is tested where they are used.
#include "platform/afxwin.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace {

const ResourceTable& Table()
{
    CisternInitResources();
    return *AfxGetResourceTable();
}

} // namespace

TEST(ResourceTable, MenusAreBalancedAndEveryCommandHasAPromptAndOneKey)
{
    int depth = 0;
    std::set<UINT> commands;
    for (const MenuItemData& row : Table().menu) {
        depth += row.kind == MenuRow::Popup ? 1 : row.kind == MenuRow::EndPopup ? -1 : 0;
        ASSERT_EQ(depth, row.kind == MenuRow::EndPopup ? 0 : 1) << "popups nest or items stray at row " << (&row - Table().menu.data());
        if (row.kind == MenuRow::Item)
            commands.insert(row.id);
    }
    EXPECT_EQ(depth, 0);
    std::set<std::pair<int, int>> keys;
    for (const AccelData& a : Table().accelerators) {
        commands.insert(a.cmd);
        EXPECT_EQ(a.fVirt & FVIRTKEY, FVIRTKEY) << "key " << a.key;
        // Letters by their upper-case code; other codes are virtual keys ('a'..'z' are function keys).
        EXPECT_TRUE((a.key >= 'A' && a.key <= 'Z') || a.key == VK_BACK || a.key == VK_INSERT || a.key == VK_DELETE ||
                    a.key == VK_F1 || a.key == VK_F2 || a.key == VK_F6) << "key " << a.key;
        EXPECT_TRUE(keys.insert({a.key, a.fVirt & (FSHIFT | FCONTROL | FALT)}).second) << "key " << a.key << " bound twice";
    }
    // The status bar shows each command's prompt: the text before its first line feed.
    for (const UINT cmd : commands) {
        const char* text = AfxLoadString(cmd);
        EXPECT_TRUE(text != nullptr && *text != '\n' && *text != '\0') << "command " << cmd << " has no prompt";
    }
}

TEST(ResourceTable, DialogControlsLieInsideTheirDialogsAndTheirIdsAreUnique)
{
    for (const DialogTemplateData& dlg : Table().dialogs) {
        std::set<int> ids;
        for (const DialogControlData& c : dlg.controls) {
            EXPECT_TRUE(c.x >= 0 && c.y >= 0 && c.x + c.cx <= dlg.cx && c.y + c.cy <= dlg.cy) << dlg.caption << ": " << c.text;
            EXPECT_TRUE(c.id == IDC_STATIC || ids.insert(c.id).second) << dlg.caption << ": id " << c.id;
            unsigned icon = 0;
            if (c.cls == ControlClass::Static && (c.style & 0x1F) == SS_ICON) {
                EXPECT_TRUE(std::sscanf(c.text, "#%u", &icon) == 1 && AfxFindIcon(icon) != nullptr) << c.text;
            }
        }
    }
}
