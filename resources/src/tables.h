#pragma once
// The parts of the resource table, each defined in its own source file.
#include "platform/resdata.h"

#include <span>

namespace cistern_res {

std::span<const MenuItemData> MainMenu();
std::span<const AccelData> MainAccelerators();
std::span<const StringData> StringTable();
std::span<const DialogTemplateData> DialogTemplates();
std::span<const IconData> Icons();
const VersionData& VersionBlock();

} // namespace cistern_res
