// A hex editor control on a form, for tests that need the GUI library.
#pragma once

#include "hexedit/zuradhex.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline TApplication& TestApplication()
{
    static TApplication* app = new TApplication();
    return *app;
}

class HexEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        hex = std::make_unique<TCustomZURadUvudod>(nullptr);
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

    std::unique_ptr<TCustomZURadUvudod> hex;
};
