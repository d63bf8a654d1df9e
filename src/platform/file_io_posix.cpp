#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_io.h"

namespace platform {
namespace {

FileOutcome fromErrno(int error) {
    return {error == ENOENT ? FileStatus::Missing : FileStatus::Failed, std::strerror(error)};
}

FileOutcome notRegular() {
    return {FileStatus::NotRegular, detail::kNotRegularReason};
}

}  // namespace

FileContent readFile(const std::filesystem::path& path) {
    FileContent out;
    // Looked at before opening, so that no device is opened (opening some has
    // effects), and again after, since the name may change in between.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        out.outcome = fromErrno(errno);
        return out;
    }
    if (!S_ISREG(st.st_mode)) {
        out.outcome = notRegular();
        return out;
    }
    // O_NONBLOCK: a FIFO put there since the look above opens at once instead
    // of waiting for a writer, and is then refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        out.outcome = fromErrno(errno);
        return out;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.outcome = notRegular();
        ::close(fd);
        return out;
    }
    // The size is a first guess: the file may grow or shrink while it is read.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + bytes.size() / 2 + 4096);
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            out.outcome = fromErrno(errno);
            ::close(fd);
            return out;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    out.bytes = std::move(bytes);
    return out;
}

FileOutcome writeFileReplacing(const std::filesystem::path& path,
                               std::span<const std::uint8_t> bytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return notRegular();
    // mkstemp creates the file with O_EXCL under a fresh name: an existing
    // file is never taken over.
    std::string tmp = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fromErrno(errno);
    int error = 0;
    std::size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            error = errno;
        else if (n == 0)
            error = EIO;
        else
            done += static_cast<std::size_t>(n);
    }
    // Ordinary files are created 0644 whatever mkstemp chose.
    if (error == 0 && ::fchmod(fd, 0644) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) error = errno;
    if (error == 0) return {};
    ::unlink(tmp.c_str());
    return fromErrno(error);
}

}  // namespace platform
