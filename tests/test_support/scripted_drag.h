// Drag and drop for tests: a drag loop that walks scripted steps (Qt's
// offscreen platform ends every real drag at once), and a data object of
// fixed formats standing for another program's.
#pragma once

#include "ole/ole2.h"
#include "ole/oleobj.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

// One step of the mouse: where it is (screen point), the buttons and keys
// held, and whether Esc was pressed.
struct DragStep {
    POINTL screen;
    DWORD keyState;
    bool escape = false;
};

// Walks the steps as the system's loop does: asks the source whether to go
// on, hands the point to the registered target under it (enter, over,
// leave, drop) and asks the source for the feedback. Steps that run out
// without a drop cancel the drag.
class ScriptedDrag : public TDragDriver {
public:
    explicit ScriptedDrag(std::vector<DragStep> steps) : m_steps(std::move(steps)) {}

    int runs = 0;
    std::vector<DWORD> feedback;  // the effect of each step
    DWORD offered = 0;            // the effects the source allowed

    HRESULT Run(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect) override
    {
        ++runs;
        offered = okEffects;
        IDropTarget* current = nullptr;
        for (const DragStep& step : m_steps) {
            const HRESULT go = source->QueryContinueDrag(step.escape, step.keyState);
            if (go == DRAGDROP_S_CANCEL) {
                if (current)
                    current->DragLeave();
                *effect = DROPEFFECT_NONE;
                return DRAGDROP_S_CANCEL;
            }
            if (go == DRAGDROP_S_DROP) {
                DWORD e = okEffects;
                if (!current || current->Drop(data, step.keyState, step.screen, &e) != S_OK)
                    e = DROPEFFECT_NONE;
                *effect = e & okEffects;
                return DRAGDROP_S_DROP;
            }
            IDropTarget* target = RegisteredDropTargetAt(step.screen);
            DWORD e = okEffects;
            if (target != current) {
                if (current)
                    current->DragLeave();
                current = target;
                if (current && current->DragEnter(data, step.keyState, step.screen, &e) != S_OK)
                    e = DROPEFFECT_NONE;
            } else if (current) {
                current->DragOver(step.keyState, step.screen, &e);
            }
            if (!current)
                e = DROPEFFECT_NONE;
            feedback.push_back(e & okEffects);
            source->GiveFeedback(e & okEffects);
        }
        if (current)
            current->DragLeave();
        *effect = DROPEFFECT_NONE;
        return DRAGDROP_S_CANCEL;
    }

private:
    std::vector<DragStep> m_steps;
};

// A global block holding the bytes.
inline HGLOBAL GlobalBlock(const std::string& bytes)
{
    HGLOBAL block = GlobalAlloc(GHND, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    return block;
}

// A data object with fixed media: each format answers a copy of its block
// (or a handle the test made, which the receiver frees).
class FixedDataObject : public TDataObjectBase {
public:
    void AddBlock(CLIPFORMAT format, const std::string& bytes)
    {
        m_entries.push_back({format, TYMED_HGLOBAL, [bytes] {
                                 STGMEDIUM m{};
                                 m.tymed = TYMED_HGLOBAL;
                                 m.hGlobal = GlobalBlock(bytes);
                                 return m;
                             }});
    }
    void AddMedium(CLIPFORMAT format, DWORD tymed, std::function<STGMEDIUM()> make)
    {
        m_entries.push_back({format, tymed, std::move(make)});
    }
    int gets = 0;

    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override
    {
        for (const Entry& e : m_entries)
            if (e.format == format->cfFormat && (e.tymed & format->tymed)) {
                ++gets;
                *medium = e.make();
                return S_OK;
            }
        return DV_E_FORMATETC;
    }
    HRESULT QueryGetData(const FORMATETC* format) override
    {
        for (const Entry& e : m_entries)
            if (e.format == format->cfFormat)
                return S_OK;
        return DV_E_FORMATETC;
    }

protected:
    IEnumFORMATETC* NewFormatEnumerator() override
    {
        std::vector<FORMATETC> list;
        for (const Entry& e : m_entries)
            list.push_back(ContentFormat(e.format, e.tymed));
        return new TEnumFormatEtc(list);
    }

private:
    struct Entry {
        CLIPFORMAT format;
        DWORD tymed;
        std::function<STGMEDIUM()> make;
    };
    std::vector<Entry> m_entries;
};

// The bytes of a global-memory medium; the medium is released.
inline std::string TakeBlock(STGMEDIUM& medium)
{
    std::string bytes(static_cast<const char*>(GlobalLock(medium.hGlobal)), GlobalSize(medium.hGlobal));
    ReleaseStgMedium(&medium);
    return bytes;
}

// A drop target of another program: records the calls, takes the text
// dropped on it, and answers with the effects it allows.
class RecordingDropTarget : public TComObject<IDropTarget> {
public:
    explicit RecordingDropTarget(DWORD allowed) : answer(allowed) {}
    DWORD answer;
    std::vector<std::string> calls;
    DWORD keys = 0;
    POINTL point{};
    std::string dropped;
    IDataObject* droppedObject = nullptr;  // not held: compared only

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropTarget});
    }
    HRESULT DragEnter(IDataObject*, DWORD keyState, POINTL at, DWORD* effect) override
    {
        calls.push_back("enter " + std::to_string(*effect));
        keys = keyState;
        point = at;
        *effect &= answer;
        return S_OK;
    }
    HRESULT DragOver(DWORD, POINTL, DWORD* effect) override
    {
        calls.push_back("over");
        *effect &= answer;
        return S_OK;
    }
    HRESULT DragLeave() override
    {
        calls.push_back("leave");
        return S_OK;
    }
    HRESULT Drop(IDataObject* data, DWORD keyState, POINTL, DWORD* effect) override
    {
        calls.push_back("drop");
        keys = keyState;
        droppedObject = data;
        FORMATETC text = ContentFormat(CF_TEXT);
        STGMEDIUM medium{};
        if (SUCCEEDED(data->GetData(&text, &medium)))
            dropped = TakeBlock(medium);
        *effect &= answer;
        return S_OK;
    }
};

// A shown window whose client area is one panel, a place to register a
// drop target.
struct DropWindow {
    explicit DropWindow(int left = 10, int top = 10)
    {
        form.SetBounds(left, top, 200, 200);
        panel = new TPanel(&form);
        panel->SetParent(&form);
        panel->SetAlign(alClient);
        form.Show();
    }
    TForm form{nullptr};
    TPanel* panel = nullptr;
};
