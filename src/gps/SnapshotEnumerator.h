// A COM enumerator (IEnumXxx: Next, Skip, Reset, Clone) over a list of
// items taken when the enumerator was made. Later changes of the source do
// not show; clones share the list and start at their original's position.
//
// Traits describe one enumerator interface:
//   using Interface = IEnumXxx;
//   using Element = what Next hands out (an interface pointer, CONNECTDATA);
//   using Item = what the list keeps, holding its own references;
//   static Element Copy(const Item&) noexcept: an element carrying a new
//   reference, which the caller of Next releases.
//
// Each enumerator holds a module lock, so DllCanUnloadNow answers S_FALSE
// while one is alive.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "base/Handle.h"
#include "base/ModuleState.h"

template <typename Traits>
class CSnapshotEnumerator final : public Traits::Interface
{
public:
    using Interface = typename Traits::Interface;
    using Element = typename Traits::Element;
    using Item = typename Traits::Item;
    using Snapshot = std::shared_ptr<const std::vector<Item>>;

    // Hands out a new enumerator over items at position 0.
    static HRESULT Create(std::vector<Item> items, Interface** result) noexcept
    {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        return ResultOfCall([&]() -> HRESULT {
            return Create(std::make_shared<const std::vector<Item>>(std::move(items)), 0, result);
        });
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (!result)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *result = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG references = InterlockedDecrement(&m_references);
        if (references == 0)
            delete this;
        return static_cast<ULONG>(references);
    }

    // IEnumXxx. Next hands out up to count elements; fetched may be null
    // only when exactly one is asked for. S_FALSE when fewer were left.
    STDMETHODIMP Next(ULONG count, Element* elements, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!elements || (!fetched && count != 1))
            return E_POINTER;
        CriticalSectionLock lock(m_lock);
        const ULONG taken = Advance(count);
        for (ULONG i = 0; i < taken; ++i)
            elements[i] = Traits::Copy((*m_items)[m_position - taken + i]);
        if (fetched)
            *fetched = taken;
        return taken == count ? S_OK : S_FALSE;
    }

    STDMETHODIMP Skip(ULONG count) override
    {
        CriticalSectionLock lock(m_lock);
        return Advance(count) == count ? S_OK : S_FALSE;
    }

    STDMETHODIMP Reset() override
    {
        CriticalSectionLock lock(m_lock);
        m_position = 0;
        return S_OK;
    }

    STDMETHODIMP Clone(Interface** result) override
    {
        if (!result)
            return E_POINTER;
        *result = nullptr;
        CriticalSectionLock lock(m_lock);
        return Create(m_items, m_position, result);
    }

private:
    CSnapshotEnumerator(Snapshot items, size_t position) noexcept : m_items(std::move(items)), m_position(position)
    {
        ModuleLock();
    }
    ~CSnapshotEnumerator() { ModuleUnlock(); }

    static HRESULT Create(const Snapshot& items, size_t position, Interface** result) noexcept
    {
        return ResultOfCall([&]() -> HRESULT {
            *result = new CSnapshotEnumerator(items, position);
            return S_OK;
        });
    }

    // Moves the position on by at most count items (not past the end) and
    // returns how far it moved. Called under the lock.
    ULONG Advance(ULONG count) noexcept
    {
        const auto taken = static_cast<ULONG>(std::min<size_t>(count, m_items->size() - m_position));
        m_position += taken;
        return taken;
    }

    LONG m_references = 1;
    CriticalSection m_lock;
    const Snapshot m_items;
    size_t m_position;
};
