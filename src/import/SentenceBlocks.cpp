// The block reader and writer of the sentence files: sources are read and
// sentences written 256 KiB at a time, so that memory does not grow with a
// file's size.
#include "import/SentenceFile.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/Exception.h"
#include "import/ByteWords.h"

using namespace ByteWords;

namespace {

// A text file with a NUL byte in a line, or a line longer than any text
// file of lines has, is damaged: its lines are not what its writer meant,
// so none of them is taken.
[[noreturn]] void ThrowDamagedLineAt(WORD failure, const std::wstring& path, size_t line)
{
    try {
        ThrowOwnFailureAt(failure, static_cast<unsigned>(line));
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(path);
        throw;
    }
}

constexpr size_t c_blockSize = 256 * 1024;
constexpr size_t c_longestLineBlock = 1024 * 1024;

// Position of the first LF or NUL byte, or size. Eight bytes are tested
// at a time: the C library's memchr tests one.
size_t FindLineEndOrNul(const char* bytes, size_t size) noexcept
{
    size_t pos = 0;
    for (; pos + 8 <= size; pos += 8) {
        const uint64_t word = LoadWord(bytes + pos);
        if (HasZeroByte(word) || HasZeroByte(word ^ (c_everyByte * '\n')))
            break;
    }
    for (; pos < size; ++pos)
        if (bytes[pos] == '\n' || bytes[pos] == '\0')
            return pos;
    return size;
}

std::unique_ptr<char[]> AllocateBlock(size_t size)
{
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block)
        ThrowHr(E_OUTOFMEMORY);
    return block;
}

} // namespace

TextLineReader::TextLineReader(const std::wstring& path)
    : m_path(path),
      m_file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)),
      m_block(AllocateBlock(c_blockSize)), m_capacity(c_blockSize)
{
    if (!m_file)
        ThrowLastErrorFor(path);
}

bool TextLineReader::Next(std::string_view& line)
{
    for (;;) {
        const char* start = m_block.get() + m_start;
        const size_t available = m_end - m_start;
        const size_t lineEnd = FindLineEndOrNul(start, available);
        if (lineEnd < available && start[lineEnd] == '\0')
            ThrowDamagedLineAt(TextFailure::NulByte, m_path, m_lineNumber + 1);
        if (lineEnd < available) {
            m_start += lineEnd + 1;
            return Deliver(std::string_view(start, lineEnd), line);
        }
        if (m_atEnd) {
            // What follows the last LF is a line only when it holds more
            // than CRs, so that LF CR line ends give the same lines as CR LF.
            const std::string_view rest(start, available);
            m_start = m_end;
            return rest.find_first_not_of('\r') != std::string_view::npos && Deliver(rest, line);
        }
        m_atEnd = !ReadMore();
    }
}

bool TextLineReader::Deliver(std::string_view piece, std::string_view& line)
{
    ++m_lineNumber;
    while (!piece.empty() && piece.front() == '\r')
        piece.remove_prefix(1);
    while (!piece.empty() && piece.back() == '\r')
        piece.remove_suffix(1);
    line = piece;
    return true;
}

bool TextLineReader::ReadMore()
{
    const size_t unread = m_end - m_start;
    if (unread == m_capacity) {
        if (m_capacity >= c_longestLineBlock)
            ThrowDamagedLineAt(TextFailure::LineTooLong, m_path, m_lineNumber + 1);
        std::unique_ptr<char[]> larger = AllocateBlock(m_capacity * 2);
        std::memcpy(larger.get(), m_block.get() + m_start, unread);
        m_block = std::move(larger);
        m_capacity *= 2;
    } else {
        std::memmove(m_block.get(), m_block.get() + m_start, unread);
    }
    m_start = 0;
    m_end = unread;
    DWORD read = 0;
    if (!ReadFile(m_file.Get(), m_block.get() + m_end, static_cast<DWORD>(m_capacity - m_end), &read, nullptr))
        ThrowLastErrorFor(m_path);
    m_end += read;
    return read != 0;
}

SentenceWriter::SentenceWriter(const std::wstring& destination)
    : m_file(destination), m_block(AllocateBlock(c_blockSize))
{
}

void SentenceWriter::Write(std::string_view sentence)
{
    constexpr size_t checksumAndLineEnd = 5; // "*hh\r\n"
    if (m_used + sentence.size() + checksumAndLineEnd > c_blockSize)
        Flush();
    if (sentence.size() + checksumAndLineEnd > c_blockSize) {
        // Longer than a block: the sentence goes out by itself.
        std::string whole(sentence);
        AppendChecksum(whole);
        whole += "\r\n";
        WriteAll(m_file.Get(), whole.data(), whole.size());
        return;
    }
    char* bytes = m_block.get() + m_used;
    std::memcpy(bytes, sentence.data(), sentence.size());
    size_t length = sentence.size();
    if (length > 1 && bytes[0] == '$')
        length = AppendChecksumTo(bytes, length);
    bytes[length++] = '\r';
    bytes[length++] = '\n';
    m_used += length;
}

void SentenceWriter::Flush()
{
    WriteAll(m_file.Get(), m_block.get(), m_used);
    m_used = 0;
}

void SentenceWriter::Commit()
{
    Flush();
    m_file.Commit();
}

