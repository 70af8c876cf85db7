// One fuzz input through detection and extraction from a memory stream to a
// memory target, by the extractor the detected type picks from one table.
// ZIP runs with the passwords of the encrypted seeds (Secret1 for the AES
// and traditional fixtures, first and second for twopw.zip and mixed.zip,
// secret for encrypted.zip; ARJ and BH with secret, for their encrypted
// seeds) so that encrypted entries are decoded rather than refused at the
// password. Shared by the libFuzzer target and the
// corpus replay test.
#pragma once

#include "archive/zadstreams.h"
#include "archive/zadunarc.h"
#include "archive/zadunarj.h"
#include "archive/zadunbh.h"
#include "archive/zadunlha.h"
#include "archive/zadunzoo.h"
#include "archive/zadungzip.h"
#include "archive/zaduntar.h"
#include "archive/zadunzip.h"
#include "archive/zaduudecode.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

struct TFuzzExtractorRow {
    std::initializer_list<TArcType> types;
    std::function<std::unique_ptr<TCustomDClass>()> make;
};

inline const std::initializer_list<TFuzzExtractorRow>& FuzzExtractors()
{
    static const std::initializer_list<TFuzzExtractorRow> rows = {
        {{atZip, atZipExe, atJar, atJarExe, atZipMV, atZipDS},
         [] {
             auto z = std::make_unique<TUnZip>();
             z->Password = "Secret1";
             for (const char* password : {"first", "second", "secret"})
                 z->Passwords.Add(password);
             return std::unique_ptr<TCustomDClass>(std::move(z));
         }},
        {{atGZip}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUnGZip>()); }},
        {{atTar}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUnTar>()); }},
        {{atUUE, atB64}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUUDecode>()); }},
        {{atArc, atArcExe, atPak, atPakExe}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUnArc>()); }},
        {{atArj, atArjExe},
         [] {
             auto a = std::make_unique<TUnARJ>();
             a->Password = "secret";
             return std::unique_ptr<TCustomDClass>(std::move(a));
         }},
        {{atBh, atBhExe},
         [] {
             auto x = std::make_unique<TUnBh>();
             x->Password = "secret";
             return std::unique_ptr<TCustomDClass>(std::move(x));
         }},
        {{atLha, atLhaExe, atLzh, atLzhExe}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUnLha>()); }},
        {{atZoo}, [] { return std::unique_ptr<TCustomDClass>(std::make_unique<TUnZoo>()); }},
    };
    return rows;
}

inline void ArchiveExtractFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 16))
        return;
    TMemoryStream32 stream;
    if (size > 0)
        stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    TArcType type = atNA;
    try {
        // Detection raises on some damaged input; the extraction entry
        // points catch that themselves.
        TUnZip probe;
        type = probe.GetArcType(&stream);
    } catch (...) {
        type = atNA;
    }
    // A type no row reads goes to the ZIP extractor, which refuses it.
    const auto& rows = FuzzExtractors();
    auto row = std::find_if(rows.begin(), rows.end(), [type](const TFuzzExtractorRow& r) {
        return std::find(r.types.begin(), r.types.end(), type) != r.types.end();
    });
    std::unique_ptr<TCustomDClass> x = (row == rows.end() ? rows.begin() : row)->make();
    x->FileSpec.Add("*.*");
    x->OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    TDecompMemoryStream out;
    x->OutMemoryStream = &out;
    stream.SetPosition(0);
    TStream32* in = &stream;
    x->ExtractStreamToMemory(in);
}
