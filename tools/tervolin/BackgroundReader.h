// Reads a file on a thread of its own, a block at a time and at most a few
// blocks ahead of its consumer. A source that blocks (a FIFO whose writer
// sends nothing, a share that stalls) cannot hold the consumer past its
// deadline: Next returns when the deadline passes, and the thread, which
// shares only the queue with the consumer, ends at the latest with the
// process.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "base/Handle.h"

class CBackgroundReader
{
public:
    // Starts reading the open file; the path names it in failures. Raises
    // the system error when the thread cannot be started.
    CBackgroundReader(UniqueHFile file, std::wstring path);
    // Asks the thread to stop and to give up a read that blocks; does not
    // wait for it.
    ~CBackgroundReader();
    CBackgroundReader(const CBackgroundReader&) = delete;
    CBackgroundReader& operator=(const CBackgroundReader&) = delete;

    // The next block of bytes, empty at the end of the file; nothing when
    // the deadline (a GetTickCount64 value, 0 for none) passes first.
    // Raises the failure of a read, naming the path.
    std::optional<std::string> Next(ULONGLONG deadline);

private:
    struct Shared
    {
        UniqueHFile file;
        CriticalSection lock;
        UniqueHandle filled; // a block, the end or a failure was queued
        UniqueHandle taken;  // a block was taken, or the consumer has gone
        std::deque<std::string> blocks;
        bool ended = false;
        HRESULT failure = S_OK;
        bool abandoned = false;
    };

    static DWORD WINAPI ThreadProcedure(void* parameter);
    static bool WaitForRoom(Shared& shared) noexcept;
    static HRESULT ReadResult(DWORD error) noexcept;
    static void ReadAll(Shared& shared) noexcept;

    std::shared_ptr<Shared> m_shared;
    std::wstring m_path;
    UniqueHandle m_thread;
};
