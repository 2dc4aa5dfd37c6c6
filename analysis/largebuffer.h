#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>

// Memory for picture-sized work. Large blocks are mapped straight from the system, so they
// read as zero and cost nothing until touched; with `hugePages` they ask for 2 MiB pages,
// because touching fresh memory 4 KiB at a time can cost more than the work done on it.
// Small blocks come from the heap, zero-filled.
class LargeBuffer
{
public:
    LargeBuffer() = default;
    LargeBuffer(size_t bytes, bool hugePages);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer &&other) noexcept;
    LargeBuffer &operator=(LargeBuffer &&other) noexcept;
    LargeBuffer(const LargeBuffer &) = delete;
    LargeBuffer &operator=(const LargeBuffer &) = delete;

    uchar *data() const { return memory; }
    size_t size() const { return bytes; }
    bool isNull() const { return memory == nullptr; }

    // An image over a buffer of its own (freed with the last copy of the image); a null
    // image when the memory cannot be had. Contents start as zero.
    static QImage image(QSize size, QImage::Format format);

private:
    void release();

    uchar *memory = nullptr;
    size_t bytes = 0;
    void *mapping = nullptr; // null when the block came from the heap
    size_t mappedBytes = 0;
};
