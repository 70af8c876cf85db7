// The published properties of the hex editor and of the objects it holds
// (colours, fonts, print options), as the property text exchange walks
// them: one static table per class in declaration order, the inherited
// class's rows first, each row with its kind, its value range or names and
// generic get and set.
#pragma once

#include "rtl/classes.h"

#include <cstdint>
#include <span>
#include <string>

enum class TZAZPropKind { Boolean, Integer, Char, Enumeration, Set, String, Object };

struct TZAZPropertyTable;

struct TZAZProperty {
    const char* Name;
    TZAZPropKind Kind;
    // Ordinal kinds: the values the type holds (a set: the bit mask of its
    // elements); enumerations, Booleans and sets: the names of the values
    // or elements in order.
    std::int64_t Min = 0;
    std::int64_t Max = 0;
    std::span<const char* const> Names = {};
    std::int64_t (*GetOrd)(TObject&) = nullptr;
    void (*SetOrd)(TObject&, std::int64_t) = nullptr;
    std::string (*GetStr)(TObject&) = nullptr;
    void (*SetStr)(TObject&, const std::string&) = nullptr;
    TObject* (*GetObject)(TObject&) = nullptr;
    const TZAZPropertyTable* ObjectTable = nullptr;
};

struct TZAZPropertyTable {
    const char* ClassName;
    const TZAZPropertyTable* Inherited;
    std::span<const TZAZProperty> Rows;
};

// The tables of the extended control and of the objects it holds.
const TZAZPropertyTable& ZAZExPropertyTable();
const TZAZPropertyTable& ZAZColorsPropertyTable();
const TZAZPropertyTable& ZAZFontPropertyTable();
const TZAZPropertyTable& ZAZPrintOptionsPropertyTable();

// Calls visit for every row of the table, the inherited rows first.
template <typename Visit>
void ForEachProperty(const TZAZPropertyTable& table, Visit&& visit)
{
    if (table.Inherited)
        ForEachProperty(*table.Inherited, visit);
    for (const TZAZProperty& row : table.Rows)
        visit(row);
}

// The row of a name (without regard to case), nullptr when the class has none.
const TZAZProperty* FindProperty(const TZAZPropertyTable& table, const std::string& name);

// The value as text: whole numbers in decimal, Booleans and enumerations by
// name, sets as their element names joined by commas, strings unchanged.
std::string PropertyValueText(const TZAZProperty& property, TObject& instance);
// Sets the value from the same text forms (names without regard to case, a
// set in brackets or not). A text that is no value of the property's type
// (an unknown name, a number out of its range) raises EConvertError and
// changes nothing; the property's setter may refuse a value with its own
// exception.
void SetPropertyValueText(const TZAZProperty& property, TObject& instance, const std::string& text);
