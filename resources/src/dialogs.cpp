// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates: the About box and the "Make Host Connection" dialog. Positions and sizes
// are dialog units of 8-point "MS Sans Serif"; the platform substitutes an installed font and
// scales the units from it. Controls are listed in template order, which is also tab order.
#include "tables.h"

#include "resources/resource.h"

namespace cistern_res {
namespace {

// The About box names the major and minor version.
#define CISTERN_VERSION_SHORT CISTERN_NUMBER_TEXT(CISTERN_VERSION_MAJOR) "." CISTERN_NUMBER_TEXT(CISTERN_VERSION_MINOR)

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
// Both dialogs stand at 0, 0 with no centring style: the framework centres them on the owner.
constexpr DWORD kDialogStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;

constexpr DialogControlData kAboutControls[] = {
    {ControlClass::Static, "#128", IDC_STATIC, 11, 17, 20, 20, kChild | SS_ICON},
    {ControlClass::Static, "Cistern Version " CISTERN_VERSION_SHORT, IDC_STATIC, 40, 10, 119, 8,
     kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP},
    // The copyright line's field is as wide as the version line's: the notice's short form fits it.
    {ControlClass::Static, "\u00A9 2026 The Cistern developers", IDC_STATIC, 40, 25, 119, 8,
     kChild | SS_LEFT | WS_GROUP},
    {ControlClass::Button, "OK", IDOK, 178, 7, 32, 14,
     kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
};

constexpr DialogControlData kHostConnectControls[] = {
    {ControlClass::Edit, "", IDC_PORT, 25, 25, 45, 12,
     kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    // The radio group runs from IDC_UDP (WS_GROUP) to the next WS_GROUP control, the group box.
    {ControlClass::Button, "UDP", IDC_UDP, 30, 50, 40, 10,
     kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP},
    {ControlClass::Button, "TCP", IDC_TCP, 30, 65, 40, 10, kChild | BS_AUTORADIOBUTTON | WS_TABSTOP},
    {ControlClass::Button, "Protocol", IDC_STATIC, 25, 40, 70, 40, kChild | BS_GROUPBOX | WS_GROUP},
    {ControlClass::Button, "Clear window", IDC_CLEARWINDOW, 30, 85, 58, 10,
     kChild | BS_AUTOCHECKBOX | WS_TABSTOP},
    {ControlClass::Button, "OK", IDOK, 30, 100, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
    {ControlClass::Button, "Cancel", IDCANCEL, 85, 100, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    // Display only: disabled and out of the tab order.
    {ControlClass::Edit, "", IDC_HOST, 25, 5, 108, 12,
     kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_DISABLED},
    {ControlClass::Static, "Host:", IDC_STATIC, 5, 6, 18, 10, kChild | SS_LEFT | WS_GROUP},
    {ControlClass::Static, "Port:", IDC_STATIC, 5, 27, 18, 7, kChild | SS_LEFT | WS_GROUP},
};

constexpr DialogTemplateData kDialogs[] = {
    {IDD_ABOUTBOX, "About Cistern", kDialogStyle, 0, 0, 217, 55, "MS Sans Serif", 8,
     kAboutControls},
    {IDD_HOSTCONNECT, "Make Host Connection", kDialogStyle | WS_VISIBLE, 0, 0, 147, 121,
     "MS Sans Serif", 8, kHostConnectControls},
};

} // namespace

std::span<const DialogTemplateData> DialogTemplates() { return kDialogs; }

} // namespace cistern_res
