// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An icon group as the windows and dialogs show it.
#include "platform/resdata.h"

#include <QIcon>

// The group's .ico images (the classic small sizes), joined by any larger renderings of the same
// picture kept beside it as NAME-SIZE.png, so that a high-DPI screen or a large task switcher
// scales a big image down instead of blowing a 32 px one up.
QIcon AfxLoadIconGroup(const IconData& icon);
