// The archive library over the shell layer: icons of entry names in the
// system image list, a list view bound to that list (its real widget
// painting them), and the shell's file operation with its result.
#include "archive/zadshell.h"
#include "shell/shellapi.h"
#include "shell/shlfileop.h"
#include "test_support/temp_dir.h"
#include "vcl/customlistview.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>

namespace {

void NeedApplication()
{
    if (!Application)
        new TApplication();
}

std::string SmallIconName(int index) { return ShellImageListIconName(ShellSystemImageList(true), index); }

}  // namespace

TEST(ArchiveShell, IconsOfEntryNames)
{
    NeedApplication();
    // The name part decides; a trailing '/' names a folder, whose open icon
    // differs; the system lookup takes every name as a file.
    const struct {
        std::string entry, closed, open, system;
    } cases[] = {
        {"docs/", "folder", "folder-open", SmallIconName(zadSystemImageIndex("docs"))},
        {"deep/er/docs/", "folder", "folder-open", SmallIconName(zadSystemImageIndex("docs"))},
        {"notes.txt", SmallIconName(zadSystemImageIndex("notes.txt")), SmallIconName(zadSystemImageIndex("notes.txt")),
         SmallIconName(zadSystemImageIndex("other/notes.txt"))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SmallIconName(zadClosedImageIndex(c.entry)), c.closed) << c.entry;
        EXPECT_EQ(SmallIconName(zadOpenImageIndex(c.entry)), c.open) << c.entry;
        EXPECT_EQ(SmallIconName(zadSystemImageIndex(c.entry)), c.system) << c.entry;
        EXPECT_EQ(GetImageIndex(c.entry), zadSystemImageIndex(c.entry)) << c.entry;
    }
    // Different types show different icons, and none of them is a folder's.
    EXPECT_NE(zadSystemImageIndex("a/b/photo.png"), zadSystemImageIndex("a/b/notes.txt"));
    EXPECT_NE(SmallIconName(zadSystemImageIndex("docs/")), "folder");
    EXPECT_EQ(zadClosedImageIndex("a/b/photo.png"), zadClosedImageIndex("photo.png"));
}

TEST(ArchiveShell, AListViewShowsTheSystemIconsUntilItLetsGoOfThem)
{
    NeedApplication();
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 120);
    auto* lv = new TCustomListView(&form);
    lv->SetParent(&form);
    lv->SetBounds(0, 0, 300, 120);
    lv->AddColumn("Name", 250);
    lv->SetViewStyle(TViewStyle::vsReport);
    TListItem* item = lv->Items().Add();
    item->SetCaption("photo.png");
    item->SetImageIndex(zadClosedImageIndex("photo.png"));
    auto paint = [&] {
        TBitmap b;
        lv->PaintTo(b);
        return b.Image().copy();
    };
    const QImage plain = paint();
    const int before = ImageList_GetImageCount(ShellSystemImageList(true));

    _InitializeImageList(&form, lv);
    EXPECT_EQ(lv->SmallImages, ShellSystemImageList(true));
    EXPECT_EQ(lv->LargeImages, ShellSystemImageList(false));
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(static_cast<HIMAGELIST>(lv->SmallImages), &cx, &cy));
    EXPECT_EQ(cx, 16);
    // The row now makes room for its icon.
    EXPECT_NE(paint(), plain);

    _DestroyImageList(lv);
    EXPECT_EQ(lv->SmallImages, nullptr);
    EXPECT_EQ(lv->LargeImages, nullptr);
    EXPECT_EQ(paint(), plain);
    // The shell's lists stay as they were.
    EXPECT_GE(ImageList_GetImageCount(ShellSystemImageList(true)), before);
}

TEST(ArchiveShell, FileOperationResultIsTheShells)
{
    NeedApplication();
    TempDir dir;
    std::filesystem::create_directory(dir.Path("into"));
    std::ofstream(dir.Path("a.txt")) << "alpha";
    const struct {
        std::string source;
        bool succeeds;
    } cases[] = {{dir.Path("a.txt"), true}, {dir.Path("missing.txt"), false}};
    for (const auto& c : cases) {
        const std::string from = c.source + std::string(1, '\0');
        const std::string to = dir.Path("into");
        SHFILEOPSTRUCTA op{};
        op.wFunc = FO_COPY;
        op.pFrom = from.c_str();
        op.pTo = to.c_str();
        op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
        const int result = _ShFileOperation(op);
        EXPECT_EQ(result == 0, c.succeeds) << c.source << " " << result;
        EXPECT_EQ(std::filesystem::exists(dir.Path("into/" + std::filesystem::path(c.source).filename().string())),
                  c.succeeds);
    }
    std::ifstream copied(dir.Path("into/a.txt"));
    std::string text;
    copied >> text;
    EXPECT_EQ(text, "alpha");
}
