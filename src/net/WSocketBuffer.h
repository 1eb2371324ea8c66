#pragma once
// TBuffer: one fixed-capacity block of outgoing bytes. A socket chains such blocks,
// appending at the tail and sending from the head.

#include <memory>

class TBuffer {
public:
    // The capacity chosen for a requested size of 0 or less.
    static constexpr int DefaultSize = 1514;

    explicit TBuffer(int Size);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // Changes the capacity, keeping the written bytes. NewSize must not be below WritePos.
    void Resize(int NewSize);
    // Copies what fits after the written bytes; returns the count copied.
    int PutData(const void* Data, int Len);
    // Start of the unread bytes and their count; nullptr and 0 when none.
    const char* PeekData(int& Len) const;
    // Drops up to Len unread bytes; a drained block starts over at position 0.
    int Consume(int Len);

    int Capacity() const { return FCapacity; }
    int WritePos() const { return FWritePos; }
    int ReadPos() const { return FReadPos; }

private:
    std::unique_ptr<char[]> FStorage;
    int FCapacity = 0;
    int FWritePos = 0;
    int FReadPos = 0;
};
