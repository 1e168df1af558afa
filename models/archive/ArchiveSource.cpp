#include "models/archive/ArchiveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn::archive {

ArchiveSource::~ArchiveSource() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ArchiveSource::OpenFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ArchiveSource::OpenMemory(const void* data, size_t size) {
    if (!data || size == 0)
        return false;
    m_data = static_cast<const uint8_t*>(data);
    m_size = size;
    return true;
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
    const uint64_t wanted = std::min<uint64_t>(size, self->m_size - self->m_pos);
    if (self->m_data) {
        std::memcpy(buf, self->m_data + self->m_pos, wanted);
        self->m_pos += wanted;
        return static_cast<uLong>(wanted);
    }
    uint64_t done = 0;
    while (done < wanted) {
        const ssize_t n = ::pread(self->m_fd, static_cast<char*>(buf) + done, wanted - done,
                                  static_cast<off_t>(self->m_pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self->m_failed = n < 0;
            break;
        }
        done += static_cast<uint64_t>(n);
    }
    self->m_pos += done;
    return static_cast<uLong>(done);
}

uLong ArchiveSource::Write(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ArchiveSource::Tell(voidpf, voidpf stream) {
    return static_cast<ArchiveSource*>(stream)->m_pos;
}

long ArchiveSource::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* self = static_cast<ArchiveSource*>(stream);
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = self->m_pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = self->m_size;
            break;
        default:
            return -1;
    }
    // Offsets from a damaged directory can point anywhere; past the end reads simply come up
    // short, but wrapping around must not happen.
    if (offset > UINT64_MAX - base)
        return -1;
    self->m_pos = base + offset;
    return 0;
}

int ArchiveSource::Close(voidpf, voidpf) {
    return 0;
}

int ArchiveSource::Error(voidpf, voidpf stream) {
    return static_cast<ArchiveSource*>(stream)->m_failed ? 1 : 0;
}

}  // namespace vorn::archive
