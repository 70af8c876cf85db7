#include "imaging/gif/gifstream.h"

#include <algorithm>

namespace gifio {

void ReadExact(TStream& stream, void* buffer, std::int64_t count)
{
    if (count <= 0)
        return;
    if (stream.Read(buffer, count) != count)
        GIFError(gifmsg::OutOfData);
}

int GetStreamByte(TStream& stream)
{
    std::uint8_t b = 0;
    return stream.Read(&b, 1) == 1 ? b : -1;
}

void PutBack(TStream& stream) { stream.Seek(-1, soCurrent); }

std::int64_t Remaining(TStream& stream) { return std::max<std::int64_t>(0, stream.Size() - stream.Position()); }

void Skip(TStream& stream, std::int64_t count)
{
    if (count > 0)
        stream.Seek(std::min(count, Remaining(stream)), soCurrent);
}

void ReadTextSubBlocks(TStream& stream, std::vector<std::string>& lines)
{
    lines.clear();
    char buffer[255];
    for (int n = GetStreamByte(stream); n > 0; n = GetStreamByte(stream)) {
        ReadExact(stream, buffer, n);
        const auto end = std::find(buffer, buffer + n, '\0');
        lines.emplace_back(buffer, end);
    }
}

}  // namespace gifio
