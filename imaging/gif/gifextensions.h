// The extension blocks of a frame and the registries that map a label, or
// an application's identifier, to the class that reads it.
//
//  extension:  "!" (0x21)  label  body
//   0xF9 graphic control: size (4), packed, delay (16), transparent index,
//        terminator; packed bits 4-2 disposal, bit 1 user input, bit 0
//        transparent index present
//   0x01 plain text: size (12), grid left, top, width, height (16 each),
//        cell width, cell height, foreground, background; text sub-blocks
//   0xFE comment: text sub-blocks
//   0xFF application: size (11), identifier (8), authentication (3);
//        data sub-blocks
#pragma once

#include "imaging/gif/gifitems.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TGIFExtension;
class TGIFExtensionList;
using TGIFExtensionFactory = std::function<TGIFExtension*(TGIFSubImage* frame)>;

class TGIFExtension : public TGIFItem {
public:
    static constexpr std::uint8_t kIntroducer = 0x21;

    explicit TGIFExtension(TGIFSubImage* frame);
    // Takes the extension out of its frame's list.
    ~TGIFExtension() override;

    TGIFSubImage* Frame() const { return m_frame; }
    virtual std::uint8_t GetExtensionType() const = 0;
    TGIFVersion GetVersion() const override { return gv89a; }
    // Reads "!" and the label and checks the label is this class's own.
    void LoadFromStream(TStream& stream) override;
    // Writes "!" and the label; each kind writes its body after them.
    void SaveToStream(TStream& stream) override;

    // The class for the extension whose label is at the stream position;
    // an empty factory when none is registered. The position is kept.
    static TGIFExtensionFactory FindExtension(TStream& stream);
    static void RegisterExtension(std::uint8_t label, TGIFExtensionFactory factory);

private:
    TGIFSubImage* m_frame;
};

//  +0 block size  +1 packed  +2 delay (16)  +4 transparent index  +5 terminator
struct TGIFGCERec {
    std::uint8_t BlockSize = 4;
    std::uint8_t PackedFields = 0;
    std::uint16_t DelayTime = 0;
    std::uint8_t TransparentColorIndex = 0;
    std::uint8_t Terminator = 0;
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xF9;
    using TGIFExtension::TGIFExtension;
    ~TGIFGraphicControlExtension() override;

    std::uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    bool GetTransparent() const { return m_record.PackedFields & 0x01; }
    void SetTransparent(bool on);
    int GetTransparentColorIndex() const { return m_record.TransparentColorIndex; }
    void SetTransparentColorIndex(int index);
    COLORREF GetTransparentColor() const;
    void SetTransparentColor(COLORREF color);
    int GetDelay() const { return m_record.DelayTime; }
    void SetDelay(int delay) { m_record.DelayTime = static_cast<std::uint16_t>(delay); }
    bool GetUserInput() const { return m_record.PackedFields & 0x02; }
    void SetUserInput(bool on);
    // The method of the field's value; 4 to 7, which name none, give dmNone.
    TDisposalMethod GetDisposal() const;
    void SetDisposal(TDisposalMethod method);
    // The disposal field as the file has it, 0 to 7.
    int GetDisposalValue() const { return (m_record.PackedFields >> 2) & 0x07; }
    const TGIFGCERec& Record() const { return m_record; }

private:
    TGIFGCERec m_record;
};

struct TGIFPlainTextExtensionRec {
    std::uint8_t BlockSize = 12;
    std::uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
    std::uint8_t CellWidth = 0, CellHeight = 0;
    std::uint8_t TextFGColorIndex = 0, TextBGColorIndex = 0;
};

class TGIFTextExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0x01;
    using TGIFExtension::TGIFExtension;

    std::uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    std::vector<std::string>& Text() { return m_text; }

    const std::vector<std::string>& Text() const { return m_text; }
    // The colours are the frame's active table's at the two indices; setting
    // one puts the colour in that table (once) and takes its index.
    COLORREF GetForegroundColor() const;
    void SetForegroundColor(COLORREF color);
    COLORREF GetBackgroundColor() const;
    void SetBackgroundColor(COLORREF color);
    // 1 left, 2 top, 3 width, 4 height of the text grid; other indices read
    // 0 and write nothing, as for the two below.
    int GetBounds(int index) const;
    void SetBounds(int index, int value);
    // 1 cell width, 2 cell height.
    int GetCharWidthHeight(int index) const;
    void SetCharWidthHeight(int index, int value);
    // 1 foreground, 2 background.
    int GetColorIndex(int index) const;
    void SetColorIndex(int index, int value);

private:
    TGIFPlainTextExtensionRec m_record;
    std::vector<std::string> m_text;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xFE;
    using TGIFExtension::TGIFExtension;

    std::uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    std::vector<std::string>& Text() { return m_text; }
    const std::vector<std::string>& Text() const { return m_text; }

private:
    std::vector<std::string> m_text;
};

using TGIFApplicationRec = std::array<char, 11>;

class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xFF;
    using TGIFExtension::TGIFExtension;

    std::uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    // The block size 11, the identifier, then the data sub-blocks.
    void SaveToStream(TStream& stream) override;

    // The identifier's 8 and the authentication code's 3 characters, each
    // ending early at a zero byte.
    std::string GetIdentifier() const;
    std::string GetAuthentication() const;
    void SetIdentifier(const std::string& text);
    void SetAuthentication(const std::string& text);
    const TGIFApplicationRec& ApplicationRec() const { return m_rec; }

    // Which class reads an application extension, given the bytes after
    // its label: block size 10 and unregistered identifiers are read as
    // unregistered data, so are blocks longer than 11 bytes.
    static TGIFExtensionFactory FindSubExtension(TStream& stream);
    static void RegisterExtension(const TGIFApplicationRec& identifier, TGIFExtensionFactory factory);

protected:
    virtual void LoadData(TStream& stream) = 0;
    virtual void SaveData(TStream& stream) = 0;

private:
    TGIFApplicationRec m_rec {};
};

// One raw data sub-block.
struct TGIFBlock {
    std::vector<std::uint8_t> Data;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    const std::vector<TGIFBlock>& Blocks() const { return m_blocks; }

protected:
    void LoadData(TStream& stream) override;
    void SaveData(TStream& stream) override;

private:
    std::vector<TGIFBlock> m_blocks;
};

// The looping extension ("NETSCAPE2.0", "ANIMEXTS1.0"): sub-block 1 holds
// the loop count, sub-block 2 a buffer size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    int Loops() const { return m_loops; }
    void SetLoops(int loops) { m_loops = static_cast<std::uint16_t>(loops); }
    std::uint32_t BufferSize() const { return m_bufferSize; }

protected:
    void LoadData(TStream& stream) override;
    void SaveData(TStream& stream) override;

private:
    std::uint16_t m_loops = 0;
    std::uint32_t m_bufferSize = 0;
};

class TGIFExtensionList : public TGIFList {
public:
    TGIFExtensionList(TGIFImage* image, TGIFSubImage* frame) : TGIFList(image), m_frame(frame) {}
    TGIFExtension* Extension(int index) const { return static_cast<TGIFExtension*>(Item(index)); }
    // Reads extensions up to the next "," or ";", which is left unread.
    void LoadFromStream(TStream& stream);

private:
    TGIFSubImage* m_frame;
};
