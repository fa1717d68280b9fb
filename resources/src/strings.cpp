// SPDX-License-Identifier: GPL-3.0-or-later
// String table: the document string, command prompts, the application title and the status-bar
// texts. Where a string holds "\n", the text before it is the status-bar prompt and the text
// behind it a short name for a tool tip.
#include "tables.h"

#include "platform/afxres.h"
#include "resources/resource.h"

namespace cistern_res {
namespace {

// Prompts of the window's system-menu items; the framework looks them up by these numbers.
namespace sc {
constexpr UINT kSize = 61184;
constexpr UINT kMove = 61185;
constexpr UINT kMinimize = 61186;
constexpr UINT kMaximize = 61187;
constexpr UINT kNextWindow = 61188;
constexpr UINT kPrevWindow = 61189;
constexpr UINT kClose = 61190;
constexpr UINT kRestore = 61202;
constexpr UINT kTaskList = 61203;
} // namespace sc

constexpr StringData kStrings[] = {
    // Document string of the document template: seven fields separated by "\n".
    {IDR_MAINFRAME, "Sumpwell\n\nSumpwell\n\n\nSumpwell.Document\nSumpwell Document"},

    {ID_CONNECTION_MAKE, "Make Connection"},
    {ID_CONNECTION_CLOSE, "Close Connection"},
    {ID_VIEW_CLEARLOG, "Clear Log Window"},

    {AFX_IDS_APP_TITLE, "Sumpwell"},
    {AFX_IDS_IDLEMESSAGE, "For Help, press F1"},
    {AFX_IDS_HELPMODEMESSAGE, "Select an object on which to get Help"},

    {ID_FILE_NEW, "Create a new document\nNew"},
    {ID_FILE_OPEN, "Open a script\nOpen"},
    {ID_FILE_SAVE, "Save the active document\nSave"},
    // Initial text of the connection pane; the pane's first width is this text's width.
    {ID_INDICATOR_CONNECTION, "No connection"},

    {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"},
    {ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"},
    {ID_EDIT_PASTE, "Insert Clipboard contents\nPaste"},
    {ID_EDIT_UNDO, "Undo the last action\nUndo"},

    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application\nExit"},
    {ID_HELP_FINDER, "List Help topics\nHelp Topics"},
    {ID_CONTEXT_HELP, "Display help for clicked on buttons, menus and windows\nHelp"},
    {ID_HELP, "Display help for current task or command\nHelp"},

    {ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
    {ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},

    {sc::kSize, "Change the window size"},
    {sc::kMove, "Change the window position"},
    {sc::kMinimize, "Reduce the window to an icon"},
    {sc::kMaximize, "Enlarge the window to full size"},
    {sc::kNextWindow, "Switch to the next document window"},
    {sc::kPrevWindow, "Switch to the previous document window"},
    {sc::kClose, "Close the active window and prompts to save the documents"},
    {sc::kRestore, "Restore the window to normal size"},
    {sc::kTaskList, "Activate Task List"},
};

} // namespace

std::span<const StringData> StringTable() { return kStrings; }

} // namespace cistern_res
