#include "hexedit/zazprops.h"

#include "hexedit/zuradhexex.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <type_traits>

namespace {

// The class and the value type of a getter or setter.
template <typename M>
struct MemberOf;
template <typename C, typename R>
struct MemberOf<R (C::*)() const> {
    using Class = C;
};
template <typename C, typename R>
struct MemberOf<R (C::*)()> {
    using Class = C;
};
template <typename C, typename A>
struct MemberOf<void (C::*)(A)> {
    using Class = C;
    using Value = std::remove_cvref_t<A>;
};

template <auto Member>
using ClassOf = typename MemberOf<decltype(Member)>::Class;

constexpr const char* kBooleanNames[] = {"False", "True"};
constexpr const char* kTranslationNames[] = {"tkAsIs", "tkDos8", "tkASCII", "tkMac", "tkBCD", "tkCustom"};
constexpr const char* kCaretKindNames[] = {"ckFull", "ckLeft", "ckBottom", "ckAuto"};
constexpr const char* kFontStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

template <auto Get, auto Set>
TZAZProperty Ordinal(const char* name, TZAZPropKind kind, std::int64_t min, std::int64_t max,
                     std::span<const char* const> names = {})
{
    TZAZProperty p{name, kind, min, max, names};
    p.GetOrd = [](TObject& o) -> std::int64_t {
        const auto value = (static_cast<ClassOf<Get>&>(o).*Get)();
        // A character is its code, 0 to 255.
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, char>)
            return static_cast<unsigned char>(value);
        else
            return static_cast<std::int64_t>(value);
    };
    p.SetOrd = [](TObject& o, std::int64_t value) {
        using Value = typename MemberOf<decltype(Set)>::Value;
        if constexpr (std::is_same_v<Value, bool>)
            (static_cast<ClassOf<Set>&>(o).*Set)(value != 0);
        else
            (static_cast<ClassOf<Set>&>(o).*Set)(static_cast<Value>(value));
    };
    return p;
}

template <auto Get, auto Set>
TZAZProperty Boolean(const char* name)
{
    return Ordinal<Get, Set>(name, TZAZPropKind::Boolean, 0, 1, kBooleanNames);
}

template <auto Get, auto Set>
TZAZProperty Integer(const char* name, std::int64_t min = INT32_MIN, std::int64_t max = INT32_MAX)
{
    return Ordinal<Get, Set>(name, TZAZPropKind::Integer, min, max);
}

template <auto Get, auto Set>
TZAZProperty Enumeration(const char* name, std::span<const char* const> names)
{
    return Ordinal<Get, Set>(name, TZAZPropKind::Enumeration, 0, static_cast<std::int64_t>(names.size()) - 1, names);
}

template <auto Get, auto Set>
TZAZProperty SetOf(const char* name, std::span<const char* const> names)
{
    return Ordinal<Get, Set>(name, TZAZPropKind::Set, 0, (std::int64_t(1) << names.size()) - 1, names);
}

template <auto Get, auto Set>
TZAZProperty String(const char* name)
{
    TZAZProperty p{.Name = name, .Kind = TZAZPropKind::String};
    p.GetStr = [](TObject& o) -> std::string { return (static_cast<ClassOf<Get>&>(o).*Get)(); };
    p.SetStr = [](TObject& o, const std::string& value) { (static_cast<ClassOf<Set>&>(o).*Set)(value); };
    return p;
}

template <auto Get>
TZAZProperty Object(const char* name, const TZAZPropertyTable& table)
{
    TZAZProperty p{.Name = name, .Kind = TZAZPropKind::Object};
    p.GetObject = [](TObject& o) -> TObject* { return &(static_cast<ClassOf<Get>&>(o).*Get)(); };
    p.ObjectTable = &table;
    return p;
}

using Hex = TCustomZURadUvudod;
using HexEx = TZURadUvudodEx;

// The class library's control publishes its font.
const TZAZPropertyTable& ControlTable()
{
    static const TZAZProperty rows[] = {
        Object<&TControl::Font>("Font", ZAZFontPropertyTable()),
    };
    static const TZAZPropertyTable table{"TControl", nullptr, rows};
    return table;
}

// The grid control. Layout rows come first and in this order, so that a
// text written by one control sets up another: unicode mode needs even
// row and column widths, and the units and translation it allows follow it.
const TZAZPropertyTable& HexTable()
{
    static const TZAZProperty rows[] = {
        Integer<&Hex::BytesPerRow, &Hex::SetBytesPerRow>("BytesPerRow"),
        Integer<&Hex::BytesPerColumn, &Hex::SetBytesPerColumn>("BytesPerColumn"),
        Boolean<&Hex::UnicodeChars, &Hex::SetUnicodeChars>("UnicodeChars"),
        Boolean<&Hex::UnicodeBigEndian, &Hex::SetUnicodeBigEndian>("UnicodeBigEndian"),
        Integer<&Hex::BytesPerUnit, &Hex::SetBytesPerUnit>("BytesPerUnit"),
        Integer<&Hex::RulerBytesPerUnit, &Hex::SetRulerBytesPerUnit>("RulerBytesPerUnit"),
        Integer<&Hex::BytesPerBlock, &Hex::SetBytesPerBlock>("BytesPerBlock"),
        Boolean<&Hex::SeparateBlocksInCharField, &Hex::SetSeparateBlocksInCharField>("SeparateBlocksInCharField"),
        Enumeration<&Hex::Translation, &Hex::SetTranslation>("Translation", kTranslationNames),
        String<&Hex::OffsetFormat, &Hex::SetOffsetFormat>("OffsetFormat"),
        Enumeration<&Hex::CaretKind, &Hex::SetCaretKind>("CaretKind", kCaretKindNames),
        Object<&Hex::Colors>("Colors", ZAZColorsPropertyTable()),
        Boolean<&Hex::FocusFrame, &Hex::SetFocusFrame>("FocusFrame"),
        Boolean<&Hex::SwapNibbles, &Hex::SetSwapNibbles>("SwapNibbles"),
        Ordinal<&Hex::MaskChar, &Hex::SetMaskChar>("MaskChar", TZAZPropKind::Char, 0, 255),
        Boolean<&Hex::NoSizeChange, &Hex::SetFixedFileSize>("NoSizeChange"),
        Boolean<&Hex::AllowInsertMode, &Hex::SetAllowInsertMode>("AllowInsertMode"),
        Boolean<&Hex::ReadOnlyView, &Hex::SetReadOnlyView>("ReadOnlyView"),
        Boolean<&Hex::DrawGridLines, &Hex::SetDrawGridLines>("DrawGridLines"),
        Boolean<&Hex::DrawGutter3D, &Hex::SetDrawGutter3D>("DrawGutter3D"),
        Boolean<&Hex::HideSelection, &Hex::SetHideSelection>("HideSelection"),
        Boolean<&Hex::GraySelectionIfNotFocused, &Hex::SetGraySelectionIfNotFocused>("GraySelectionIfNotFocused"),
        Integer<&Hex::GutterWidth, &Hex::SetGutterWidth>("GutterWidth"),
        Integer<&Hex::MaxUndo, &Hex::SetMaxUndo>("MaxUndo"),
        Boolean<&Hex::GetInsertMode, &Hex::SetInsertMode>("InsertMode"),
        Boolean<&Hex::HexLowerCase, &Hex::SetHexLowerCase>("HexLowerCase"),
        Boolean<&Hex::ShowRuler, &Hex::SetShowRuler>("ShowRuler"),
        Integer<&Hex::RulerNumberBase, &Hex::SetRulerNumberBase>("RulerNumberBase"),
        Boolean<&Hex::ShowPositionIfNotFocused, &Hex::SetShowPositionIfNotFocused>("ShowPositionIfNotFocused"),
        Boolean<&Hex::FindProgress, &Hex::SetFindProgress>("FindProgress"),
    };
    static const TZAZPropertyTable table{"TCustomZURadUvudod", &ControlTable(), rows};
    return table;
}

}  // namespace

const TZAZPropertyTable& ZAZExPropertyTable()
{
    static const TZAZProperty rows[] = {
        Boolean<&HexEx::CreateBackup, &HexEx::SetCreateBackup>("CreateBackup"),
        String<&HexEx::BackupExtension, &HexEx::SetBackupExtension>("BackupExtension"),
        Boolean<&HexEx::OleDragDrop, &HexEx::SetOleDragDrop>("OleDragDrop"),
        Boolean<&HexEx::ClipboardAsHexText, &HexEx::SetClipboardAsHexText>("ClipboardAsHexText"),
        Boolean<&HexEx::FlushClipboardAtShutDown, &HexEx::SetFlushClipboardAtShutDown>("FlushClipboardAtShutDown"),
        Boolean<&HexEx::SupportsOtherClipFormats, &HexEx::SetSupportsOtherClipFormats>("SupportsOtherClipFormats"),
        Object<&HexEx::PrintOptions>("PrintOptions", ZAZPrintOptionsPropertyTable()),
        Object<&HexEx::PrintFont>("PrintFont", ZAZFontPropertyTable()),
        Boolean<&HexEx::UseEditorFontForPrinting, &HexEx::SetUseEditorFontForPrinting>("UseEditorFontForPrinting"),
        Boolean<&HexEx::ZoomOnWheel, &HexEx::SetZoomOnWheel>("ZoomOnWheel"),
    };
    static const TZAZPropertyTable table{"TZURadUvudodEx", &HexTable(), rows};
    return table;
}

const TZAZPropertyTable& ZAZColorsPropertyTable()
{
    using C = TZAZColors;
    static const TZAZProperty rows[] = {
        Integer<&C::Background, &C::SetBackground>("Background"),
        Integer<&C::ChangedBackground, &C::SetChangedBackground>("ChangedBackground"),
        Integer<&C::ChangedText, &C::SetChangedText>("ChangedText"),
        Integer<&C::CursorFrame, &C::SetCursorFrame>("CursorFrame"),
        Integer<&C::NonFocusCursorFrame, &C::SetNonFocusCursorFrame>("NonFocusCursorFrame"),
        Integer<&C::Offset, &C::SetOffset>("Offset"),
        Integer<&C::OddColumn, &C::SetOddColumn>("OddColumn"),
        Integer<&C::EvenColumn, &C::SetEvenColumn>("EvenColumn"),
        Integer<&C::CurrentOffsetBackground, &C::SetCurrentOffsetBackground>("CurrentOffsetBackground"),
        Integer<&C::OffsetBackGround, &C::SetOffsetBackGround>("OffsetBackGround"),
        Integer<&C::CurrentOffset, &C::SetCurrentOffset>("CurrentOffset"),
        Integer<&C::ActiveFieldBackground, &C::SetActiveFieldBackground>("ActiveFieldBackground"),
        Integer<&C::Grid, &C::SetGrid>("Grid"),
    };
    static const TZAZPropertyTable table{"TZAZColors", nullptr, rows};
    return table;
}

const TZAZPropertyTable& ZAZFontPropertyTable()
{
    static const TZAZProperty rows[] = {
        Integer<&TFont::Charset, &TFont::SetCharset>("Charset", 0, 255),
        Integer<&TFont::Color, &TFont::SetColor>("Color"),
        String<&TFont::Name, &TFont::SetName>("Name"),
        Integer<&TFont::Size, &TFont::SetSize>("Size"),
        SetOf<&TFont::Style, &TFont::SetStyle>("Style", kFontStyleNames),
    };
    static const TZAZPropertyTable table{"TFont", nullptr, rows};
    return table;
}

const TZAZPropertyTable& ZAZPrintOptionsPropertyTable()
{
    using P = TZAZPrintOptions;
    static const TZAZProperty rows[] = {
        Integer<&P::MarginLeft, &P::SetMarginLeft>("MarginLeft"),
        Integer<&P::MarginTop, &P::SetMarginTop>("MarginTop"),
        Integer<&P::MarginRight, &P::SetMarginRight>("MarginRight"),
        Integer<&P::MarginBottom, &P::SetMarginBottom>("MarginBottom"),
        String<&P::PageHeader, &P::SetPageHeader>("PageHeader"),
        String<&P::PageFooter, &P::SetPageFooter>("PageFooter"),
        SetOf<&P::Flags, &P::SetFlags>("Flags", kZAZPrintFlagNames),
    };
    static const TZAZPropertyTable table{"TZAZPrintOptions", nullptr, rows};
    return table;
}

const TZAZProperty* FindProperty(const TZAZPropertyTable& table, const std::string& name)
{
    const TZAZProperty* found = nullptr;
    ForEachProperty(table, [&](const TZAZProperty& row) {
        if (!found && SameText(row.Name, name))
            found = &row;
    });
    return found;
}

namespace {

[[noreturn]] void RefuseValue(const TZAZProperty& property, const std::string& text)
{
    throw EConvertError("'" + text + "' is not a valid value of " + property.Name);
}

// The index of a name, without regard to case; -1 when absent.
std::int64_t NameIndex(std::span<const char* const> names, const std::string& name)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (SameText(names[i], name))
            return static_cast<std::int64_t>(i);
    return -1;
}

std::int64_t ParseOrdinal(const TZAZProperty& property, const std::string& text)
{
    const std::string t = Trim(text);
    switch (property.Kind) {
    case TZAZPropKind::Boolean:
    case TZAZPropKind::Enumeration: {
        const std::int64_t index = NameIndex(property.Names, t);
        if (index < 0)
            RefuseValue(property, text);
        return index;
    }
    case TZAZPropKind::Set: {
        std::string body = t;
        if (body.size() >= 2 && body.front() == '[' && body.back() == ']')
            body = Trim(body.substr(1, body.size() - 2));
        std::int64_t mask = 0;
        if (body.empty())
            return 0;
        size_t from = 0;
        for (;;) {
            const size_t comma = body.find(',', from);
            const std::int64_t index = NameIndex(property.Names, Trim(body.substr(from, comma - from)));
            if (index < 0)
                RefuseValue(property, text);
            mask |= std::int64_t(1) << index;
            if (comma == std::string::npos)
                return mask;
            from = comma + 1;
        }
    }
    default: {
        // A whole decimal number that the property's type holds; anything
        // else is refused rather than wrapped or cut.
        errno = 0;
        char* end = nullptr;
        const long long value = std::strtoll(t.c_str(), &end, 10);
        if (errno != 0 || end == t.c_str() || *end != '\0' || value < property.Min || value > property.Max)
            RefuseValue(property, text);
        return value;
    }
    }
}

}  // namespace

std::string PropertyValueText(const TZAZProperty& property, TObject& instance)
{
    switch (property.Kind) {
    case TZAZPropKind::String: return property.GetStr(instance);
    case TZAZPropKind::Object: return {};
    case TZAZPropKind::Boolean:
    case TZAZPropKind::Enumeration: {
        const std::int64_t value = property.GetOrd(instance);
        if (value >= 0 && value < static_cast<std::int64_t>(property.Names.size()))
            return property.Names[static_cast<size_t>(value)];
        return IntToStr(value);
    }
    case TZAZPropKind::Set: {
        const std::int64_t mask = property.GetOrd(instance);
        std::string text;
        for (size_t i = 0; i < property.Names.size(); ++i)
            if (mask & (std::int64_t(1) << i)) {
                if (!text.empty())
                    text.push_back(',');
                text += property.Names[i];
            }
        return text;
    }
    default: return IntToStr(property.GetOrd(instance));
    }
}

void SetPropertyValueText(const TZAZProperty& property, TObject& instance, const std::string& text)
{
    switch (property.Kind) {
    case TZAZPropKind::String: property.SetStr(instance, text); return;
    case TZAZPropKind::Object: RefuseValue(property, text);
    default: property.SetOrd(instance, ParseOrdinal(property, text));
    }
}
