#include "archive/zadcabgbls.h"

#include "archive/zadgbls.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kOpenCreate = 0x100, kOpenReadWrite = 2, kOpenWrite = 1, kOpenExclusive = 0x400;

std::intptr_t HandleOf(const TFileStream32& s) { return reinterpret_cast<std::intptr_t>(s.Handle()); }

int LastError() { return static_cast<int>(GetLastError()); }

}  // namespace

// ---- the stream handler ------------------------------------------------------------------

TStreamCabinetFileHandler::~TStreamCabinetFileHandler() = default;

TFileStream32* TStreamCabinetFileHandler::FindStream(std::intptr_t handle) const
{
    for (const auto& s : m_streams)
        if (HandleOf(*s) == handle)
            return s.get();
    return nullptr;
}

std::intptr_t TStreamCabinetFileHandler::Open(const std::string& fileName, int oFlag, int, int& err, int)
{
    // A file created is the creator's alone while it is open; an existing
    // one is shared unless 0x400 asks otherwise.
    unsigned mode = fmCreate;
    if (!(oFlag & kOpenCreate)) {
        mode = (oFlag & kOpenReadWrite) ? fmOpenReadWrite : (oFlag & kOpenWrite) ? fmOpenWrite : fmOpenRead;
        mode |= (oFlag & kOpenExclusive) ? fmShareExclusive : fmShareDenyNone;
    }
    auto stream = std::make_unique<TFileStream32>(fileName, mode);
    if (!stream->Valid()) {
        err = -1;
        return -1;
    }
    const std::intptr_t handle = HandleOf(*stream);
    m_streams.push_back(std::move(stream));
    err = 0;
    return handle;
}

std::int32_t TStreamCabinetFileHandler::Read(std::intptr_t handle, void* buffer, std::uint32_t count, int& err)
{
    TFileStream32* s = FindStream(handle);
    if (!s) {
        err = -1;
        return 0;
    }
    const auto done = static_cast<std::int32_t>(std::max<std::int64_t>(s->Read(buffer, count), 0));
    err = static_cast<std::uint32_t>(done) == count ? 0 : LastError();
    return done;
}

std::int32_t TStreamCabinetFileHandler::Write(std::intptr_t handle, const void* buffer, std::uint32_t count, int& err)
{
    TFileStream32* s = FindStream(handle);
    if (!s) {
        err = -1;
        return 0;
    }
    const auto done = static_cast<std::int32_t>(std::max<std::int64_t>(s->Write(buffer, count), 0));
    err = static_cast<std::uint32_t>(done) == count ? 0 : LastError();
    return done;
}

std::int32_t TStreamCabinetFileHandler::Seek(std::intptr_t handle, std::int32_t distance, int seekType, int& err)
{
    TFileStream32* s = FindStream(handle);
    if (!s) {
        err = -1;
        return 0;
    }
    const TSeekOrigin origin = seekType == 0 ? soBeginning : seekType == 1 ? soCurrent : soEnd;
    const std::int64_t at = s->Seek(distance, origin);
    err = seekType == 0 && at != distance ? LastError() : 0;
    return static_cast<std::int32_t>(at);
}

std::int32_t TStreamCabinetFileHandler::Close(std::intptr_t handle, int& err)
{
    const auto it = std::find_if(m_streams.begin(), m_streams.end(), [handle](const auto& s) { return HandleOf(*s) == handle; });
    if (it != m_streams.end())
        m_streams.erase(it);
    err = 0;
    return 0;
}

std::int32_t TStreamCabinetFileHandler::Delete(const std::string& fileName, int& err)
{
    err = _DeleteFile(fileName) ? 0 : LastError();
    return 0;
}

// ---- memory ---------------------------------------------------------------------------------

void* StdFciAlloc(std::uint32_t size) { return std::malloc(size); }

int StdFciFree(void* memory)
{
    std::free(memory);
    return 0;
}

// ---- the compression-type word ---------------------------------------------------------

int CompressionTypeFromTCOMP(int tcomp) { return tcomp & 0x000F; }
int CompressionLevelFromTCOMP(int tcomp) { return (tcomp & 0x00F0) >> 4; }
int CompressionMemoryFromTCOMP(int tcomp) { return (tcomp & 0x1F00) >> 8; }
int LZXCompressionWindowFromTCOMP(int tcomp) { return (tcomp & 0x1F00) >> 8; }
int TCOMPfromTypeLevelMemory(int type, int level, int memory) { return (memory << 8) | (level << 4) | type; }
int TCOMPfromLZXWindow(int window) { return (window << 8) | tcompTYPE_LZX; }

// ---- exceptions ---------------------------------------------------------------------------

EApiError::EApiError(DWORD code)
    : Exception("Error " + std::to_string(code) + ": " + SysErrorMessage(code)), ErrorCode(code)
{
}

bool ApiCheck(bool value)
{
    if (!value)
        throw EApiError(GetLastError());
    return value;
}

ECabinetError::ECabinetError(int errorCode, int errorType)
    : Exception("Cabinet error " + std::to_string(errorCode) + " (type " + std::to_string(errorType) + ")"),
      ErrorCode(errorCode), ErrorType(errorType)
{
}

void RaiseCabinetError(int errorCode, int errorType) { throw ECabinetError(errorCode, errorType); }
