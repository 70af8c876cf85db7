// The image pane: loading a picture by kind, fitting and zooming it,
// rotating and mirroring it, the pages of a TIFF file, saving the picture
// and setting it as the desktop wallpaper.
#include "mainform.h"
#include "panelparts.h"

#include "tools/commonfunc.h"
#include "tools/imagefunc.h"

#include "imaging/vximage.h"
#include "vcl/jpeg.h"
#include "vcl/metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr double ZoomTable[] = {0.02, 0.05, 0.07, 0.1, 0.15, 0.2, 0.3, 0.5, 0.7, 1, 1.2, 1.5, 2, 3, 5, 7, 10,
    20, 30, 50};
constexpr int kZoomSteps = static_cast<int>(std::size(ZoomTable));

// Panel 3's text for a bitmap's pixel-format code.
constexpr const char* kPixelFormatLabels[] = {"Device", "1bit", "4bit", "8bit", "15bit", "16bit", "24bit",
    "32bit", "Custom"};

constexpr int kTiffFormat = 6;

// The percentage panel 5 shows: the 32-bit factor times 100 in double
// precision, truncated, so the 0.7 step reads 69 and the 0.02 step 1.
std::string PercentText(float factor) { return IntToStr(static_cast<long long>(static_cast<double>(factor) * 100)) + "%"; }

int Scaled(int size, float factor) { return static_cast<int>(static_cast<double>(size) * factor); }

// A new bitmap holding a graphic drawn at (0, 0) in its own size.
std::unique_ptr<TBitmap> BitmapOf(TGraphic& graphic)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(graphic.Width(), graphic.Height());
    bitmap->Canvas().StretchDraw(Rect(0, 0, graphic.Width(), graphic.Height()), &graphic);
    return bitmap;
}

// A new bitmap holding an image object drawn at (0, 0) in its own size.
std::unique_ptr<TBitmap> BitmapOf(VxImage& image)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(static_cast<int>(image.GetWidth()), static_cast<int>(image.GetHeight()));
    image.Draw(bitmap->Canvas().Handle(), 0, 0, -1, -1, nullptr, false);
    return bitmap;
}

// Loads a file through the image classes; a failure raises with their
// reason, so the preview drops the view instead of showing nothing.
void LoadVxImage(VxImage& image, const std::string& path, int formatId)
{
    if (!image.Load(path.c_str(), static_cast<std::uint32_t>(formatId)))
        throw EInvalidGraphic(std::string("Cannot load the image: ") + image.GetLastError());
}

}  // namespace

void TForm1::CreateImagePanel()
{
    PanelImg = PreviewPanel(this, pcontent, "PanelImg");
    tbimg = PanelToolBar(this, PanelImg, "tbimg");
    PopupMenuImg = new TPopupMenu(this);
    PopupMenuImg->SetName("PopupMenuImg");
    ActualSize1 = PopupItem(this, PopupMenuImg, "Actual Size", [this](TObject* s) { ActualSize1Click(s); });
    AutoBestfit1 = PopupItem(this, PopupMenuImg, "Best fit", [this](TObject* s) { AutoBestfit1Click(s); });
    for (TMenuItem* item : {ActualSize1, AutoBestfit1}) {
        item->SetRadioItem(true);
        item->GroupIndex = 1;
    }
    AutoBestfit1->SetChecked(true);
    PopupItem(this, PopupMenuImg, "-");
    SetWallPaper1 = PopupItem(this, PopupMenuImg, "Set WallPaper");
    Centered1 = NewItem(this, "Centered", [this](TObject* s) { Centered1Click(s); });
    Tiled1 = NewItem(this, "Tiled", [this](TObject* s) { Tiled1Click(s); });
    Streched1 = NewItem(this, "Streched", [this](TObject* s) { Streched1Click(s); });
    for (TMenuItem* item : {Centered1, Tiled1, Streched1})
        SetWallPaper1->Add(item);
    PopupItem(this, PopupMenuImg, "-");
    SaveasaJPEG1 = PopupItem(this, PopupMenuImg, "Save as a JPEG...", [this](TObject* s) { SaveasaJPEG1Click(s); });
    SaveasaBMP1 = PopupItem(this, PopupMenuImg, "Save as a BMP...", [this](TObject* s) { SaveasaBMP1Click(s); });

    TToolButton* menuButton = PanelButton(this, tbimg, "Menu", "Menu", {}, TToolButtonStyle::tbsDropDown);
    menuButton->DropdownMenu = PopupMenuImg;
    menuButton->OnClick = [this, menuButton](TObject*) { PopupBelow(PopupMenuImg, menuButton); };
    PanelButton(this, tbimg, "", "", {}, TToolButtonStyle::tbsSeparator);
    leftrightmirror = PanelButton(this, tbimg, "Mirror", "left-right mirror",
        [this](TObject* s) { leftrightmirrorClick(s); });
    updownmirror = PanelButton(this, tbimg, "Flip", "up-down mirror", [this](TObject* s) { updownmirrorClick(s); });
    rotateleft = PanelButton(this, tbimg, "Left", "rotate 90 degrees to the left",
        [this](TObject* s) { rotateleftClick(s); });
    rorate = PanelButton(this, tbimg, "Right", "Image Rotate to Right", [this](TObject* s) { rorateClick(s); });
    PanelButton(this, tbimg, "", "", {}, TToolButtonStyle::tbsSeparator);
    zoomin = PanelButton(this, tbimg, "Zoom +", "Zoom in", [this](TObject* s) { zoominClick(s); });
    zoomout = PanelButton(this, tbimg, "Zoom -", "Zoom out", [this](TObject* s) { zoomoutClick(s); });
    PanelButton(this, tbimg, "", "", {}, TToolButtonStyle::tbsSeparator);
    ToolButton39 = PanelButton(this, tbimg, "Save pages", "Save pages to  files",
        [this](TObject* s) { ToolButton39Click(s); });
    ToolButton35 = PanelButton(this, tbimg, "Next", "Next page", [this](TObject* s) { ToolButton35Click(s); });
    ToolButton36 = PanelButton(this, tbimg, "Prev", "Prev page", [this](TObject* s) { ToolButton36Click(s); });
    EditPage = new TEdit(this);
    EditPage->SetName("EditPage");
    EditPage->SetReadOnly(true);
    EditPage->SetWidth(70);
    EditPage->SetParent(tbimg);
    for (TControl* c : std::initializer_list<TControl*> {ToolButton39, ToolButton35, ToolButton36, EditPage})
        c->SetVisible(false);

    sboximg = new TScrollBox(this);
    sboximg->SetName("sboximg");
    sboximg->SetAlign(alClient);
    sboximg->SetParent(PanelImg);
    img = new TImage(this);
    img->SetName("img");
    img->SetAutoSize(true);
    img->SetCenter(true);
    img->SetProportional(true);
    img->SetAlign(alClient);
    img->SetParent(sboximg);
    img->PopupMenu = PopupMenuImg;
    img->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) { imgMouseDown(s, b, sh, x, y); };
    img->OnMouseMove = [this](TObject* s, TShiftState sh, int x, int y) { imgMouseMove(s, sh, x, y); };
}

void TForm1::LoadImage(int kind, int page, int formatId)
{
    const bool tiff = kind == 8;
    for (TControl* c : std::initializer_list<TControl*> {EditPage, ToolButton35, ToolButton36, ToolButton39})
        c->SetVisible(tiff);
    ZoomIndex = -1;
    img->SetCursor(TCursor::crDefault);
    int w = 0, h = 0;
    img->SetStretch(false);
    img->SetAutoSize(true);
    std::string label;
    ImageKind = kind;
    TPicture& picture = img->Picture();
    bool damaged = false;  // shown as far as the file could be read

    switch (kind) {
    case 1:
    case 3:
        // The picture picks the graphic class by the file's extension.
        picture.LoadFromFile(CurrentFile);
        w = picture.Width();
        h = picture.Height();
        damaged = picture.Graphic() && picture.Graphic()->Damaged();
        if (kind == 3) {
            PixelFormatCode = static_cast<std::uint8_t>(picture.Bitmap()->PixelFormat());
            label = kPixelFormatLabels[PixelFormatCode];
        }
        break;
    case 2: {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(CurrentFile);
        w = jpeg.Width();
        h = jpeg.Height();
        damaged = jpeg.Damaged();
        picture.SetGraphic(BitmapOf(jpeg));
        PixelFormatCode = static_cast<std::uint8_t>(picture.Bitmap()->PixelFormat());
        label = PixelFormatCode == 0 ? "24bit" : PixelFormatCode == 1 ? "8bit" : "";
        break;
    }
    case 5:
    case 6: {
        std::unique_ptr<TGraphic> graphic;
        if (kind == 5)
            graphic = std::make_unique<TIcon>();
        else
            graphic = std::make_unique<TMetafile>();
        graphic->LoadFromFile(CurrentFile);
        w = graphic->Width();
        h = graphic->Height();
        damaged = graphic->Damaged();
        picture.SetGraphic(BitmapOf(*graphic));
        break;
    }
    case 8: {
        VxImage all(0);
        // Only the page count is taken from this load.
        all.Load(CurrentFile.c_str(), kTiffFormat);
        TiffPageCount = all.GetFrameCount();
        VxImage shown(0);
        TiffPage = page;
        shown.SetFrame(page);
        LoadVxImage(shown, CurrentFile, kTiffFormat);
        damaged = shown.IsDamaged();
        w = static_cast<int>(shown.GetWidth());
        h = static_cast<int>(shown.GetHeight());
        picture.SetGraphic(BitmapOf(shown));
        EditPage->SetText(IntToStr(page + 1) + " / " + IntToStr(TiffPageCount));
        break;
    }
    case 9: {
        VxImage image(0);
        LoadVxImage(image, CurrentFile, formatId);
        damaged = image.IsDamaged();
        w = static_cast<int>(image.GetWidth());
        h = static_cast<int>(image.GetHeight());
        picture.SetGraphic(BitmapOf(image));
        break;
    }
    case 4: {
        TPngDibRecord record;
        record.Path = CurrentFile;
        if (LoadPngDib(record) == 0) {
            try {
                picture.Bitmap()->LoadFromDib(record.Block, static_cast<std::size_t>(record.BlockSize));
                w = picture.Width();
                h = picture.Height();
            } catch (const Exception&) {
            }
            FreePngDib(record);
        }
        break;
    }
    default: break;
    }
    ImageWidth = w;
    ImageHeight = h;

    if (AutoBestfit1->Checked()) {
        img->SetAlign(alClient);
        ZoomFactor = 1.0f;
        if (w != 0 && h != 0) {
            const float rx = static_cast<float>(sboximg->Width()) / static_cast<float>(w);
            const float ry = static_cast<float>(sboximg->Height()) / static_cast<float>(h);
            ZoomFactor = rx >= 1 && ry >= 1 ? 1.0f : std::min(rx, ry);
        }
    } else {
        ZoomFactor = 1.0f;
        img->SetAlign(alNone);
        const int left = (sboximg->Width() - w) / 2, top = (sboximg->Height() - h) / 2;
        img->SetBounds(left, top, w, h);
        if (left < 0 || top < 0)
            img->SetCursor(TCursor::crHandPoint);
    }
    PanelImg->BringToFront();

    const bool editable = kind != 1;
    for (TControl* c : std::initializer_list<TControl*> {leftrightmirror, updownmirror, rotateleft, rorate})
        c->SetEnabled(editable);
    for (TMenuItem* item : {SetWallPaper1, SaveasaJPEG1, SaveasaBMP1})
        item->SetEnabled(editable);

    ShowFileInfo(CurrentFile);
    SetStatusPanel(4, IntToStr(w) + "x" + IntToStr(h));
    SetStatusPanel(5, PercentText(ZoomFactor));
    StatusBar1->SetPanelText(3, label);
    // A picture read only in part is shown, and the status bar says why
    // it looks so beside the file's name, keeping its size and zoom.
    if (damaged)
        SetStatusPanel(0, CurrentFile + ": " + VXIMAGE_DAMAGED_TEXT);
}

void TForm1::FindZoomIndex(int direction, float factor)
{
    if (direction == 1) {
        for (int i = 0; i < kZoomSteps; ++i)
            if (factor < ZoomTable[i]) {
                ZoomIndex = i;
                return;
            }
    } else {
        for (int i = kZoomSteps - 1; i >= 0; --i)
            if (ZoomTable[i] < factor) {
                ZoomIndex = i;
                return;
            }
    }
}

void TForm1::LayoutZoomedImage()
{
    // Once zoomed the pane scrolls by dragging: the box's own scroll bars
    // stay off for the rest of the session.
    sboximg->SetAutoScroll(false);
    img->SetStretch(true);
    img->SetAutoSize(false);
    img->SetAlign(alNone);
    const int w = Scaled(ImageWidth, ZoomFactor), h = Scaled(ImageHeight, ZoomFactor);
    const int left = (sboximg->Width() - w) / 2, top = (sboximg->Height() - h) / 2;
    img->SetBounds(left, top, w, h);
    img->SetCursor(left < 0 || top < 0 ? TCursor::crHandPoint : TCursor::crDefault);
}

void TForm1::ZoomImage(int direction)
{
    if (ZoomIndex == -1)
        FindZoomIndex(direction, ZoomFactor);
    else if (direction == 0 && ZoomIndex > 0)
        --ZoomIndex;
    else if (direction == 1 && ZoomIndex < kZoomSteps - 1)
        ++ZoomIndex;
    if (ZoomIndex == -1)
        return;
    ZoomFactor = static_cast<float>(ZoomTable[ZoomIndex]);
    LayoutZoomedImage();
    SetStatusPanel(5, PercentText(ZoomFactor));
}

void TForm1::zoominClick(TObject*) { ZoomImage(1); }
void TForm1::zoomoutClick(TObject*) { ZoomImage(0); }

void TForm1::RotateImage(int direction)
{
    if (ImageKind == 2 && PixelFormatCode == 0)
        RotateImageFast(1, direction);
    else if (ImageKind == 2 && PixelFormatCode == 1)
        RotateImageFast(3, direction);
    else if (ImageKind == 3 && PixelFormatCode == 6)
        RotateImageFast(1, direction);
    else if (ImageKind == 3 && PixelFormatCode == 7)
        RotateImageFast(2, direction);
    else
        TransformImageByPixels(direction);
}

void TForm1::RotateImageFast(int format, int direction)
{
    TScreenCursorGuard hourglass;
    img->SetAlign(alNone);
    std::swap(ImageWidth, ImageHeight);
    TBitmap& shown = *img->Picture().Bitmap();
    static constexpr TPixelFormat formats[] = {pf24bit, pf24bit, pf32bit, pf8bit};
    const TPixelFormat wanted = formats[format >= 1 && format <= 3 ? format : 1];
    // The rows are read in place when the bitmap already has the format
    // asked for; otherwise from a converted copy.
    TBitmap converted;
    TBitmap* source = &shown;
    if (shown.PixelFormat() != wanted) {
        converted.Assign(shown);
        converted.SetPixelFormat(wanted);
        source = &converted;
    }
    std::unique_ptr<TBitmap> turned = TurnedOrMirrored(*source, direction == 2 ? 2 : 1);
    shown.TakeHandle(turned->ReleaseHandle(), turned->PixelFormat());
    LayoutZoomedImage();
    ShowImageSize();
}

void TForm1::ShowImageSize() { SetStatusPanel(4, IntToStr(ImageWidth) + "x" + IntToStr(ImageHeight)); }

void TForm1::TransformImageByPixels(int operation)
{
    TScreenCursorGuard hourglass;
    if (operation == 1 || operation == 2)
        std::swap(ImageWidth, ImageHeight);
    img->SetAlign(alNone);
    // The picture's pixels move in memory to where the per-pixel copies of
    // the canvas would put them; palette bitmaps move their indices and
    // keep their colours.
    TBitmap& shown = *img->Picture().Bitmap();
    const TPixelFormat format = shown.PixelFormat();
    const bool bytes = shown.BitsPerPixel() >= 8;
    TBitmap widened;
    TBitmap* source = &shown;
    if (!bytes) {
        widened.Assign(shown);
        widened.SetPixelFormat(pf8bit);
        source = &widened;
    }
    std::unique_ptr<TBitmap> moved = TurnedOrMirrored(*source, operation);
    if (!bytes)
        moved->SetPixelFormat(format);
    shown.TakeHandle(moved->ReleaseHandle(), moved->PixelFormat());
    LayoutZoomedImage();
    // A turn exchanges the sides the status bar names.
    ShowImageSize();
}

void TForm1::rotateleftClick(TObject*) { RotateImage(1); }
void TForm1::rorateClick(TObject*) { RotateImage(2); }
void TForm1::Rotate1Click(TObject*) { RotateImage(2); }
void TForm1::updownmirrorClick(TObject*) { TransformImageByPixels(3); }
void TForm1::leftrightmirrorClick(TObject*) { TransformImageByPixels(4); }

void TForm1::AutoBestfit1Click(TObject*)
{
    AutoBestfit1->SetChecked(true);
    if (!CurrentFile.empty())
        ViewCurrentFile();
}

void TForm1::ActualSize1Click(TObject*)
{
    ActualSize1->SetChecked(true);
    if (!CurrentFile.empty())
        ViewCurrentFile();
}

void TForm1::ToolButton35Click(TObject*)
{
    if (TiffPage < TiffPageCount - 1)
        LoadImage(8, TiffPage + 1, kTiffFormat);
}

void TForm1::ToolButton36Click(TObject*)
{
    if (TiffPage > 0)
        LoadImage(8, TiffPage - 1, kTiffFormat);
}

void TForm1::ToolButton39Click(TObject*) { SaveTiffPages(CurrentFile, TiffPageCount); }

void TForm1::imgMouseDown(TObject*, TMouseButton, TShiftState, int x, int y)
{
    DragStartX = x;
    DragStartY = y;
}

void TForm1::imgMouseMove(TObject*, TShiftState shift, int x, int y)
{
    if (shift & ssLeft)
        PanImage(x, y, DragStartX, DragStartY, *img, *sboximg);
}

void TForm1::SaveasaJPEG1Click(TObject*)
{
    PrepareSaveDialog("Save as a JPEG", "JPEG images(*.jpg,*.jpeg)|*.jpg;*.jpeg");
    sd.DefaultExt = "jpg";
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    TJPEGImage jpeg;
    jpeg.Assign(*img->Picture().Bitmap());
    jpeg.SaveToFile(chosen);
}

void TForm1::SaveasaBMP1Click(TObject*)
{
    PrepareSaveDialog("Save as a BMP", "BMP images(*.bmp)|*.bmp");
    sd.DefaultExt = "bmp";
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    img->Picture().Bitmap()->SaveToFile(chosen);
}

void TForm1::Centered1Click(TObject*) { SetWallpaper(1, *img); }
void TForm1::Tiled1Click(TObject*) { SetWallpaper(3, *img); }
void TForm1::Streched1Click(TObject*) { SetWallpaper(2, *img); }
