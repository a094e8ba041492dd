// Reads a file whole with plain system calls, refusing anything the formats could not hold.
#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>

namespace qv {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

HRESULT ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may
    // never come; the check below refuses it once open.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        return E_FAIL;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return E_FAIL;
    }
    if (info.st_size <= 0 ||
        static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<std::uint32_t>::max()) {
        return E_FAIL;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        bytes = {};
        return E_OUTOFMEMORY;
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(file.get(), bytes.data() + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // Shrunk while reading, or an I/O error: either way not the whole file.
            bytes = {};
            return E_FAIL;
        }
        done += static_cast<std::size_t>(got);
    }
    if (!file.Close()) {
        bytes = {};
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace qv
