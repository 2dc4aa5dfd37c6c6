#include "analysis/largebuffer.h"

#include <cstdlib>
#include <limits>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace {

constexpr size_t hugePage = size_t(2) << 20;
// Below this the heap serves well and a mapping would waste most of a page.
constexpr size_t smallestMapping = size_t(256) << 10;

void freeImageBuffer(void *info)
{
    delete static_cast<LargeBuffer *>(info);
}

} // namespace

LargeBuffer::LargeBuffer(size_t size, bool hugePages)
    : bytes(size)
{
    if (size == 0)
        return;
#ifdef Q_OS_UNIX
    if (size >= smallestMapping) {
        const bool huge = hugePages && size >= 2 * hugePage;
        mappedBytes = size + (huge ? hugePage : 0); // room to start on a page boundary
        void *pages = mmap(nullptr, mappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) {
            bytes = 0;
            mappedBytes = 0;
            return;
        }
        mapping = pages;
        memory = static_cast<uchar *>(pages);
#ifdef MADV_HUGEPAGE
        if (huge) {
            memory = reinterpret_cast<uchar *>((quintptr(pages) + hugePage - 1) & ~quintptr(hugePage - 1));
            madvise(memory, size, MADV_HUGEPAGE); // advice only: without it the pages are just smaller
        }
#endif
        return;
    }
#endif
    Q_UNUSED(hugePages);
    memory = static_cast<uchar *>(std::calloc(size, 1));
    if (!memory)
        bytes = 0;
}

LargeBuffer::~LargeBuffer()
{
    release();
}

LargeBuffer::LargeBuffer(LargeBuffer &&other) noexcept
    : memory(std::exchange(other.memory, nullptr)),
      bytes(std::exchange(other.bytes, 0)),
      mapping(std::exchange(other.mapping, nullptr)),
      mappedBytes(std::exchange(other.mappedBytes, 0))
{
}

LargeBuffer &LargeBuffer::operator=(LargeBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        memory = std::exchange(other.memory, nullptr);
        bytes = std::exchange(other.bytes, 0);
        mapping = std::exchange(other.mapping, nullptr);
        mappedBytes = std::exchange(other.mappedBytes, 0);
    }
    return *this;
}

void LargeBuffer::release()
{
#ifdef Q_OS_UNIX
    if (mapping)
        munmap(mapping, mappedBytes);
    else
#endif
        std::free(memory);
    memory = nullptr;
    mapping = nullptr;
    bytes = 0;
    mappedBytes = 0;
}

QImage LargeBuffer::image(QSize size, QImage::Format format)
{
    if (size.width() <= 0 || size.height() <= 0)
        return QImage();
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    // Rows padded to 32 bits, as QImage lays them out itself.
    const qint64 bytesPerLine = ((qint64(size.width()) * depth + 31) / 32) * 4;
    const qint64 total = bytesPerLine * size.height();
    if (bytesPerLine > std::numeric_limits<qsizetype>::max() / 2 || total <= 0)
        return QImage();
    auto *buffer = new LargeBuffer(size_t(total), true);
    if (buffer->isNull()) {
        delete buffer;
        return QImage();
    }
    return QImage(buffer->data(), size.width(), size.height(), qsizetype(bytesPerLine), format,
                  freeImageBuffer, buffer);
}
