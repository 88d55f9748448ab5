// The command's failures: a name and arguments, printed as "Name(arg, ...)" when uncaught.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace Vtfailure {

struct failure_arg {
    enum class kind { integer, text, symbol };
    kind k;
    long integer = 0;
    std::string text; // the string of a text, the bare token of a symbol

    static failure_arg of_int(long v) { return {kind::integer, v, {}}; }
    static failure_arg of_text(std::string s) { return {kind::text, 0, std::move(s)}; }
    static failure_arg of_symbol(std::string s) { return {kind::symbol, 0, std::move(s)}; }
};

class failure : public std::exception {
public:
    explicit failure(std::string name, std::vector<failure_arg> args = {});
    const std::string& name() const noexcept { return name_; }
    const std::vector<failure_arg>& args() const noexcept { return args_; }
    // The name, then the arguments in parentheses when there are any: integers in decimal,
    // texts in double quotes, separated by ", ".
    const std::string& describe() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string name_;
    std::vector<failure_arg> args_;
    std::string description_;
};

failure end_of_file();
// Memory could not be had for what the command was doing.
failure out_of_memory();
// A system call refused: the errno's symbol, the call's name and its argument.
failure unix_error(int err, const std::string& call, const std::string& arg);
// An open or stream failure: "path: system text".
failure sys_error(const std::string& path, int err);
// A path that names a FIFO, a device or a directory where a file is expected.
failure not_a_regular_file(const std::string& path);
// A text that is not an integer.
failure int_of_string();
failure not_found();

} // namespace Vtfailure
