#pragma once
// A file stream for long sequential writes, such as a download: small writes are
// gathered into large blocks, since the file system takes one 128 KiB write for a
// fraction of the cost of sixteen 8 KiB ones.

#include "platform/runtime/Streams.h"

#include <cstdint>
#include <memory>
#include <string>

// Gathered bytes reach the file when the block is full, on Flush, before anything reads,
// seeks or sizes the file, and on destruction. A failed write-out makes that Write return
// 0, and Flush (or the read, seek or size) raise EWriteError "Stream write error"; the
// destructor cannot report it, so a writer that must know calls Flush first.
class TBufferedFileStream : public TFileStream {
public:
    using TFileStream::TFileStream;
    ~TBufferedFileStream() override;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, WORD Origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t NewSize) override;
    void Flush() override;

private:
    static constexpr std::int32_t BlockSize = 128 * 1024;
    // False when the file took fewer bytes than were gathered; they are dropped either way.
    bool WriteOut();

    std::unique_ptr<char[]> FBlock;
    std::int32_t FGathered = 0;
};
