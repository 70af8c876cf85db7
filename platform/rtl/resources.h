// Resources of a module: named blocks of bytes of a type (RT_RCDATA, raw
// data, is 10). A program here has no resource section: what a module
// carries it registers when it starts, from data compiled into it, and a
// name nobody registered is not found, as in a module without it.
#pragma once

#include "rtl/streams.h"
#include "rtl/sysutils.h"
#include "win/wintypes.h"

#include <cstddef>
#include <string>

using HINSTANCE = HANDLE;

constexpr int RT_RCDATA = 10;

// The program's own module.
HINSTANCE MainInstance();

// Makes size bytes at data (not copied: they live as long as the program)
// the module's resource of that name and type. Names compare without
// regard to case; a second registration of a name replaces the first.
void RegisterResource(HINSTANCE module, const std::string& name, int type, const void* data, std::size_t size);

VISTREL_DECLARE_EXCEPTION(EResNotFound, Exception)

// A stream that reads a resource in place. A name the module has not of
// that type raises EResNotFound "Resource NAME not found"; writing raises
// EStreamError "Can't write to a read-only resource stream".
class TResourceStream : public TStream {
public:
    TResourceStream(HINSTANCE instance, const std::string& name, int type);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return m_size; }

private:
    const std::uint8_t* m_data = nullptr;
    std::int64_t m_size = 0;
    std::int64_t m_position = 0;
};
