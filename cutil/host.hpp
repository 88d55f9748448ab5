// The host calls of the command: OS identity, locations, permissions, umask, salts.
// The answers are those of the product's home build, compiled in.
#pragma once

#include <array>
#include <string>

namespace cutil {

using random_token = std::array<unsigned char, 16>;

std::string get_os_type();
std::string file_sep();
std::string get_etc_directory();
// Prints its error line and changes nothing on disk on this platform.
std::string set_permissions(const std::string& path);
// Sets the low 16 bits as the file-mode creation mask; answers the previous mask.
int call_umask(int mask);
// 16 bytes from clock jitter around file-open attempts, mixed with the system's generator.
random_token make_random();

} // namespace cutil
