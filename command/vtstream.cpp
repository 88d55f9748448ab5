#include "command/vtstream.hpp"

#include "command/failure.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Vtfiles {

in_channel::in_channel(cutil::unique_fd fd, std::string path)
    : fd_(std::move(fd)), path_(std::move(path)), buf_(new char[channel_buffer_size])
{
}

bool in_channel::refill()
{
    for (;;) {
        ssize_t n = ::read(fd_.get(), buf_.get(), channel_buffer_size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Vtfailure::sys_error(path_, errno);
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
        return n > 0;
    }
}

std::size_t in_channel::read(char* dst, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        if (pos_ == len_ && !refill())
            break;
        std::size_t take = std::min(n - got, len_ - pos_);
        std::memcpy(dst + got, buf_.get() + pos_, take);
        pos_ += take;
        got += take;
    }
    return got;
}

std::optional<std::string> in_channel::read_line()
{
    std::string line;
    bool any = false;
    for (;;) {
        if (pos_ == len_ && !refill())
            return any ? std::optional<std::string>(line) : std::nullopt;
        any = true;
        const char* start = buf_.get() + pos_;
        const void* nl = std::memchr(start, '\n', len_ - pos_);
        if (nl) {
            std::size_t take = static_cast<const char*>(nl) - start;
            line.append(start, take);
            pos_ += take + 1;
            return line;
        }
        line.append(start, len_ - pos_);
        pos_ = len_;
    }
}

bool in_channel::is_regular_file() const
{
    struct stat st;
    return ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode);
}

void in_channel::close()
{
    if (fd_.valid() && fd_.close() != 0)
        throw Vtfailure::sys_error(path_, errno);
}

out_channel::out_channel(cutil::unique_fd fd, std::string path)
    : fd_(std::move(fd)), path_(std::move(path)), buf_(new char[channel_buffer_size])
{
}

void out_channel::fail(int err) const { throw Vtfailure::sys_error(path_, err); }

void out_channel::write_all(const char* src, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(fd_.get(), src + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            fail(errno);
        done += static_cast<std::size_t>(w);
    }
}

void out_channel::write(const char* src, std::size_t n)
{
    if (len_ + n > channel_buffer_size)
        flush();
    if (n >= channel_buffer_size) {
        write_all(src, n);
        return;
    }
    std::memcpy(buf_.get() + len_, src, n);
    len_ += n;
}

char* out_channel::slot(std::size_t n)
{
    if (len_ + n > channel_buffer_size)
        flush();
    char* at = buf_.get() + len_;
    len_ += n;
    return at;
}

void out_channel::flush()
{
    write_all(buf_.get(), len_);
    len_ = 0;
}

void out_channel::sync()
{
    flush();
    if (::fsync(fd_.get()) != 0)
        fail(errno);
}

void out_channel::close()
{
    if (!fd_.valid())
        return;
    flush();
    if (fd_.close() != 0)
        fail(errno);
}

} // namespace Vtfiles
