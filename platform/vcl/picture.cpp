// The picture and its registry of graphic classes.
#include "graphics.h"
#include "jpeg.h"
#include "metafile.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace {

// Standard clipboard formats of the registered classes.
constexpr std::uint32_t CF_BITMAP = 2;
constexpr std::uint32_t CF_METAFILEPICT = 3;
constexpr std::uint32_t CF_ENHMETAFILE = 14;

struct FileFormat {
    std::string extension;  // lower case, no dot
    std::string description;
    TGraphicFactory factory;
};

template <class T>
TGraphicFactory Factory()
{
    return [] { return std::unique_ptr<TGraphic>(std::make_unique<T>()); };
}

struct Registry {
    std::mutex lock;
    std::vector<FileFormat> files;
    std::map<std::uint32_t, TGraphicFactory> clipboard;

    Registry()
    {
        files = {
            {"bmp", "Bitmaps", Factory<TBitmap>()},
            {"ico", "Icons", Factory<TIcon>()},
            {"emf", "Enhanced Metafiles", Factory<TMetafile>()},
            {"wmf", "Metafiles", Factory<TMetafile>()},
            {"jpg", "JPEG Image File", Factory<TJPEGImage>()},
            {"jpeg", "JPEG Image File", Factory<TJPEGImage>()},
        };
        clipboard[CF_BITMAP] = Factory<TBitmap>();
        clipboard[CF_METAFILEPICT] = Factory<TMetafile>();
        clipboard[CF_ENHMETAFILE] = Factory<TMetafile>();
    }
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The extension of a path without its dot, lower-cased; "" without one.
std::string ExtensionOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return LowerAscii(path.substr(dot + 1));
}

TGraphicFactory FactoryFor(const std::string& extension)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const FileFormat& f : r.files)
        if (f.extension == extension)
            return f.factory;
    return {};
}

}  // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TPicture::Hook()
{
    if (!m_graphic)
        return;
    m_graphic->OnChange = [this](TObject*) { Changed(); };
    m_graphic->OnProgress = [this](TObject* sender, TProgressStage stage, std::uint8_t percent, bool redraw,
                                const TRect& r, const std::string& message) {
        if (OnProgress)
            OnProgress(sender, stage, percent, redraw, r, message);
    };
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    m_graphic = std::move(graphic);
    Hook();
    Changed();
}

TBitmap* TPicture::Bitmap()
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(m_graphic.get()))
        return bitmap;
    SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(m_graphic.get());
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    const std::string extension = ExtensionOf(fileName);
    TGraphicFactory factory = FactoryFor(extension);
    if (!factory)
        throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
    std::unique_ptr<TGraphic> graphic = factory();
    graphic->OnProgress = OnProgress;
    graphic->LoadFromFile(fileName);
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName)
{
    if (m_graphic)
        m_graphic->SaveToFile(fileName);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
    TGraphicFactory factory)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    const std::string ext = LowerAscii(extension);
    auto it = std::find_if(r.files.begin(), r.files.end(), [&](const FileFormat& f) { return f.extension == ext; });
    if (it != r.files.end())
        *it = FileFormat {ext, description, std::move(factory)};
    else
        r.files.push_back(FileFormat {ext, description, std::move(factory)});
}

void TPicture::UnregisterFileFormat(const std::string& extension)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    const std::string ext = LowerAscii(extension);
    r.files.erase(std::remove_if(r.files.begin(), r.files.end(), [&](const FileFormat& f) { return f.extension == ext; }),
        r.files.end());
}

void TPicture::RegisterClipboardFormat(std::uint32_t format, TGraphicFactory factory)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.clipboard[format] = std::move(factory);
}

bool TPicture::SupportsClipboardFormat(std::uint32_t format)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.clipboard.count(format) != 0;
}

std::unique_ptr<TGraphic> TPicture::CreateForClipboardFormat(std::uint32_t format)
{
    Registry& r = TheRegistry();
    TGraphicFactory factory;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        auto it = r.clipboard.find(format);
        if (it == r.clipboard.end())
            return nullptr;
        factory = it->second;
    }
    return factory();
}

std::string TPicture::GraphicFilter()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    std::string filter;
    for (const FileFormat& f : r.files) {
        if (!filter.empty())
            filter += '|';
        filter += f.description + " (*." + f.extension + ")|*." + f.extension;
    }
    return filter;
}
