// The resource table as the framework reads it: rules a hand edit of the table can break without
// any compiler noticing. What the menus, keys and dialogs do is tested where they are used.
#include "platform/afxwin.h"
#include "resources/resource.h"

#include <QImage>
#include <QImageReader>
#include <QSet>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

const ResourceTable& Table()
{
    CisternInitResources();
    return *AfxGetResourceTable();
}

} // namespace

TEST(ResourceTable, MenusAreBalancedAndEveryCommandHasAPromptAndOneKey)
{
    int depth = 0;
    std::set<UINT> commands;
    for (const MenuItemData& row : Table().menu) {
        depth += row.kind == MenuRow::Popup ? 1 : row.kind == MenuRow::EndPopup ? -1 : 0;
        ASSERT_EQ(depth, row.kind == MenuRow::EndPopup ? 0 : 1) << "popups nest or items stray at row " << (&row - Table().menu.data());
        if (row.kind == MenuRow::Item)
            commands.insert(row.id);
    }
    EXPECT_EQ(depth, 0);
    std::set<std::pair<int, int>> keys;
    for (const AccelData& a : Table().accelerators) {
        commands.insert(a.cmd);
        EXPECT_EQ(a.fVirt & FVIRTKEY, FVIRTKEY) << "key " << a.key;
        // Letters by their upper-case code; other codes are virtual keys ('a'..'z' are function keys).
        EXPECT_TRUE((a.key >= 'A' && a.key <= 'Z') || a.key == VK_BACK || a.key == VK_INSERT || a.key == VK_DELETE ||
                    a.key == VK_F1 || a.key == VK_F2 || a.key == VK_F6) << "key " << a.key;
        EXPECT_TRUE(keys.insert({a.key, a.fVirt & (FSHIFT | FCONTROL | FALT)}).second) << "key " << a.key << " bound twice";
    }
    // The status bar shows each command's prompt: the text before its first line feed.
    for (const UINT cmd : commands) {
        const char* text = AfxLoadString(cmd);
        EXPECT_TRUE(text != nullptr && *text != '\n' && *text != '\0') << "command " << cmd << " has no prompt";
    }
}

TEST(ResourceTable, DialogControlsLieInsideTheirDialogsAndTheirIdsAreUnique)
{
    for (const DialogTemplateData& dlg : Table().dialogs) {
        std::set<int> ids;
        for (const DialogControlData& c : dlg.controls) {
            EXPECT_TRUE(c.x >= 0 && c.y >= 0 && c.x + c.cx <= dlg.cx && c.y + c.cy <= dlg.cy) << dlg.caption << ": " << c.text;
            EXPECT_TRUE(c.id == IDC_STATIC || ids.insert(c.id).second) << dlg.caption << ": id " << c.id;
            unsigned icon = 0;
            if (c.cls == ControlClass::Static && (c.style & 0x1F) == SS_ICON)
                EXPECT_TRUE(std::sscanf(c.text, "#%u", &icon) == 1 && AfxFindIcon(icon) != nullptr) << c.text;
        }
    }
}

TEST(ResourceTable, IconsHoldA32AndA16PixelImageOfSixteenColoursAndAOneBitMask)
{
    for (const IconData& icon : Table().icons) {
        QImageReader reader(QString::fromUtf8(icon.path));
        ASSERT_EQ(reader.imageCount(), 2) << icon.path << ": " << reader.errorString().toStdString();
        QSet<int> sizes;
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(reader.jumpToImage(i));
            const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
            sizes.insert(image.width() * 1000 + image.height());
            QSet<QRgb> colours;
            int transparent = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb p = image.pixel(x, y);
                    EXPECT_TRUE(qAlpha(p) == 0 || qAlpha(p) == 255) << icon.path << ": the mask is one bit";
                    if (qAlpha(p) == 0)
                        ++transparent;
                    else
                        colours.insert(p);
                }
            EXPECT_GT(transparent, 0) << icon.path;
            EXPECT_GT(image.width() * image.height() - transparent, image.width() * image.height() / 2) << icon.path;
            EXPECT_TRUE(colours.size() >= 4 && colours.size() <= 16) << icon.path << ": " << colours.size() << " colours";
        }
        EXPECT_EQ(sizes, (QSet<int>{32032, 16016})) << icon.path;
    }
}

TEST(ResourceTable, TheVersionStringsSpellTheVersionNumbers)
{
    const VersionData& v = *Table().version;
    for (const VersionString& s : v.strings) {
        const std::string key = s.key;
        if (key != "FileVersion" && key != "ProductVersion")
            continue;
        unsigned a = 0, b = 0, c = 0, d = 0;
        ASSERT_EQ(std::sscanf(s.value, "%u, %u, %u, %u", &a, &b, &c, &d), 4) << s.value;
        const bool file = key == "FileVersion";
        EXPECT_EQ((a << 16) | b, file ? v.fileVersionMS : v.productVersionMS) << s.value;
        EXPECT_EQ((c << 16) | d, file ? v.fileVersionLS : v.productVersionLS) << s.value;
    }
    char block[9];
    std::snprintf(block, sizeof block, "%04x%04x", v.translationLanguage, v.translationCodePage);
    EXPECT_STREQ(v.stringBlock, block);
}
