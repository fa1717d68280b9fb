// The resource table as the framework reads it: menus and keys lead to commands with prompts,
// dialog templates obey the layout rules the dialogs depend on, the icons load through Qt.
#include "platform/afxwin.h"
#include "platform/resdata.h"
#include "resources/resource.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QSize>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The suite carries the folder's name, so that `ctest -R resources` picks these tests.
class resources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CisternInitResources(); }

    static const ResourceTable& table() { return *AfxGetResourceTable(); }

    static const DialogControlData* control(const DialogTemplateData& dlg, int id)
    {
        for (const DialogControlData& c : dlg.controls)
            if (c.id == id)
                return &c;
        return nullptr;
    }
};

std::string_view promptOf(const char* text)
{
    std::string_view s(text);
    return s.substr(0, s.find('\n'));
}

const char* versionValue(const VersionData& v, std::string_view key)
{
    for (const VersionString& s : v.strings)
        if (key == s.key)
            return s.value;
    return nullptr;
}

TEST_F(resources, TableIsInstalledAndLookupsMissUnknownIds)
{
    ASSERT_EQ(AfxGetResourceTable(), &CisternResources());
    EXPECT_EQ(table().menuId, IDR_MAINFRAME);

    ASSERT_NE(AfxLoadString(ID_INDICATOR_CONNECTION), nullptr);
    EXPECT_STREQ(AfxLoadString(57605), "No connection");
    EXPECT_STREQ(AfxLoadString(AFX_IDS_APP_TITLE), "Sumpwell");
    EXPECT_EQ(AfxLoadString(4242), nullptr);
    EXPECT_EQ(AfxLoadString(ID_FILE_SAVE_AS), nullptr);

    ASSERT_NE(AfxFindDialogTemplate(IDD_ABOUTBOX), nullptr);
    EXPECT_STREQ(AfxFindDialogTemplate(IDD_HOSTCONNECT)->caption, "Make Host Connection");
    EXPECT_EQ(AfxFindDialogTemplate(101), nullptr);
    ASSERT_NE(AfxFindIcon(IDR_CISTERNTYPE), nullptr);
    EXPECT_EQ(AfxFindIcon(IDD_ABOUTBOX), nullptr);

    // Without a table every lookup misses instead of crashing.
    AfxSetResourceTable(nullptr);
    EXPECT_EQ(AfxLoadString(57605), nullptr);
    EXPECT_EQ(AfxFindDialogTemplate(IDD_ABOUTBOX), nullptr);
    EXPECT_EQ(AfxFindIcon(IDR_MAINFRAME), nullptr);
    AfxSetResourceTable(&CisternResources());
}

TEST_F(resources, MenuBarHasThreeBalancedPopups)
{
    std::vector<std::string> popups;
    int depth = 0;
    for (const MenuItemData& row : table().menu) {
        switch (row.kind) {
        case MenuRow::Popup:
            ASSERT_EQ(depth, 0) << "nested popup " << row.text;
            ++depth;
            popups.emplace_back(row.text);
            break;
        case MenuRow::EndPopup:
            ASSERT_EQ(depth, 1);
            --depth;
            break;
        case MenuRow::Item:
            ASSERT_EQ(depth, 1) << "item outside a popup: " << row.text;
            ASSERT_NE(row.text, nullptr);
            EXPECT_NE(row.id, 0u);
            break;
        case MenuRow::Separator:
            ASSERT_EQ(depth, 1);
            break;
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(popups, (std::vector<std::string>{"&Connection", "&View", "&Help"}));

    // Only the two connection items are stored grayed.
    for (const MenuItemData& row : table().menu) {
        if (row.kind != MenuRow::Item)
            continue;
        const bool connection = row.id == ID_CONNECTION_MAKE || row.id == ID_CONNECTION_CLOSE;
        EXPECT_EQ((row.flags & MF_GRAYED) != 0, connection) << row.text;
    }
}

TEST_F(resources, EveryMenuAndKeyCommandHasAPrompt)
{
    std::set<UINT> commands;
    for (const MenuItemData& row : table().menu)
        if (row.kind == MenuRow::Item)
            commands.insert(row.id);
    for (const AccelData& a : table().accelerators)
        commands.insert(a.cmd);
    EXPECT_EQ(commands.size(), 17u);  // 6 from the menu, 12 from keys, F2 in both

    for (UINT cmd : commands) {
        const char* text = AfxLoadString(cmd);
        ASSERT_NE(text, nullptr) << "no string for command " << cmd;
        EXPECT_FALSE(promptOf(text).empty()) << "empty prompt for command " << cmd;
    }

    // The status bar's idle text and the document string's seven fields.
    EXPECT_STREQ(AfxLoadString(AFX_IDS_IDLEMESSAGE), "For Help, press F1");
    const std::string doc = AfxLoadString(IDR_MAINFRAME);
    EXPECT_EQ(std::count(doc.begin(), doc.end(), '\n'), 6);
    EXPECT_EQ(doc.substr(0, doc.find('\n')), AfxLoadString(AFX_IDS_APP_TITLE));
}

TEST_F(resources, AcceleratorsAreUniqueVirtualKeys)
{
    ASSERT_EQ(table().accelerators.size(), 16u);
    std::set<std::pair<int, int>> seen;
    for (const AccelData& a : table().accelerators) {
        EXPECT_EQ(a.fVirt & (FVIRTKEY | FNOINVERT), FVIRTKEY | FNOINVERT) << "key " << a.key;
        // Letters are named by their upper-case code; any other key must be one of the named
        // virtual keys (lower-case letter codes are those of numeric-pad and function keys).
        const bool letter = a.key >= 'A' && a.key <= 'Z';
        const bool named = a.key == VK_BACK || a.key == VK_INSERT || a.key == VK_DELETE ||
                           a.key == VK_F1 || a.key == VK_F2 || a.key == VK_F6;
        EXPECT_TRUE(letter || named) << "key " << a.key;
        const int modifiers = a.fVirt & (FSHIFT | FCONTROL | FALT);
        EXPECT_TRUE(seen.insert({a.key, modifiers}).second)
            << "key " << a.key << " with modifiers " << modifiers << " is bound twice";
    }
    // F2 is the one key that shares its command with a menu item, whose label names it.
    bool f2 = false;
    for (const AccelData& a : table().accelerators)
        f2 = f2 || (a.key == VK_F2 && a.cmd == ID_CONNECTION_MAKE && (a.fVirt & (FSHIFT | FCONTROL | FALT)) == 0);
    EXPECT_TRUE(f2);
}

TEST_F(resources, DialogControlsLieInsideTheirDialogs)
{
    ASSERT_EQ(table().dialogs.size(), 2u);
    for (const DialogTemplateData& dlg : table().dialogs) {
        EXPECT_EQ(dlg.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT),
                  WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
        EXPECT_STREQ(dlg.fontName, "MS Sans Serif");
        EXPECT_EQ(dlg.pointSize, 8);
        for (const DialogControlData& c : dlg.controls) {
            EXPECT_GE(c.x, 0) << dlg.caption << ": " << c.text;
            EXPECT_GE(c.y, 0) << dlg.caption << ": " << c.text;
            EXPECT_LE(c.x + c.cx, dlg.cx) << dlg.caption << ": " << c.text;
            EXPECT_LE(c.y + c.cy, dlg.cy) << dlg.caption << ": " << c.text;
        }
    }

    // The About box's picture is an icon the table holds.
    const DialogTemplateData* about = AfxFindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(about, nullptr);
    const DialogControlData& picture = about->controls.front();
    ASSERT_EQ(picture.style & 0x1F, SS_ICON);
    unsigned iconId = 0;
    ASSERT_EQ(std::sscanf(picture.text, "#%u", &iconId), 1);
    EXPECT_NE(AfxFindIcon(iconId), nullptr);
}

TEST_F(resources, ConnectionDialogGroupsAndTabOrder)
{
    const DialogTemplateData* dlg = AfxFindDialogTemplate(IDD_HOSTCONNECT);
    ASSERT_NE(dlg, nullptr);
    const auto controls = dlg->controls;

    // The radio group opens at IDC_UDP and closes at the next WS_GROUP control, the group box;
    // every control in between is a radio button.
    size_t udp = 0;
    while (udp < controls.size() && controls[udp].id != IDC_UDP)
        ++udp;
    ASSERT_LT(udp, controls.size());
    EXPECT_TRUE(controls[udp].style & WS_GROUP);
    size_t next = udp + 1;
    while (next < controls.size() && !(controls[next].style & WS_GROUP)) {
        EXPECT_EQ(controls[next].style & 0x0F, BS_AUTORADIOBUTTON) << controls[next].text;
        ++next;
    }
    ASSERT_LT(next, controls.size());
    EXPECT_STREQ(controls[next].text, "Protocol");
    EXPECT_EQ(controls[next].style & 0x0F, BS_GROUPBOX);
    EXPECT_EQ(next - udp, 2u);  // UDP, TCP
    EXPECT_EQ(controls[udp + 1].id, IDC_TCP);

    // The port field takes the focus when the dialog opens.
    const DialogControlData* first = nullptr;
    for (const DialogControlData& c : controls)
        if ((c.style & WS_TABSTOP) && !(c.style & WS_DISABLED)) {
            first = &c;
            break;
        }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, IDC_PORT);

    // The host field only displays: disabled, never reached by Tab.
    const DialogControlData* host = control(*dlg, IDC_HOST);
    ASSERT_NE(host, nullptr);
    EXPECT_TRUE(host->style & WS_DISABLED);
    EXPECT_FALSE(host->style & WS_TABSTOP);

    // Every id the dialog's code binds is present exactly once.
    for (int id : {IDC_PORT, IDC_UDP, IDC_TCP, IDC_CLEARWINDOW, IDC_HOST, IDOK, IDCANCEL}) {
        int n = 0;
        for (const DialogControlData& c : controls)
            n += c.id == id;
        EXPECT_EQ(n, 1) << "control " << id;
    }
}

TEST_F(resources, IconsLoadWithTwoSixteenColourMaskedImages)
{
    ASSERT_EQ(table().icons.size(), 2u);
    for (const IconData& icon : table().icons) {
        SCOPED_TRACE(icon.path);
        QImageReader reader(QString::fromUtf8(icon.path));
        ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
        ASSERT_EQ(reader.imageCount(), 2);

        QSet<int> sizes;
        for (int i = 0; i < reader.imageCount(); ++i) {
            ASSERT_TRUE(reader.jumpToImage(i));
            const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
            ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
            ASSERT_EQ(image.width(), image.height());
            sizes.insert(image.width());

            int transparent = 0, opaque = 0, partial = 0;
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb p = image.pixel(x, y);
                    if (qAlpha(p) == 0) {
                        ++transparent;
                    } else if (qAlpha(p) == 255) {
                        ++opaque;
                        colours.insert(p);
                    } else {
                        ++partial;
                    }
                }
            EXPECT_GT(transparent, 0) << image.width() << " px";
            EXPECT_GT(opaque, image.width() * image.height() / 2) << image.width() << " px";
            EXPECT_EQ(partial, 0) << "the mask is one bit";
            EXPECT_LE(colours.size(), 16) << image.width() << " px";
            EXPECT_GE(colours.size(), 4) << image.width() << " px: a picture, not a blot";
        }
        EXPECT_EQ(sizes, (QSet<int>{32, 16}));

        const QIcon qicon(QString::fromUtf8(icon.path));
        const QList<QSize> available = qicon.availableSizes();
        EXPECT_TRUE(available.contains(QSize(32, 32)));
        EXPECT_TRUE(available.contains(QSize(16, 16)));
    }
}

TEST_F(resources, VersionBlockAgreesWithItself)
{
    const VersionData* v = table().version;
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(versionValue(*v, "ProductName"), "Sumpwell");
    ASSERT_NE(versionValue(*v, "FileVersion"), nullptr);
    EXPECT_EQ(versionValue(*v, "NoSuchKey"), nullptr);

    // The version strings spell out the numbers of the fixed part.
    auto numbers = [](const char* text) {
        unsigned a = 99, b = 99, c = 99, d = 99;
        EXPECT_EQ(std::sscanf(text, "%u, %u, %u, %u", &a, &b, &c, &d), 4) << text;
        return std::pair<DWORD, DWORD>{(a << 16) | b, (c << 16) | d};
    };
    EXPECT_EQ(numbers(versionValue(*v, "FileVersion")),
              (std::pair<DWORD, DWORD>{v->fileVersionMS, v->fileVersionLS}));
    EXPECT_EQ(numbers(versionValue(*v, "ProductVersion")),
              (std::pair<DWORD, DWORD>{v->productVersionMS, v->productVersionLS}));
    EXPECT_EQ(v->fileFlags & ~v->fileFlagsMask, 0u);

    // The string block's name is the translation's language and code page.
    char block[9];
    std::snprintf(block, sizeof block, "%04x%04x", v->translationLanguage, v->translationCodePage);
    EXPECT_STREQ(v->stringBlock, block);

    // The About box shows the same copyright line as the version block.
    const DialogTemplateData* about = AfxFindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(about, nullptr);
    bool shown = false;
    for (const DialogControlData& c : about->controls)
        shown = shown || std::strcmp(c.text, versionValue(*v, "LegalCopyright")) == 0;
    EXPECT_TRUE(shown);
}

} // namespace
