// One fuzz input through the MHT reader: the parts, the page in its
// character set, and the lookups a page makes. Shared by the libFuzzer
// target and the corpus replay test.
#pragma once

#include "web/charset.h"
#include "web/mhtreader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

inline void MhtFuzzReadOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 22))
        return;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TMhtArchive archive;
    if (!archive.Read(bytes))
        return;
    const TMhtPart* root = archive.Root();
    const std::string charset = root->Charset.empty() ? HtmlCharset(root->Body) : root->Charset;
    (void)CharsetToUtf8(root->Body, charset);
    // Every location a part names, as written and relative to the page.
    for (const TMhtPart& part : archive.Parts()) {
        (void)archive.Find(part.Location, root->Location);
        (void)archive.Find("cid:" + part.ContentId, root->Location);
        (void)archive.Find("../" + part.Location + "#x", part.Location);
    }
}
