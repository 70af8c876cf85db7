// A hex editor control on a form, for tests that need the GUI library, and
// the keys, clicks and wheel turns a person gives it.
#pragma once

#include "hexedit/zuradhexex.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QPointF>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include <initializer_list>
#include <memory>
#include <string>

// A byte string from byte values.
inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

inline TApplication& TestApplication()
{
    static TApplication* app = new TApplication();
    return *app;
}

template <typename Control>
class HexFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        hex = std::make_unique<Control>(nullptr);
        hex->SetBounds(0, 0, 900, 400);
        hex->Loaded();
    }
    void TearDown() override
    {
        hex.reset();
        SetKeyStateOverride(nullptr);
    }

    void LoadBytes(const std::string& bytes)
    {
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        hex->LoadFromStream(s);
    }
    static std::string Pattern(size_t n)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        return s;
    }
    std::string Data()
    {
        return std::string(reinterpret_cast<const char*>(hex->GetFastPointer()),
                           static_cast<size_t>(hex->GetDataSize()));
    }
    void Pump() { TestApplication().ProcessMessages(); }

    // Input through the control's widget, as Qt delivers it.
    QWidget* W() { return hex->Widget(); }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(W(), key, mods); }
    void Type(const std::string& text) { QTest::keyClicks(W(), QString::fromStdString(text)); }
    // The centre of a cell in client coordinates.
    QPoint CellCentre(std::int32_t col, std::int32_t row)
    {
        const TRect r = hex->CellRect(col, row);
        return QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
    }
    QPoint ByteCentre(std::int32_t pos, bool inChar = false)
    {
        const TGridCoord c = hex->GetCursorAtPos(pos, inChar);
        return CellCentre(c.X, c.Y);
    }
    void Press(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mousePress(W(), Qt::LeftButton, mods, p);
    }
    void Release(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mouseRelease(W(), Qt::LeftButton, mods, p);
    }
    void MoveHeld(QPoint p) { QTest::mouseMove(W(), p); }
    void DoubleClick(QPoint p)
    {
        Press(p);
        Release(p);
        QTest::mouseDClick(W(), Qt::LeftButton, Qt::NoModifier, p);
        Release(p);
    }
    // One notch of the wheel: positive away from the user (up).
    void Wheel(int notches, Qt::KeyboardModifiers mods = Qt::NoModifier, QPoint at = QPoint(300, 100))
    {
        QWheelEvent e(QPointF(at), QPointF(W()->mapToGlobal(at)), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      mods, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(W(), &e);
    }

    std::unique_ptr<Control> hex;
};

using HexEditorTest = HexFixture<TCustomZURadUvudod>;
using HexExTest = HexFixture<TZURadUvudodEx>;
