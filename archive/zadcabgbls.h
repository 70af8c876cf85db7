// What the cabinet interface needs around it: its file operations over the
// library's own streams (TCabinetFileHandler, TStreamCabinetFileHandler),
// its memory functions, the helpers of the compression-type word and the
// exceptions of system and cabinet failures.
#pragma once

#include "archive/zadstreams.h"
#include "rtl/classes.h"
#include "rtl/sysutils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// File operations in the cabinet interface's terms: a file is a handle, each
// operation says how it went in err (0, or the system's error code, -1 when
// the handle is unknown or the file does not open).
class TCabinetFileHandler : public TComponent {
public:
    using TComponent::TComponent;
    // oFlag as the interface gives it: 0x100 create (the file is then this
    // handle's alone while open), 2 read and write, 1 write, else read;
    // 0x400 opens an existing file for this handle alone.
    virtual std::intptr_t Open(const std::string& fileName, int oFlag, int pMode, int& err, int fileType) = 0;
    virtual std::int32_t Read(std::intptr_t handle, void* buffer, std::uint32_t count, int& err) = 0;
    virtual std::int32_t Write(std::intptr_t handle, const void* buffer, std::uint32_t count, int& err) = 0;
    virtual std::int32_t Close(std::intptr_t handle, int& err) = 0;
    // seekType 0 from the start, 1 from the current position, 2 from the end;
    // the result is the new position.
    virtual std::int32_t Seek(std::intptr_t handle, std::int32_t distance, int seekType, int& err) = 0;
    virtual std::int32_t Delete(const std::string& fileName, int& err) = 0;
};

// The handler over file streams kept in a list; a handle is the stream's
// system handle. Streams left open are freed with the handler.
class TStreamCabinetFileHandler : public TCabinetFileHandler {
public:
    using TCabinetFileHandler::TCabinetFileHandler;
    ~TStreamCabinetFileHandler() override;
    std::intptr_t Open(const std::string& fileName, int oFlag, int pMode, int& err, int fileType) override;
    std::int32_t Read(std::intptr_t handle, void* buffer, std::uint32_t count, int& err) override;
    std::int32_t Write(std::intptr_t handle, const void* buffer, std::uint32_t count, int& err) override;
    std::int32_t Close(std::intptr_t handle, int& err) override;
    std::int32_t Seek(std::intptr_t handle, std::int32_t distance, int seekType, int& err) override;
    std::int32_t Delete(const std::string& fileName, int& err) override;
    // The open stream of a handle; nullptr when none.
    TFileStream32* FindStream(std::intptr_t handle) const;
    int OpenCount() const { return static_cast<int>(m_streams.size()); }

private:
    std::vector<std::unique_ptr<TFileStream32>> m_streams;
};

// The interface's memory functions.
void* StdFciAlloc(std::uint32_t size);
int StdFciFree(void* memory);

// The compression-type word: type in bits 0-3, level in bits 4-7, memory
// (or the LZX window) in bits 8-12.
constexpr int tcompTYPE_LZX = 3;
int CompressionTypeFromTCOMP(int tcomp);
int CompressionLevelFromTCOMP(int tcomp);
int CompressionMemoryFromTCOMP(int tcomp);
int LZXCompressionWindowFromTCOMP(int tcomp);
int TCOMPfromTypeLevelMemory(int type, int level, int memory);
int TCOMPfromLZXWindow(int window);

// A system call that failed: "Error %d: %s" with the code and its text.
class EApiError : public Exception {
public:
    explicit EApiError(DWORD code);
    DWORD ErrorCode;
};
// Answers value; raises EApiError with the system's last error when it is false.
bool ApiCheck(bool value);

// What the cabinet interface's error record said: "Cabinet error %d (type %d)".
class ECabinetError : public Exception {
public:
    ECabinetError(int errorCode, int errorType);
    int ErrorCode;
    int ErrorType;
};
[[noreturn]] void RaiseCabinetError(int errorCode, int errorType);
