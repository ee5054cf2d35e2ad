// Guards that own one handle each and release it in their destructor.
//
// UniqueAny<Traits> is the one owner template; each kind of handle is a
// traits struct naming its type, its "empty" value and its close function.
// Guards are move-only; Reset keeps the thread's last-error value so that
// cleanup never changes what GetLastError reports.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

#include "base/Exception.h"

template <typename Traits>
class UniqueAny
{
public:
    using Type = typename Traits::Type;

    UniqueAny() noexcept = default;
    explicit UniqueAny(Type value) noexcept : m_value(value) {}
    UniqueAny(UniqueAny&& other) noexcept : m_value(other.Release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { Reset(); }

    Type Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    Type Release() noexcept { return std::exchange(m_value, Traits::Invalid()); }

    void Reset(Type value = Traits::Invalid()) noexcept
    {
        Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid()) {
            DWORD lastError = GetLastError();
            Traits::Close(old);
            SetLastError(lastError);
        }
    }

    // Releases the current value and gives the address for an out-parameter.
    Type* Put() noexcept
    {
        Reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

struct HandleTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};

struct FileHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};

struct RegKeyTraits
{
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits
{
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { FreeLibrary(h); }
};

struct FindTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { FindClose(h); }
};

struct GdiObjectTraits
{
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteObject(h); }
};

struct LocalMemoryTraits
{
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type memory) noexcept { LocalFree(memory); }
};

struct WindowTraits
{
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyWindow(h); }
};

struct HookTraits
{
    using Type = HHOOK;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { UnhookWindowsHookEx(h); }
};

struct IconTraits
{
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyIcon(h); }
};

using UniqueHandle = UniqueAny<HandleTraits>;   // events, threads, mutexes
using UniqueHFile = UniqueAny<FileHandleTraits>; // CreateFile results
using UniqueHKey = UniqueAny<RegKeyTraits>;
using UniqueHModule = UniqueAny<ModuleTraits>;
using UniqueFindHandle = UniqueAny<FindTraits>;
using UniqueGdiObject = UniqueAny<GdiObjectTraits>;
using UniqueLocalMemory = UniqueAny<LocalMemoryTraits>; // FormatMessage's buffers
using UniqueWindow = UniqueAny<WindowTraits>;
using UniqueHook = UniqueAny<HookTraits>;
using UniqueIcon = UniqueAny<IconTraits>;

// A device context of a window (or of the screen, for no window), released
// with the window it came from.
class WindowDC
{
public:
    explicit WindowDC(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDC()
    {
        if (m_dc)
            ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    explicit operator bool() const noexcept { return m_dc != nullptr; }
    HDC Get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// An object selected into a device context for the guard's lifetime; the
// one it replaced is selected again at the end.
class SelectedObject
{
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~SelectedObject()
    {
        if (m_previous && m_previous != HGDI_ERROR)
            SelectObject(m_dc, m_previous);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// A critical section that lives as long as its owner.
class CriticalSection
{
public:
    CriticalSection() noexcept { InitializeCriticalSection(&m_section); }
    ~CriticalSection() { DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept { EnterCriticalSection(&m_section); }
    void Leave() noexcept { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// Holds a critical section for the lifetime of the guard.
class CriticalSectionLock
{
public:
    explicit CriticalSectionLock(CriticalSection& section) noexcept : m_section(section) { m_section.Enter(); }
    ~CriticalSectionLock() { m_section.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& m_section;
};

// Runs a function when it leaves scope, unless Dismiss() was called.
template <typename Function>
class ScopeExit
{
public:
    explicit ScopeExit(Function function) noexcept : m_function(std::move(function)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit()
    {
        if (m_armed)
            m_function();
    }
    void Dismiss() noexcept { m_armed = false; }

private:
    Function m_function;
    bool m_armed = true;
};

// A COM interface pointer that releases its reference when it leaves scope.
template <typename T>
class ComPtr
{
public:
    ComPtr() noexcept = default;
    ComPtr(T* p) noexcept : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void Reset() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    // Takes over a reference the caller already owns.
    void Attach(T* p) noexcept
    {
        Reset();
        m_p = p;
    }
    T** Put() noexcept
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // QueryInterface that raises the failure.
    template <typename U>
    ComPtr<U> As() const
    {
        ComPtr<U> result;
        ThrowIfFailed(m_p->QueryInterface(__uuidof(U), result.PutVoid()));
        return result;
    }

    // QueryInterface that reports failure as an empty pointer.
    template <typename U>
    ComPtr<U> TryAs() const noexcept
    {
        ComPtr<U> result;
        if (m_p)
            m_p->QueryInterface(__uuidof(U), result.PutVoid());
        return result;
    }

private:
    T* m_p = nullptr;
};
