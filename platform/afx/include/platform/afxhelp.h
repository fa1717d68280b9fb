// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Help: the program's own short manual in a window of its own, and What's This texts.
#include "platform/types.h"

class QWidget;

// Shows the program's own short manual.
void AfxShowHelp(QWidget* parent);
// The text that explains a window in What's This mode, by widget; set by whoever builds it.
void AfxSetWhatsThis(QWidget* widget, LPCSTR text);
