// Loading GIF data in the tests: an image with its warnings recorded, and
// the message of the GIF error a call raises.
#pragma once

#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"

#include <memory>
#include <string>
#include <vector>

struct LoadedGif {
    std::unique_ptr<TGIFImage> image = std::make_unique<TGIFImage>();
    // Shared with the image's warning handler, which outlives moves of this.
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
    const std::vector<std::string>& warnings() const { return *log; }
    std::string error;  // empty when the load succeeded
    std::int64_t position = 0;
};

inline LoadedGif LoadGif(const std::string& bytes, std::int64_t start = 0)
{
    LoadedGif g;
    g.image->OnGIFWarning = [log = g.log](TObject*, TGIFSeverity, const std::string& m) { log->push_back(m); };
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(start);
    try {
        g.image->LoadFromStream(stream);
    } catch (const Exception& e) {
        g.error = e.what();
    }
    g.position = stream.Position();
    return g;
}

// The bytes the image writes.
inline std::string SaveGif(TGIFImage& image)
{
    TMemoryStream out;
    image.SaveToStream(out);
    std::string bytes(static_cast<std::size_t>(out.Size()), '\0');
    out.SetPosition(0);
    out.ReadBuffer(bytes.data(), out.Size());
    return bytes;
}

template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}
