// SPDX-License-Identifier: GPL-3.0-or-later
// Version block (VS_VERSION_INFO): the fixed file information and one US English string block.
// The numbers are CMake's project(VERSION), handed in as CISTERN_VERSION_MAJOR and the like.
#include "tables.h"

#include "resources/resource.h"

namespace cistern_res {
namespace {

constexpr const char* kVersionText =
    CISTERN_NUMBER_TEXT(CISTERN_VERSION_MAJOR) ", " CISTERN_NUMBER_TEXT(CISTERN_VERSION_MINOR) ", "
    CISTERN_NUMBER_TEXT(CISTERN_VERSION_PATCH) ", " CISTERN_NUMBER_TEXT(CISTERN_VERSION_TWEAK);
constexpr DWORD kVersionMS = (CISTERN_VERSION_MAJOR << 16) | CISTERN_VERSION_MINOR;
constexpr DWORD kVersionLS = (CISTERN_VERSION_PATCH << 16) | CISTERN_VERSION_TWEAK;

constexpr DWORD kFlagPrivateBuild = 0x08;
constexpr DWORD kFlagSpecialBuild = 0x20;
constexpr DWORD kOsWindows32 = 0x4;
constexpr DWORD kTypeApp = 0x1;

constexpr VersionString kStrings[] = {
    {"Comments", " "},
    {"CompanyName", "Cistern"},
    {"FileDescription", "Sumpwell"},
    {"FileVersion", kVersionText},
    {"InternalName", "Sumpwell"},
    {"LegalCopyright", "\u00A9 2026 The Cistern developers"},
    {"LegalTrademarks", " "},
    {"OriginalFilename", "Sumpwell"},
    {"PrivateBuild", " "},
    {"ProductName", "Sumpwell"},
    {"ProductVersion", kVersionText},
    {"SpecialBuild", " "},
};

constexpr VersionData kVersion = {
    kVersionMS, kVersionLS,            // file version
    kVersionMS, kVersionLS,            // product version
    0x3F,                              // flags mask
    kFlagPrivateBuild | kFlagSpecialBuild,
    kOsWindows32,
    kTypeApp,
    0,                                 // subtype
    0, 0,                              // file date
    "040904b0",                        // US English, Unicode
    kStrings,
    0x0409, 1200,                      // translation
};

} // namespace

const VersionData& VersionBlock() { return kVersion; }

} // namespace cistern_res
