#include "imaging/gif/gifextensions.h"

#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifstream.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

template <class T>
TGIFExtensionFactory Make()
{
    return [](TGIFSubImage* frame) -> TGIFExtension* { return new T(frame); };
}

struct LabelEntry {
    std::uint8_t label;
    TGIFExtensionFactory factory;
};

struct AppEntry {
    TGIFApplicationRec identifier;
    TGIFExtensionFactory factory;
};

TGIFApplicationRec AppRec(const char (&text)[12])
{
    TGIFApplicationRec rec;
    std::memcpy(rec.data(), text, rec.size());
    return rec;
}

// The registries: the class library's four extension kinds and the two
// names of the looping extension, to which a program may add its own.
struct Registries {
    std::mutex lock;
    std::vector<LabelEntry> labels {
        {TGIFTextExtension::kLabel, Make<TGIFTextExtension>()},
        {TGIFGraphicControlExtension::kLabel, Make<TGIFGraphicControlExtension>()},
        {TGIFCommentExtension::kLabel, Make<TGIFCommentExtension>()},
        {TGIFApplicationExtension::kLabel, {}},  // chosen by FindSubExtension
    };
    std::vector<AppEntry> apps {
        {AppRec("NETSCAPE2.0"), Make<TGIFAppExtNSLoop>()},
        {AppRec("ANIMEXTS1.0"), Make<TGIFAppExtNSLoop>()},
    };
};

Registries& TheRegistries()
{
    static Registries r;
    return r;
}

}  // namespace

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Image() : nullptr), m_frame(frame) {}

TGIFExtension::~TGIFExtension()
{
    if (m_frame)
        m_frame->Extensions().Remove(this);
}

void TGIFExtension::LoadFromStream(TStream& stream)
{
    std::uint8_t head[2];
    gifio::ReadExact(stream, head, 2);
    if (head[0] != kIntroducer)
        GIFError(gifmsg::BadExtensionLabel);
    if (head[1] != GetExtensionType())
        GIFError(gifmsg::BadExtensionInstance);
}

void TGIFExtension::RegisterExtension(std::uint8_t label, TGIFExtensionFactory factory)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> hold(r.lock);
    r.labels.push_back({label, std::move(factory)});
}

TGIFExtensionFactory TGIFExtension::FindExtension(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const int label = gifio::GetStreamByte(stream);
    TGIFExtensionFactory found;
    if (label >= 0) {
        Registries& r = TheRegistries();
        std::unique_lock<std::mutex> hold(r.lock);
        // The newest registration of a label wins.
        const auto it = std::find_if(r.labels.rbegin(), r.labels.rend(),
                                     [&](const LabelEntry& e) { return e.label == label; });
        const bool application = it != r.labels.rend() && label == TGIFApplicationExtension::kLabel && !it->factory;
        if (it != r.labels.rend())
            found = it->factory;
        hold.unlock();
        if (application)
            found = TGIFApplicationExtension::FindSubExtension(stream);
    }
    stream.SetPosition(start);
    return found;
}

// Graphic control.

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (Frame()) {
        if (GetTransparent())
            Frame()->SetTransparentFlag(false);
        Frame()->ForgetGraphicControlExtension(this);
    }
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream)
{
    TGIFExtension::LoadFromStream(stream);
    std::uint8_t rec[6] = {};
    const std::int64_t got = stream.Read(rec, 6);
    m_record = {rec[0], rec[1], static_cast<std::uint16_t>(rec[2] | (rec[3] << 8)), rec[4], rec[5]};
    if (got < 6) {
        Warning(TGIFSeverity::Warning, gifmsg::OutOfData);
        return;
    }
    if (GetTransparent() && Frame())
        Frame()->SetTransparentFlag(true);
}

void TGIFGraphicControlExtension::SetTransparent(bool on)
{
    m_record.PackedFields = static_cast<std::uint8_t>(on ? m_record.PackedFields | 0x01 : m_record.PackedFields & ~0x01);
    if (Frame())
        Frame()->SetTransparentFlag(on);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index)
{
    TGIFColorMap* map = Frame() ? &Frame()->GetActiveColorMap() : nullptr;
    if (map && map->Count() > 0 && index >= map->Count()) {
        Warning(TGIFSeverity::Warning, gifmsg::BadColorIndex);
        index = 0;
    }
    m_record.TransparentColorIndex = static_cast<std::uint8_t>(index);
}

COLORREF TGIFGraphicControlExtension::GetTransparentColor() const
{
    return Frame()->GetActiveColorMap().GetColor(m_record.TransparentColorIndex);
}

void TGIFGraphicControlExtension::SetTransparentColor(COLORREF color)
{
    m_record.TransparentColorIndex = static_cast<std::uint8_t>(Frame()->GetActiveColorMap().AddUnique(color));
}

void TGIFGraphicControlExtension::SetUserInput(bool on)
{
    m_record.PackedFields = static_cast<std::uint8_t>(on ? m_record.PackedFields | 0x02 : m_record.PackedFields & ~0x02);
}

TDisposalMethod TGIFGraphicControlExtension::GetDisposal() const
{
    // The field has three bits; 4 to 7 name no method and read as "none
    // given", as every other reader takes them. The byte itself keeps the
    // value, so the file is written back as it was read.
    const int value = GetDisposalValue();
    return value <= dmPrevious ? static_cast<TDisposalMethod>(value) : dmNone;
}

void TGIFGraphicControlExtension::SetDisposal(TDisposalMethod method)
{
    m_record.PackedFields = static_cast<std::uint8_t>((m_record.PackedFields & ~0x1C) | ((method & 0x07) << 2));
}

// Plain text.

void TGIFTextExtension::LoadFromStream(TStream& stream)
{
    TGIFExtension::LoadFromStream(stream);
    std::uint8_t rec[13];
    gifio::ReadExact(stream, rec, 13);
    const auto word = [&](int at) { return static_cast<std::uint16_t>(rec[at] | (rec[at + 1] << 8)); };
    m_record = {rec[0], word(1), word(3), word(5), word(7), rec[9], rec[10], rec[11], rec[12]};
    gifio::ReadTextSubBlocks(stream, m_text);
}

COLORREF TGIFTextExtension::GetForegroundColor() const
{
    return Frame()->GetActiveColorMap().GetColor(m_record.TextFGColorIndex);
}

COLORREF TGIFTextExtension::GetBackgroundColor() const
{
    return Frame()->GetActiveColorMap().GetColor(m_record.TextBGColorIndex);
}

int TGIFTextExtension::GetBounds(int index) const
{
    switch (index) {
    case 1: return m_record.Left;
    case 2: return m_record.Top;
    case 3: return m_record.Width;
    case 4: return m_record.Height;
    default: return 0;
    }
}

void TGIFTextExtension::SetBounds(int index, int value)
{
    const auto v = static_cast<std::uint16_t>(value);
    switch (index) {
    case 1: m_record.Left = v; break;
    case 2: m_record.Top = v; break;
    case 3: m_record.Width = v; break;
    case 4: m_record.Height = v; break;
    default: break;
    }
}

int TGIFTextExtension::GetCharWidthHeight(int index) const
{
    return index == 1 ? m_record.CellWidth : index == 2 ? m_record.CellHeight : 0;
}

void TGIFTextExtension::SetCharWidthHeight(int index, int value)
{
    if (index == 1)
        m_record.CellWidth = static_cast<std::uint8_t>(value);
    else if (index == 2)
        m_record.CellHeight = static_cast<std::uint8_t>(value);
}

int TGIFTextExtension::GetColorIndex(int index) const
{
    return index == 1 ? m_record.TextFGColorIndex : index == 2 ? m_record.TextBGColorIndex : 0;
}

void TGIFTextExtension::SetColorIndex(int index, int value)
{
    if (index == 1)
        m_record.TextFGColorIndex = static_cast<std::uint8_t>(value);
    else if (index == 2)
        m_record.TextBGColorIndex = static_cast<std::uint8_t>(value);
}

void TGIFTextExtension::SetForegroundColor(COLORREF color)
{
    m_record.TextFGColorIndex = static_cast<std::uint8_t>(Frame()->GetActiveColorMap().AddUnique(color));
}

void TGIFTextExtension::SetBackgroundColor(COLORREF color)
{
    m_record.TextBGColorIndex = static_cast<std::uint8_t>(Frame()->GetActiveColorMap().AddUnique(color));
}

// Comment.

void TGIFCommentExtension::LoadFromStream(TStream& stream)
{
    TGIFExtension::LoadFromStream(stream);
    gifio::ReadTextSubBlocks(stream, m_text);
}

// Application.

namespace {

std::string FieldText(const char* p, std::size_t n) { return std::string(p, std::find(p, p + n, '\0')); }

void SetField(char* p, std::size_t n, const std::string& text)
{
    std::fill(p, p + n, ' ');
    std::memcpy(p, text.data(), std::min(n, text.size()));
}

}  // namespace

std::string TGIFApplicationExtension::GetIdentifier() const { return FieldText(m_rec.data(), 8); }
std::string TGIFApplicationExtension::GetAuthentication() const { return FieldText(m_rec.data() + 8, 3); }
void TGIFApplicationExtension::SetIdentifier(const std::string& text) { SetField(m_rec.data(), 8, text); }
void TGIFApplicationExtension::SetAuthentication(const std::string& text) { SetField(m_rec.data() + 8, 3, text); }

void TGIFApplicationExtension::RegisterExtension(const TGIFApplicationRec& identifier, TGIFExtensionFactory factory)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> hold(r.lock);
    r.apps.push_back({identifier, std::move(factory)});
}

TGIFExtensionFactory TGIFApplicationExtension::FindSubExtension(TStream& stream)
{
    const int n = gifio::GetStreamByte(stream);
    if (n < 0)
        return {};
    TGIFApplicationRec rec {};
    if (n == 10)
        return stream.Read(rec.data(), 10) == 10 ? Make<TGIFUnknownAppExtension>() : TGIFExtensionFactory {};
    if (n >= 11 && stream.Read(rec.data(), 11) == 11) {
        if (n == 11) {
            Registries& r = TheRegistries();
            std::lock_guard<std::mutex> hold(r.lock);
            const auto it = std::find_if(r.apps.rbegin(), r.apps.rend(),
                                         [&](const AppEntry& e) { return e.identifier == rec; });
            if (it != r.apps.rend())
                return it->factory;
        }
        // An identifier nobody registered, or a block longer than the
        // identifier: the data is kept as it is.
        return Make<TGIFUnknownAppExtension>();
    }
    // Too short a block: the reader raises on its size.
    return Make<TGIFUnknownAppExtension>();
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream)
{
    TGIFExtension::LoadFromStream(stream);
    const int n = gifio::GetStreamByte(stream);
    if (n < 0)
        GIFError(gifmsg::OutOfData);
    if (n < 11 && n != 10)
        GIFError(gifmsg::BadBlockSize);
    gifio::ReadExact(stream, m_rec.data(), 11);
    // A 10-byte block gives back the byte read past it; a longer one's
    // extra bytes are passed over.
    if (n == 10)
        gifio::PutBack(stream);
    else
        gifio::Skip(stream, n - 11);
    LoadData(stream);
}

void TGIFUnknownAppExtension::LoadData(TStream& stream)
{
    m_blocks.clear();
    for (int n = gifio::GetStreamByte(stream); n > 0; n = gifio::GetStreamByte(stream)) {
        TGIFBlock block;
        block.Data.resize(static_cast<std::size_t>(n));
        gifio::ReadExact(stream, block.Data.data(), n);
        m_blocks.push_back(std::move(block));
    }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame)
{
    SetIdentifier("NETSCAPE");
    SetAuthentication("2.0");
}

void TGIFAppExtNSLoop::LoadData(TStream& stream)
{
    // The end of the data ends the sub-blocks like their zero terminator
    // would not: the data is cut short.
    for (int n = gifio::GetStreamByte(stream); n != 0; n = gifio::GetStreamByte(stream)) {
        if (n < 0)
            GIFError(gifmsg::OutOfData);
        const int id = gifio::GetStreamByte(stream);
        if (id < 0)
            GIFError(gifmsg::OutOfData);
        int rest = n - 1;
        if ((id & 7) == 1) {
            if (n < 3)
                GIFError(gifmsg::InvalidData);
            std::uint8_t b[2];
            gifio::ReadExact(stream, b, 2);
            m_loops = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
            rest = n - 3;
        } else if ((id & 7) == 2) {
            if (n < 5)
                GIFError(gifmsg::InvalidData);
            std::uint8_t b[4];
            gifio::ReadExact(stream, b, 4);
            m_bufferSize = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
            rest = n - 5;
        }
        gifio::Skip(stream, rest);
    }
}

// The extensions of a frame.

void TGIFExtensionList::LoadFromStream(TStream& stream)
{
    int b = gifio::GetStreamByte(stream);
    if (b < 0)
        return;
    while (b != ',' && b != ';') {
        if (b != TGIFExtension::kIntroducer) {
            Warning(TGIFSeverity::Warning, gifmsg::BadExtensionLabel);
            break;
        }
        TGIFExtensionFactory factory = TGIFExtension::FindExtension(stream);
        if (!factory)
            GIFError(gifmsg::UnknownExtension);
        gifio::PutBack(stream);
        std::unique_ptr<TGIFExtension> extension(factory(m_frame));
        extension->LoadFromStream(stream);
        Add(extension.get());
        auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(extension.release());
        if (gce && m_frame)
            m_frame->NoteGraphicControlExtension(gce);
        b = gifio::GetStreamByte(stream);
        if (b < 0)
            return;
    }
    gifio::PutBack(stream);
}
