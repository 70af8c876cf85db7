// The COM shapes every COM-style service of the platform shares: interface
// identifiers, IUnknown and the reference counting of our own COM objects.
#pragma once

#include "win/wintypes.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <utility>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;
inline bool IsEqualGUID(const GUID& a, const GUID& b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(a.Data4, a.Data4 + 8, b.Data4);
}
inline bool operator==(const GUID& a, const GUID& b) { return IsEqualGUID(a, b); }

inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDropTarget = {0x00000122, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDropSource = {0x00000121, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

// The reference counting of a COM object of ours: the count starts at 0 (the
// first AddRef is the creator's) and Release frees the object at 0.
// QueryInterface hands out the one interface for any of the given ids.
template <class Interface> class TComObject : public Interface {
public:
    virtual ~TComObject() = default;
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        const ULONG n = --m_refs;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    HRESULT QueryFor(REFIID riid, void** ppv, std::initializer_list<const GUID*> ids)
    {
        if (!ppv)
            return E_POINTER;
        for (const GUID* id : ids)
            if (riid == *id) {
                *ppv = static_cast<Interface*>(this);
                AddRef();
                return S_OK;
            }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> m_refs {0};
};

// Holds one reference to a COM object: taken when it is given a pointer
// (unless adopted), given back when it lets go.
template <class T> class TComPtr {
public:
    TComPtr() = default;
    explicit TComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    TComPtr(const TComPtr& o) : TComPtr(o.m_p) {}
    TComPtr(TComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    TComPtr& operator=(TComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~TComPtr() { Reset(); }
    // Takes over a reference the caller already holds (an out parameter's).
    static TComPtr Adopt(T* p)
    {
        TComPtr r;
        r.m_p = p;
        return r;
    }
    void Reset()
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // The slot an out parameter fills; whatever was held is released first.
    T** Out()
    {
        Reset();
        return &m_p;
    }

private:
    T* m_p = nullptr;
};
