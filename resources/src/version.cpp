// Version block (VS_VERSION_INFO): the fixed file information and one US English string block.
#include "tables.h"

#include "resources/resource.h"

namespace cistern_res {
namespace {

constexpr DWORD kFlagPrivateBuild = 0x08;
constexpr DWORD kFlagSpecialBuild = 0x20;
constexpr DWORD kOsWindows32 = 0x4;
constexpr DWORD kTypeApp = 0x1;

constexpr VersionString kStrings[] = {
    {"Comments", " "},
    {"CompanyName", "Cistern"},
    {"FileDescription", "Sumpwell"},
    {"FileVersion", "1, 0, 0, 0"},
    {"InternalName", "Sumpwell"},
    {"LegalCopyright", "Copyright (C) 2026 Cistern"},
    {"LegalTrademarks", " "},
    {"OriginalFilename", "Sumpwell"},
    {"PrivateBuild", " "},
    {"ProductName", "Sumpwell"},
    {"ProductVersion", "1, 0, 0, 0"},
    {"SpecialBuild", " "},
};

constexpr VersionData kVersion = {
    0x00010000, 0x00000000,            // file version 1.0.0.0
    0x00010000, 0x00000000,            // product version 1.0.0.0
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
