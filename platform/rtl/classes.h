// Non-visual classes of the runtime library: components with owners,
// notify events and string lists.
#pragma once

#include "sysutils.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// An object that can take its state from another. Assign asks the source to
// copy itself into this object (AssignTo); a pair that knows no copy raises
// EConvertError "Cannot assign a <source> to a <destination>".
class TPersistent : public TObject {
public:
    virtual void Assign(const TPersistent* source);
    // The name the assignment error shows.
    virtual std::string ClassName() const { return "TPersistent"; }

protected:
    virtual void AssignTo(TPersistent* dest) const;

private:
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// A list of untyped pointers. Index errors raise EListError
// "List index out of bounds (<index>)"; nil entries are allowed.
class TList : public TObject {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    void* Get(int index) const;
    void Put(int index, void* item);
    void* operator[](int index) const { return Get(index); }
    void* First() const { return Get(0); }
    void* Last() const { return Get(Count() - 1); }
    int Add(void* item);
    void Insert(int index, void* item);
    void Delete(int index);
    // Removes the first occurrence and answers its index, -1 when absent.
    int Remove(void* item);
    // Removes the first occurrence and answers it, nil when absent.
    void* Extract(void* item);
    void Exchange(int a, int b);
    void Move(int from, int to);
    int IndexOf(const void* item) const;
    void Clear() { m_items.clear(); }

private:
    void CheckIndex(int index) const;
    std::vector<void*> m_items;
};

// A TList behind a lock shared between threads. The lock is recursive: a
// thread holding it may lock it again (a drawing call re-entered through a
// change notification), and must unlock as often as it locked.
class TThreadList : public TObject {
public:
    enum class Duplicates { Ignore, Accept, Error };

    TList* LockList();
    void UnlockList();
    // Add ignores an item already there unless DuplicatesMode says otherwise;
    // Error raises EListError "List does not allow duplicates".
    void Add(void* item);
    void Remove(void* item);
    void Clear();
    Duplicates DuplicatesMode = Duplicates::Ignore;

private:
    std::recursive_mutex m_lock;
    TList m_list;
};

enum class TComponentStateFlag { Loading = 1, Destroying = 2, Designing = 4 };
enum TOperation { opInsert, opRemove };

class TComponentLinkBase;

// A component is owned by another component, which frees it when it is
// freed itself (the newest first).
//
// Components that refer to one another are told when the other goes: the
// owner hears of its own components coming and going, and any component
// hears of another one going once it asked for it (FreeNotification). A
// property that refers to another component is a TComponentLink, which asks
// for that on every assignment and is cleared when the component goes.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return m_owner; }
    const std::string& Name() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    TComponent* Component(int index) const { return m_components.at(static_cast<size_t>(index)); }
    TComponent* FindComponent(const std::string& name) const;

    bool IsLoading() const { return m_state & static_cast<int>(TComponentStateFlag::Loading); }
    bool IsDestroying() const { return m_state & static_cast<int>(TComponentStateFlag::Destroying); }
    // Set only by a form designer; the running program never designs.
    bool IsDesigning() const { return m_state & static_cast<int>(TComponentStateFlag::Designing); }
    void SetLoading(bool on);

    // Releases the component from its owner without freeing it.
    void RemoveFromOwner();

    // Asks that component be told, through its Notification with opRemove,
    // when this component goes. The request binds both ways: whichever of
    // the two goes first is told to the other, and is forgotten by it.
    void FreeNotification(TComponent* component);
    // Withdraws such a request (both ways).
    void RemoveFreeNotification(TComponent* component);

protected:
    // Frees the owned components, newest first. A control calls it before
    // its window goes, so owned children never outlive their parent window.
    void DestroyComponents();

    // A component came to be owned by this one (opInsert), or one that this
    // one owns or asked about is going (opRemove). The base clears this
    // component's links to a component that goes; an override calls it.
    virtual void Notification(TComponent* component, TOperation operation);

    int Tag = 0;

private:
    friend class TComponentLinkBase;
    TComponent* m_owner;
    std::string m_name;
    std::vector<TComponent*> m_components;
    int m_state = 0;
    std::vector<TComponent*> m_freeNotifies;
    std::vector<TComponentLinkBase*> m_links;
};

// A component's property that refers to another component: reading it
// never gives a component that is gone. Holders declare it with themselves:
// TComponentLink<TPopupMenu> PopupMenu{this};
class TComponentLinkBase {
public:
    TComponentLinkBase(const TComponentLinkBase&) = delete;
    TComponentLinkBase& operator=(const TComponentLinkBase&) = delete;

protected:
    explicit TComponentLinkBase(TComponent* holder);
    virtual ~TComponentLinkBase();
    // Refers to target (or to none) and asks to hear of its going. A request
    // made for an earlier target stays: it costs one notification that
    // changes nothing.
    void Link(TComponent* target);
    virtual void Cleared() = 0;

private:
    friend class TComponent;
    TComponent* m_holder;
    TComponent* m_target = nullptr;
};

template <class T>
class TComponentLink : public TComponentLinkBase {
public:
    explicit TComponentLink(TComponent* holder) : TComponentLinkBase(holder) {}
    TComponentLink& operator=(T* target)
    {
        Link(target);
        m_typed = target;
        return *this;
    }
    T* Get() const { return m_typed; }
    operator T*() const { return m_typed; }
    T* operator->() const { return m_typed; }

private:
    void Cleared() override { m_typed = nullptr; }
    T* m_typed = nullptr;
};

// A list of strings. Reading accepts CR, LF and CR LF as line ends; writing
// ends every line with CR LF. Index errors raise EStringListError.
class TStringList : public TObject {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(m_items.size()); }
    const std::string& operator[](int index) const;
    const std::string& Strings(int index) const { return (*this)[index]; }
    void SetString(int index, std::string value);
    int Add(std::string value);
    void Insert(int index, std::string value);
    void Delete(int index);
    void Clear() { m_items.clear(); }
    void Exchange(int a, int b);
    // First index of an exactly equal string, -1 when absent.
    int IndexOf(const std::string& value) const;
    void Assign(const TStringList& other) { m_items = other.m_items; }
    void AddStrings(const TStringList& other);

    std::string Text() const;
    void SetText(std::string_view text);

    // Raises EFOpenError when the file cannot be read.
    void LoadFromFile(const std::string& fileName);
    // Writes the file whole or not at all; raises EFCreateError.
    void SaveToFile(const std::string& fileName) const;

    const std::vector<std::string>& Items() const { return m_items; }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    void CheckIndex(int index) const;
    std::vector<std::string> m_items;
};

// Reads a whole regular file (opened with OpenRegularFile, so a pipe or a
// device is refused at once) with TFileReader::ReadAll; raises EFOpenError
// "Cannot open file "<name>". <reason>", EReadError when the file cannot be
// read or shrinks meanwhile, EOutOfMemory when it is larger than the memory
// the machine can still give.
std::string ReadWholeFile(const std::string& fileName);
