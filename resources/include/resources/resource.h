// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Resource and command ids of Sumpwell, and the table that carries its menus, accelerators,
// strings, dialog templates, icons, version block and identity. The framework's standard ids
// (ID_FILE_NEW, ID_APP_EXIT, AFX_IDS_APP_TITLE, ...) come from platform/afxres.h.
#include "platform/resdata.h"
#include "platform/types.h"

// Main frame: menu bar, accelerators, document string and main icon all share this id.
inline constexpr UINT IDR_MAINFRAME = 128;
// Icon of the document type.
inline constexpr UINT IDR_CISTERNTYPE = 129;

// Dialog templates.
inline constexpr UINT IDD_ABOUTBOX = 100;
inline constexpr UINT IDD_HOSTCONNECT = 102;

// Controls of the connection dialog.
inline constexpr int IDC_HOST = 1000;
inline constexpr int IDC_CLEARWINDOW = 1003;
inline constexpr int IDC_PORT = 1004;
inline constexpr int IDC_UDP = 1017;
inline constexpr int IDC_TCP = 1020;

// The program's own commands.
inline constexpr UINT ID_CONNECTION_MAKE = 32771;
inline constexpr UINT ID_CONNECTION_CLOSE = 32772;
inline constexpr UINT ID_VIEW_CLEARLOG = 32773;

// Status-bar pane showing the connection state. It sits in the framework's block of standard
// ids, on the number the framework gives its page-setup command, which Sumpwell does not offer.
inline constexpr UINT ID_INDICATOR_CONNECTION = 57605;

// Version block.
inline constexpr UINT VS_VERSION_INFO = 1;

// All of the program's resources.
const ResourceTable& CisternResources();

// Registers the embedded icon files with Qt's resource system and hands the table to the
// framework. Call once, before the application object starts.
void CisternInitResources();
