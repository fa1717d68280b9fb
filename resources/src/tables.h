// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parts of the resource table, each defined in its own source file.
#include "platform/resdata.h"

#include <span>

// A version number (CISTERN_VERSION_MAJOR and the like, from CMake's project(VERSION)) as text.
#define CISTERN_TEXT(x) #x
#define CISTERN_NUMBER_TEXT(x) CISTERN_TEXT(x)

namespace cistern_res {

std::span<const MenuItemData> MainMenu();
std::span<const AccelData> MainAccelerators();
std::span<const StringData> StringTable();
std::span<const DialogTemplateData> DialogTemplates();
std::span<const IconData> Icons();
const VersionData& VersionBlock();
const IdentityData& Identity();

} // namespace cistern_res
