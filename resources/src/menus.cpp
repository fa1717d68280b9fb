// SPDX-License-Identifier: GPL-3.0-or-later
// Menu bar and accelerator table of the main frame (IDR_MAINFRAME).
#include "tables.h"

#include "platform/afxres.h"
#include "resources/resource.h"

namespace cistern_res {
namespace {

constexpr MenuItemData kMenu[] = {
    {MenuRow::Popup, 0, "&Connection", 0},
    // Stored grayed; the view's enabling handlers decide what the user sees.
    {MenuRow::Item, ID_CONNECTION_MAKE, "&Make Connection...\tF2", MF_GRAYED},
    {MenuRow::Item, ID_CONNECTION_CLOSE, "&Close Connection", MF_GRAYED},
    {MenuRow::Separator, 0, nullptr, 0},
    {MenuRow::Item, ID_APP_EXIT, "E&xit Cistern", 0},
    {MenuRow::EndPopup, 0, nullptr, 0},

    {MenuRow::Popup, 0, "&View", 0},
    {MenuRow::Item, ID_VIEW_CLEARLOG, "&Clear Log Window", 0},
    {MenuRow::EndPopup, 0, nullptr, 0},

    {MenuRow::Popup, 0, "&Help", 0},
    {MenuRow::Item, ID_HELP_FINDER, "&Help Topics", 0},
    {MenuRow::Separator, 0, nullptr, 0},
    {MenuRow::Item, ID_APP_ABOUT, "&About Cistern...", 0},
    {MenuRow::EndPopup, 0, nullptr, 0},
};

// Every key is a virtual-key entry that leaves the menu bar unhighlighted.
constexpr BYTE kKey = FVIRTKEY | FNOINVERT;

// The document and clipboard commands have no menu item; these keys are their only way in. Cut,
// paste, undo and the next and previous pane keep their keys but nothing handles them: the log
// cannot be changed and the frame has one pane, so they are disabled and do nothing.
constexpr AccelData kAccelerators[] = {
    {kKey | FCONTROL, 'C', ID_EDIT_COPY},
    {kKey | FCONTROL, 'N', ID_FILE_NEW},
    {kKey | FCONTROL, 'O', ID_FILE_OPEN},
    {kKey | FCONTROL, 'S', ID_FILE_SAVE},
    {kKey | FCONTROL, 'V', ID_EDIT_PASTE},
    {kKey | FALT, VK_BACK, ID_EDIT_UNDO},
    {kKey | FSHIFT, VK_DELETE, ID_EDIT_CUT},
    {kKey, VK_F1, ID_HELP},
    {kKey | FSHIFT, VK_F1, ID_CONTEXT_HELP},
    {kKey, VK_F2, ID_CONNECTION_MAKE},
    {kKey, VK_F6, ID_NEXT_PANE},
    {kKey | FSHIFT, VK_F6, ID_PREV_PANE},
    {kKey | FCONTROL, VK_INSERT, ID_EDIT_COPY},
    {kKey | FSHIFT, VK_INSERT, ID_EDIT_PASTE},
    {kKey | FCONTROL, 'X', ID_EDIT_CUT},
    {kKey | FCONTROL, 'Z', ID_EDIT_UNDO},
};

} // namespace

std::span<const MenuItemData> MainMenu() { return kMenu; }
std::span<const AccelData> MainAccelerators() { return kAccelerators; }

} // namespace cistern_res
