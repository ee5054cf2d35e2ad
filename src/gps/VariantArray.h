// SAFEARRAYs of VARIANTs for event arguments, and a pool that lends them
// again once every sink has returned.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <atomic>
#include <vector>

// One-dimensional SAFEARRAYs of VARIANTs kept for reuse. The arguments of
// an event belong to the code that fires it, and sinks may not keep them,
// so once every sink has returned, its arrays can carry the next event
// instead of being destroyed and created again: an interpreter with a pool
// fires satellite lists without heap operations. Arrays of up to
// c_largestCount elements are kept, at most c_keptPerCount of each size;
// an array a sink has left locked or reshaped is destroyed instead.
//
// One event at a time uses the pool, through a Use: building and firing
// an event then takes no lock. An event built meanwhile on another thread,
// or by a sink that calls back into the object, gets no pool and creates
// and destroys its arrays as usual.
class CVariantArrayPool
{
public:
    static constexpr ULONG c_largestCount = 32;
    static constexpr size_t c_keptPerCount = 64;

    class Use
    {
    public:
        explicit Use(CVariantArrayPool& pool) noexcept
            : m_pool(pool.m_busy.exchange(true, std::memory_order_acquire) ? nullptr : &pool)
        {
        }
        ~Use()
        {
            if (m_pool)
                m_pool->m_busy.store(false, std::memory_order_release);
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        // The pool, or nullptr when it is in use elsewhere.
        CVariantArrayPool* Get() const noexcept { return m_pool; }

    private:
        CVariantArrayPool* m_pool;
    };

    CVariantArrayPool() = default;
    ~CVariantArrayPool();
    CVariantArrayPool(const CVariantArrayPool&) = delete;
    CVariantArrayPool& operator=(const CVariantArrayPool&) = delete;

    // An array of count VT_EMPTY elements with lower bound 0; nullptr when
    // memory runs out. Only through a Use.
    SAFEARRAY* Take(ULONG count) noexcept;
    // Takes the array back: its elements are cleared (arrays among them
    // return to the pool too) and it is kept or destroyed. Only through a
    // Use.
    void Return(SAFEARRAY* array) noexcept;

private:
    static bool IsReusable(const SAFEARRAY* array) noexcept;

    std::atomic<bool> m_busy{false};
    std::array<std::vector<SAFEARRAY*>, c_largestCount + 1> m_free;
};

// A SAFEARRAY of VARIANTs with lower bound 0, wrapped in a VARIANT of type
// VT_ARRAY|VT_VARIANT. Elements are set before the array is handed over.
// With a pool the array comes from it and goes back to it.
class CVariantArray
{
public:
    explicit CVariantArray(ULONG count, CVariantArrayPool* pool = nullptr);
    ~CVariantArray();
    CVariantArray(const CVariantArray&) = delete;
    CVariantArray& operator=(const CVariantArray&) = delete;

    VARIANT& operator[](ULONG index) noexcept { return m_elements[index]; }

    // Moves the array into a VARIANT; this object becomes empty.
    void Detach(VARIANT& target) noexcept;

private:
    SAFEARRAY* m_array;
    VARIANT* m_elements;
    CVariantArrayPool* m_pool;
};
