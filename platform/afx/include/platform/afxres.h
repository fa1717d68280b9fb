// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework's standard command and string ids, as the program's resources and message maps
// name them, and the window messages the maps can name.
#include "platform/types.h"

// ---- Commands -------------------------------------------------------------------------------------
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_FILE_NEW = 57600;
inline constexpr UINT ID_FILE_OPEN = 57601;
inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_EDIT_CUT = 57635;
inline constexpr UINT ID_EDIT_PASTE = 57637;
inline constexpr UINT ID_EDIT_UNDO = 57643;
inline constexpr UINT ID_APP_ABOUT = 57664;
inline constexpr UINT ID_APP_EXIT = 57665;
inline constexpr UINT ID_HELP_FINDER = 57667;
inline constexpr UINT ID_CONTEXT_HELP = 57669;
inline constexpr UINT ID_HELP = 57670;
inline constexpr UINT ID_DEFAULT_HELP = 57671;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;

// ---- Strings and windows --------------------------------------------------------------------------
inline constexpr UINT AFX_IDS_APP_TITLE = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr UINT AFX_IDS_HELPMODEMESSAGE = 57346;
inline constexpr UINT AFX_IDW_STATUS_BAR = 59393;

// ---- Window messages ------------------------------------------------------------------------------
inline constexpr UINT WM_CREATE = 0x0001;
