#include "classes.h"
#include "filereader.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : m_owner(owner)
{
    if (m_owner) {
        m_owner->m_components.push_back(this);
        m_owner->Notification(this, opInsert);
    }
}

TComponent::~TComponent()
{
    m_state |= static_cast<int>(TComponentStateFlag::Destroying);
    // Those that asked hear of it first, while this component's owned ones
    // and its place in its owner are still there.
    while (!m_freeNotifies.empty()) {
        TComponent* other = m_freeNotifies.back();
        m_freeNotifies.pop_back();
        auto& back = other->m_freeNotifies;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    RemoveFromOwner();
}

void TComponent::FreeNotification(TComponent* component)
{
    if (!component || component == this)
        return;
    if (std::find(m_freeNotifies.begin(), m_freeNotifies.end(), component) == m_freeNotifies.end())
        m_freeNotifies.push_back(component);
    auto& back = component->m_freeNotifies;
    if (std::find(back.begin(), back.end(), this) == back.end())
        back.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component)
{
    if (!component)
        return;
    m_freeNotifies.erase(std::remove(m_freeNotifies.begin(), m_freeNotifies.end(), component), m_freeNotifies.end());
    auto& back = component->m_freeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
}

void TComponent::Notification(TComponent* component, TOperation operation)
{
    if (operation != opRemove || !component)
        return;
    for (TComponentLinkBase* link : m_links)
        if (link->m_target == component) {
            link->m_target = nullptr;
            link->Cleared();
        }
}

TComponentLinkBase::TComponentLinkBase(TComponent* holder) : m_holder(holder) { m_holder->m_links.push_back(this); }

TComponentLinkBase::~TComponentLinkBase()
{
    auto& links = m_holder->m_links;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
}

void TComponentLinkBase::Link(TComponent* target)
{
    m_target = target;
    if (target)
        target->FreeNotification(m_holder);
}

void TComponent::DestroyComponents()
{
    m_state |= static_cast<int>(TComponentStateFlag::Destroying);
    while (!m_components.empty()) {
        TComponent* child = m_components.back();
        m_components.pop_back();
        child->m_owner = nullptr;
        // The child knows it is going before its own destructor runs, so it
        // raises no events into an owner that is half gone.
        child->m_state |= static_cast<int>(TComponentStateFlag::Destroying);
        delete child;
    }
}

void TComponent::RemoveFromOwner()
{
    if (!m_owner)
        return;
    TComponent* owner = m_owner;
    auto& siblings = owner->m_components;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    m_owner = nullptr;
    owner->Notification(this, opRemove);
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    for (TComponent* c : m_components)
        if (SameText(c->Name(), name))
            return c;
    return nullptr;
}

void TComponent::SetLoading(bool on)
{
    const int flag = static_cast<int>(TComponentStateFlag::Loading);
    m_state = on ? (m_state | flag) : (m_state & ~flag);
}

void TStringList::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError(Format("List index out of bounds (%d)", index));
}

const std::string& TStringList::operator[](int index) const
{
    CheckIndex(index);
    return m_items[static_cast<size_t>(index)];
}

void TStringList::SetString(int index, std::string value)
{
    CheckIndex(index);
    m_items[static_cast<size_t>(index)] = std::move(value);
}

int TStringList::Add(std::string value)
{
    m_items.push_back(std::move(value));
    return Count() - 1;
}

void TStringList::Insert(int index, std::string value)
{
    if (index < 0 || index > Count())
        throw EStringListError(Format("List index out of bounds (%d)", index));
    m_items.insert(m_items.begin() + index, std::move(value));
}

void TStringList::Delete(int index)
{
    CheckIndex(index);
    m_items.erase(m_items.begin() + index);
}

void TStringList::Exchange(int a, int b)
{
    CheckIndex(a);
    CheckIndex(b);
    std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
}

int TStringList::IndexOf(const std::string& value) const
{
    const auto it = std::find(m_items.begin(), m_items.end(), value);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

void TStringList::AddStrings(const TStringList& other)
{
    m_items.insert(m_items.end(), other.m_items.begin(), other.m_items.end());
}

std::string TStringList::Text() const
{
    std::string out;
    for (const std::string& s : m_items) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text)
{
    m_items.clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n')
            ++j;
        m_items.emplace_back(text.substr(i, j - i));
        if (j < text.size() && text[j] == '\r') {
            ++j;
            if (j < text.size() && text[j] == '\n')
                ++j;
        } else if (j < text.size()) {
            ++j;
        }
        i = j;
    }
}

std::string ReadWholeFile(const std::string& fileName)
{
    TFileReader reader;
    reader.OpenOrRaise(fileName);
    return reader.ReadAll();
}

void TStringList::LoadFromFile(const std::string& fileName) { SetText(ReadWholeFile(fileName)); }

void TStringList::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, Text()); }

void TPersistent::Assign(const TPersistent* source)
{
    if (!source)
        AssignError(nullptr);
    source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const
{
    throw EConvertError("Cannot assign a " + (source ? source->ClassName() : std::string("nil")) + " to a " +
                        ClassName());
}

void TList::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void* TList::Get(int index) const
{
    CheckIndex(index);
    return m_items[static_cast<size_t>(index)];
}

void TList::Put(int index, void* item)
{
    CheckIndex(index);
    m_items[static_cast<size_t>(index)] = item;
}

int TList::Add(void* item)
{
    m_items.push_back(item);
    return Count() - 1;
}

void TList::Insert(int index, void* item)
{
    if (index != Count())
        CheckIndex(index);
    m_items.insert(m_items.begin() + index, item);
}

void TList::Delete(int index)
{
    CheckIndex(index);
    m_items.erase(m_items.begin() + index);
}

int TList::IndexOf(const void* item) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i] == item)
            return static_cast<int>(i);
    return -1;
}

int TList::Remove(void* item)
{
    const int index = IndexOf(item);
    if (index >= 0)
        Delete(index);
    return index;
}

void* TList::Extract(void* item)
{
    return Remove(item) >= 0 ? item : nullptr;
}

void TList::Exchange(int a, int b)
{
    CheckIndex(a);
    CheckIndex(b);
    std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
}

void TList::Move(int from, int to)
{
    if (from == to)
        return;
    CheckIndex(to);
    void* item = Get(from);
    Delete(from);
    Insert(to, item);
}

TList* TThreadList::LockList()
{
    m_lock.lock();
    return &m_list;
}

void TThreadList::UnlockList() { m_lock.unlock(); }

void TThreadList::Add(void* item)
{
    const std::lock_guard guard(m_lock);
    if (DuplicatesMode != Duplicates::Accept && m_list.IndexOf(item) >= 0) {
        if (DuplicatesMode == Duplicates::Error)
            throw EListError("List does not allow duplicates");
        return;
    }
    m_list.Add(item);
}

void TThreadList::Remove(void* item)
{
    const std::lock_guard guard(m_lock);
    m_list.Remove(item);
}

void TThreadList::Clear()
{
    const std::lock_guard guard(m_lock);
    m_list.Clear();
}
