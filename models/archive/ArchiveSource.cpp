#include "models/archive/ArchiveSource.h"

#include <algorithm>
#include <cstring>

namespace vorn::archive {

namespace {
constexpr size_t kWindow = 16 * 1024;
}

ArchiveSource::~ArchiveSource() = default;

bool ArchiveSource::OpenFile(const std::string& path) {
    m_file = OpenFileForReading(path, &m_size);
    return m_file.Valid();
}

bool ArchiveSource::OpenMemory(const void* data, size_t size) {
    if (!data || size == 0)
        return false;
    m_data = static_cast<const uint8_t*>(data);
    m_size = size;
    return true;
}

bool ArchiveSource::ShareOf(const ArchiveSource& other) {
    if (other.m_data)
        return OpenMemory(other.m_data, other.m_size);
    if (!other.m_file.Valid())
        return false;
    m_file = Duplicate(other.m_file.Get());
    m_size = other.m_size;
    return m_file.Valid();
}

long ArchiveSource::ReadFile(uint64_t offset, void* into, size_t size) {
    return ReadFileAt(m_file.Get(), offset, into, size);
}

long ArchiveSource::ReadAt(uint64_t offset, void* into, size_t size) {
    if (offset >= m_size || size == 0)
        return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, m_size - offset));
    if (m_data) {
        std::memcpy(into, m_data + offset, size);
        return static_cast<long>(size);
    }
    return ReadFile(offset, into, size);
}

zlib_filefunc64_def ArchiveSource::Functions() {
    zlib_filefunc64_def f{};
    f.zopen64_file = &ArchiveSource::Open;
    f.zread_file = &ArchiveSource::Read;
    f.zwrite_file = &ArchiveSource::Write;
    f.ztell64_file = &ArchiveSource::Tell;
    f.zseek64_file = &ArchiveSource::Seek;
    f.zclose_file = &ArchiveSource::Close;
    f.zerror_file = &ArchiveSource::Error;
    f.opaque = this;
    return f;
}

voidpf ArchiveSource::Open(voidpf opaque, const void*, int mode) {
    auto* self = static_cast<ArchiveSource*>(opaque);
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    self->m_pos = 0;
    self->m_failed = false;
    return self;
}

uLong ArchiveSource::Read(voidpf, voidpf stream, void* buf, uLong size) {
    auto* self = static_cast<ArchiveSource*>(stream);
    if (self->m_pos >= self->m_size || size == 0)
        return 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, self->m_size - self->m_pos));
    if (self->m_data || wanted >= kWindow / 2) {
        const long n = self->ReadAt(self->m_pos, buf, wanted);
        if (n < 0) {
            self->m_failed = true;
            return 0;
        }
        self->m_pos += static_cast<uint64_t>(n);
        return static_cast<uLong>(n);
    }
    Window* window = nullptr;
    for (Window& w : self->m_windows) {
        if (self->m_pos >= w.start && self->m_pos + wanted <= w.start + w.size)
            window = &w;
    }
    if (!window) {
        window = self->m_windows[0].used <= self->m_windows[1].used ? &self->m_windows[0]
                                                                    : &self->m_windows[1];
        if (!window->bytes)
            window->bytes = std::make_unique<uint8_t[]>(kWindow);
        const long n = self->ReadFile(self->m_pos, window->bytes.get(), kWindow);
        if (n < 0) {
            window->size = 0;
            self->m_failed = true;
            return 0;
        }
        window->start = self->m_pos;
        window->size = static_cast<size_t>(n);
    }
    window->used = ++self->m_uses;
    const size_t available =
        static_cast<size_t>(std::min<uint64_t>(wanted, window->start + window->size - self->m_pos));
    std::memcpy(buf, window->bytes.get() + (self->m_pos - window->start), available);
    self->m_pos += available;
    return static_cast<uLong>(available);
}

uLong ArchiveSource::Write(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ArchiveSource::Tell(voidpf, voidpf stream) {
    return static_cast<ArchiveSource*>(stream)->m_pos;
}

long ArchiveSource::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* self = static_cast<ArchiveSource*>(stream);
    // minizip steps back within a record by a relative seek of a wrapped-around unsigned
    // count: relative offsets are two's complement. Offsets from a damaged directory can
    // point anywhere; past the end reads simply come up short, but before the start is refused.
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            self->m_pos = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = self->m_pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = self->m_size;
            break;
        default:
            return -1;
    }
    const auto delta = static_cast<int64_t>(offset);
    if (delta < 0 ? uint64_t(0) - static_cast<uint64_t>(delta) > base
                  : static_cast<uint64_t>(delta) > UINT64_MAX - base)
        return -1;
    self->m_pos = base + static_cast<uint64_t>(delta);
    return 0;
}

int ArchiveSource::Close(voidpf, voidpf) {
    return 0;
}

int ArchiveSource::Error(voidpf, voidpf stream) {
    return static_cast<ArchiveSource*>(stream)->m_failed ? 1 : 0;
}

}  // namespace vorn::archive
