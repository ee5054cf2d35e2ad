#include "BackgroundReader.h"

#include "base/Exception.h"

namespace {

constexpr DWORD c_blockBytes = 256 * 1024;
constexpr size_t c_blocksAhead = 4;

} // namespace

CBackgroundReader::CBackgroundReader(UniqueHFile file, std::wstring path)
    : m_shared(std::make_shared<Shared>()), m_path(std::move(path))
{
    m_shared->file = std::move(file);
    m_shared->filled.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_shared->taken.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_shared->filled || !m_shared->taken)
        ThrowLastError();
    auto threadReference = std::make_unique<std::shared_ptr<Shared>>(m_shared);
    m_thread.Reset(CreateThread(nullptr, 0, ThreadProcedure, threadReference.get(), 0, nullptr));
    if (!m_thread)
        ThrowLastError();
    threadReference.release();
}

CBackgroundReader::~CBackgroundReader()
{
    {
        CriticalSectionLock lock(m_shared->lock);
        m_shared->abandoned = true;
    }
    SetEvent(m_shared->taken.Get());
    CancelSynchronousIo(m_thread.Get());
}

std::optional<std::string> CBackgroundReader::Next(ULONGLONG deadline)
{
    for (;;) {
        {
            CriticalSectionLock lock(m_shared->lock);
            if (!m_shared->blocks.empty()) {
                std::string block = std::move(m_shared->blocks.front());
                m_shared->blocks.pop_front();
                SetEvent(m_shared->taken.Get());
                return block;
            }
            if (FAILED(m_shared->failure)) {
                CAtlException failure(m_shared->failure);
                failure.SetPathIfUnknown(m_path);
                throw failure;
            }
            if (m_shared->ended)
                return std::string();
        }
        DWORD wait = INFINITE;
        if (deadline) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return std::nullopt;
            wait = static_cast<DWORD>(deadline - now);
        }
        WaitForSingleObject(m_shared->filled.Get(), wait);
    }
}

DWORD WINAPI CBackgroundReader::ThreadProcedure(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(parameter));
    ReadAll(**shared);
    return 0;
}

// Waits until fewer than c_blocksAhead blocks are queued; false when the
// consumer has gone.
bool CBackgroundReader::WaitForRoom(Shared& shared) noexcept
{
    for (;;) {
        {
            CriticalSectionLock lock(shared.lock);
            if (shared.abandoned)
                return false;
            if (shared.blocks.size() < c_blocksAhead)
                return true;
        }
        WaitForSingleObject(shared.taken.Get(), INFINITE); // the consumer's leaving sets it too
    }
}

// The result of a read that ended the file: S_OK at its end (a pipe whose
// writer has gone ends like a file), else the system error.
HRESULT CBackgroundReader::ReadResult(DWORD error) noexcept
{
    if (error == ERROR_BROKEN_PIPE)
        return S_OK;
    return error == 0 ? E_FAIL : HResultFromWin32(error);
}

// Queues blocks until the end of the file, a failure or the consumer's
// leaving.
void CBackgroundReader::ReadAll(Shared& shared) noexcept
{
    HRESULT failure = S_OK;
    while (WaitForRoom(shared)) {
        try {
            std::string block(c_blockBytes, '\0');
            DWORD read = 0;
            if (!ReadFile(shared.file.Get(), block.data(), c_blockBytes, &read, nullptr)) {
                failure = ReadResult(GetLastError());
                break;
            }
            if (read == 0)
                break;
            block.resize(read);
            CriticalSectionLock lock(shared.lock);
            shared.blocks.push_back(std::move(block));
            SetEvent(shared.filled.Get());
        } catch (...) {
            failure = E_OUTOFMEMORY;
            break;
        }
    }
    CriticalSectionLock lock(shared.lock);
    shared.failure = failure;
    shared.ended = true;
    SetEvent(shared.filled.Get());
}
