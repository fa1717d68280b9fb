// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window framework as the program calls it, all of it: each part has its own header, which
// follows the source file that implements it.
#include "platform/afxapp.h"       // application object, message loop, profile, message boxes
#include "platform/afxcmdline.h"   // command line
#include "platform/afxcore.h"      // run-time classes, message maps, command routing, metrics
#include "platform/afxdoc.h"       // documents and the document template
#include "platform/afxframe.h"     // frame window
#include "platform/afxhelp.h"      // help and What's This
#include "platform/afxres.h"       // standard command and string ids
#include "platform/afxstatusbar.h" // status bar
#include "platform/afxview.h"      // views and the edit view
#include "platform/afxwnd.h"       // windows, fonts, device contexts
