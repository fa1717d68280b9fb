// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Resources as data: the shapes in which the resources folder describes menus, accelerators,
// strings, dialog templates, icons and the version block, and the one table the framework reads
// them from. The framework owns no resources of its own; the program hands it its table at start.
#include "platform/types.h"

#include <cstddef>
#include <span>
#include <string_view>

// Window and control styles used by dialog templates and menus (the values of the classic API).
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD DS_MODALFRAME = 0x0080;
inline constexpr DWORD DS_SETFONT = 0x0040;

inline constexpr DWORD ES_LEFT = 0x0000;
inline constexpr DWORD ES_MULTILINE = 0x0004;
inline constexpr DWORD ES_AUTOVSCROLL = 0x0040;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;
inline constexpr DWORD ES_NOHIDESEL = 0x0100;
inline constexpr DWORD ES_READONLY = 0x0800;

inline constexpr DWORD SS_LEFT = 0x0000;
inline constexpr DWORD SS_ICON = 0x0003;
inline constexpr DWORD SS_NOPREFIX = 0x0080;

inline constexpr DWORD BS_PUSHBUTTON = 0x0000;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
inline constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
inline constexpr DWORD BS_GROUPBOX = 0x0007;
inline constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;

inline constexpr DWORD CBRS_BOTTOM = 0x00008200;   // docked at the bottom, border along the top
inline constexpr DWORD FWS_ADDTOTITLE = 0x00008000;

inline constexpr int IDC_STATIC = -1;

// ---- Menus --------------------------------------------------------------------------------------
enum class MenuRow : BYTE { Popup, Item, Separator, EndPopup };
inline constexpr BYTE MF_GRAYED = 0x01;

struct MenuItemData {
    MenuRow kind;
    UINT id;               // command id (Item only)
    const char* text;      // "&Text\tKey" (Popup and Item)
    BYTE flags;            // MF_GRAYED
};

// ---- Accelerators -------------------------------------------------------------------------------
inline constexpr BYTE FVIRTKEY = 0x01;
inline constexpr BYTE FNOINVERT = 0x02;
inline constexpr BYTE FSHIFT = 0x04;
inline constexpr BYTE FCONTROL = 0x08;
inline constexpr BYTE FALT = 0x10;

// Virtual-key codes that the accelerator table uses.
inline constexpr WORD VK_BACK = 0x08;
inline constexpr WORD VK_INSERT = 0x2D;
inline constexpr WORD VK_DELETE = 0x2E;
inline constexpr WORD VK_F1 = 0x70;
inline constexpr WORD VK_F2 = 0x71;
inline constexpr WORD VK_F6 = 0x75;

struct AccelData {
    BYTE fVirt;            // FVIRTKEY | FNOINVERT | modifiers
    WORD key;              // virtual key; letters as their upper-case ASCII code
    UINT cmd;
};

// ---- Strings ------------------------------------------------------------------------------------
struct StringData {
    UINT id;
    const char* text;
};

// ---- Dialog templates ---------------------------------------------------------------------------
enum class ControlClass : BYTE { Button, Edit, Static };

struct DialogControlData {
    ControlClass cls;
    const char* text;      // for an SS_ICON static: the icon's resource id as "#128"
    int id;
    short x, y, cx, cy;    // dialog units
    DWORD style;           // WS_CHILD | WS_VISIBLE are implied
};

struct DialogTemplateData {
    UINT id;
    const char* caption;
    DWORD style;
    short x, y, cx, cy;    // dialog units
    const char* fontName;
    int pointSize;
    std::span<const DialogControlData> controls;
};

// ---- Icons --------------------------------------------------------------------------------------
struct IconData {
    UINT id;
    const char* path;      // a Qt resource path of an .ico file holding the group's images
};

// ---- Version block ------------------------------------------------------------------------------
struct VersionString {
    const char* key;
    const char* value;
};

struct VersionData {
    DWORD fileVersionMS, fileVersionLS;
    DWORD productVersionMS, productVersionLS;
    DWORD fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype;
    DWORD fileDateMS, fileDateLS;
    const char* stringBlock;                 // "040904b0"
    std::span<const VersionString> strings;  // in their order
    WORD translationLanguage, translationCodePage;
};

// ---- Identity -----------------------------------------------------------------------------------
// Who the program is, to the desktop and on the command line. (Its title, in the string table, names
// its windows and its profile.)
struct IdentityData {
    const char* desktopId;  // the installed desktop entry's name, without ".desktop"
    const char* program;    // the command's name, when the process was started without one
    const char* helpPage;   // the manual, as a Qt resource path
    const char* usage;      // the --help text; "%s" stands for the command's name
};

// ---- The table the framework reads --------------------------------------------------------------
struct ResourceTable {
    UINT menuId;                                 // IDR_MAINFRAME
    std::span<const MenuItemData> menu;
    std::span<const AccelData> accelerators;
    std::span<const StringData> strings;
    std::span<const DialogTemplateData> dialogs;
    std::span<const IconData> icons;
    const VersionData* version;
    const IdentityData* identity;
};

// The program hands its table to the framework before the application starts.
void AfxSetResourceTable(const ResourceTable* table);
const ResourceTable* AfxGetResourceTable();

// Lookups; null or empty when the id is not present.
const char* AfxLoadString(UINT id);                       // nullptr when missing
const DialogTemplateData* AfxFindDialogTemplate(UINT id);
const IconData* AfxFindIcon(UINT id);
// The program's identity; all its texts are empty when no table was handed over.
const IdentityData& AfxGetIdentity();
