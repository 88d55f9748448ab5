// Buffered input and output channels on an owned descriptor. Failures raise Sys_error naming
// the path, so that the command's guards see them like any other failed step.
#pragma once

#include "platform/unique_fd.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace Vtfiles {

// Large enough that a million records stream in about 600 system calls each way, small enough
// that the command's memory stays flat whatever the size of the file.
inline constexpr std::size_t channel_buffer_size = 256 << 10;

class in_channel {
public:
    in_channel(cutil::unique_fd fd, std::string path);
    // Reads until n bytes or end of file; answers how many were read.
    std::size_t read(char* dst, std::size_t n);
    // One line without its newline; nothing at end of file before any byte.
    std::optional<std::string> read_line();
    // Whether the descriptor names a regular file (not a FIFO, a device or a directory).
    bool is_regular_file() const;
    void close();

private:
    bool refill();

    cutil::unique_fd fd_;
    std::string path_;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
};

class out_channel {
public:
    out_channel(cutil::unique_fd fd, std::string path);
    void write(const char* src, std::size_t n);
    // Room for n bytes (at most the buffer's size) at the end of the buffer, counted as written.
    char* slot(std::size_t n);
    void flush();
    // Flushes and makes the content durable.
    void sync();
    void close();

private:
    [[noreturn]] void fail(int err) const;
    void write_all(const char* src, std::size_t n);

    cutil::unique_fd fd_;
    std::string path_;
    std::unique_ptr<char[]> buf_;
    std::size_t len_ = 0;
};

} // namespace Vtfiles
