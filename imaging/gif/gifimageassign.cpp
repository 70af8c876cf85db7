// Copying a GIF image, making one from another graphic, handing its
// picture to a bitmap, and appending frames.
#include "imaging/gif/gifimage.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <vector>

namespace {

// The class name a conversion error shows for an object of any class.
std::string ClassNameOf(const TObject* object)
{
    if (!object)
        return "nil";
    if (const auto* persistent = dynamic_cast<const TPersistent*>(object))
        return persistent->ClassName();
    const char* mangled = typeid(*object).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? name.get() : mangled;
}

[[noreturn]] void CannotAssign(const TObject* source, const TObject* destination)
{
    throw EConvertError("Cannot assign a " + ClassNameOf(source) + " to a " + ClassNameOf(destination));
}

}  // namespace

void TGIFImage::Assign(const TObject* source)
{
    if (source == this)
        return;
    if (!source) {
        Clear();
        return;
    }
    const auto* other = dynamic_cast<const TGIFImage*>(source);
    if (!other) {
        AssignPicture(source);
        return;
    }
    Clear();
    // The copy reports to whoever listens to the source; afterwards this
    // image has no handlers at all.
    OnProgress = other->OnProgress;
    OnGIFWarning = other->OnGIFWarning;
    struct DropHandlers {
        TGIFImage& image;
        ~DropHandlers()
        {
            image.OnProgress = nullptr;
            image.OnGIFWarning = nullptr;
        }
    } drop {*this};
    ReportProgress(this, psStarting, 0, false, gifmsg::Copying);
    try {
        m_header.Assign(&other->m_header);
        m_threadPriority = other->m_threadPriority;
        m_drawBackgroundColor = other->m_drawBackgroundColor;
        m_drawOptions = other->m_drawOptions;
        m_colorReduction = other->m_colorReduction;
        m_reductionBits = other->m_reductionBits;
        m_ditherMode = other->m_ditherMode;
        OnPaintStart = other->OnPaintStart;
        OnBeforeFrame = other->OnBeforeFrame;
        OnAfterFrame = other->OnAfterFrame;
        OnLoopPass = other->OnLoopPass;
        OnPaintEnd = other->OnPaintEnd;
        // The copies join the list together: a frame of a damaged file that
        // reaches past the screen, listed already, would make the screen's
        // growth for the next copy fail.
        const int count = other->m_images.Count();
        std::vector<std::unique_ptr<TGIFSubImage>> frames;
        for (int i = 0; i < count; ++i) {
            frames.push_back(std::make_unique<TGIFSubImage>(this));
            frames.back()->Assign(other->m_images.Image(i));
            ReportProgress(this, psRunning, static_cast<std::uint8_t>(std::lround((i + 1) * 100.0 / count)), false,
                           gifmsg::Copying);
        }
        for (auto& frame : frames)
            m_images.Add(frame.release());
        // A frame reaching past the screen grew the copy's screen as it
        // came in; the copy keeps the screen the source has.
        m_header.Descriptor().ScreenWidth = other->m_header.Descriptor().ScreenWidth;
        m_header.Descriptor().ScreenHeight = other->m_header.Descriptor().ScreenHeight;
        FreeBitmap();
        Changed();
    } catch (...) {
        ReportProgress(this, psEnding, 0, false, gifmsg::Copying);
        throw;
    }
    ReportProgress(this, psEnding, 100, false, gifmsg::Copying);
}

void TGIFImage::AssignPicture(const TObject* source)
{
    Clear();
    auto frame = std::make_unique<TGIFSubImage>(this);
    // The frame reads the graphic and leaves it as it was.
    try {
        if (const auto* graphic = dynamic_cast<const TGraphic*>(source))
            frame->Assign(const_cast<TGraphic*>(graphic));
        else if (const auto* picture = dynamic_cast<const TPicture*>(source))
            frame->Assign(picture);
        else
            CannotAssign(source, this);
    } catch (const EConvertError&) {
        CannotAssign(source, this);
    }
    Add(frame.release());
}

void TGIFImage::AssignTo(TObject* destination)
{
    auto* bitmap = dynamic_cast<TBitmap*>(destination);
    if (!bitmap)
        CannotAssign(this, destination);
    if (TBitmap* picture = GetBitmap())
        bitmap->Assign(*picture);
    else
        bitmap->SetSize(0, 0);
}

int TGIFImage::Add(TObject* source)
{
    std::unique_ptr<TGIFSubImage> frame;
    if (auto* given = dynamic_cast<TGIFSubImage*>(source)) {
        // A frame belongs to one image and one place in its list: another
        // image's frame, or one listed already, is copied.
        if (given->Image() == this && m_images.IndexOf(given) < 0) {
            frame.reset(given);
        } else {
            frame = std::make_unique<TGIFSubImage>(this);
            frame->Assign(given);
        }
    } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
        frame = std::make_unique<TGIFSubImage>(this);
        frame->Assign(graphic);
    } else {
        GIFError(gifmsg::NotSupported);
    }
    const int index = m_images.Add(frame.release());
    FreeBitmap();
    Changed();
    return index;
}
