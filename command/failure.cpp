#include "command/failure.hpp"

#include "command/errname.hpp"

#include <cstdio>
#include <cstring>

namespace Vtfailure {

static std::string describe(const std::string& name, const std::vector<failure_arg>& args)
{
    std::string out = name;
    if (args.empty())
        return out;
    out += '(';
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0)
            out += ", ";
        const failure_arg& a = args[i];
        switch (a.k) {
        case failure_arg::kind::integer: out += std::to_string(a.integer); break;
        case failure_arg::kind::text: out += '"' + a.text + '"'; break;
        case failure_arg::kind::symbol: out += a.text; break;
        }
    }
    out += ')';
    return out;
}

failure::failure(std::string name, std::vector<failure_arg> args)
    : name_(std::move(name)), args_(std::move(args)), description_(Vtfailure::describe(name_, args_))
{
}

failure end_of_file() { return failure("End_of_file"); }
failure out_of_memory() { return failure("Out_of_memory"); }

failure unix_error(int err, const std::string& call, const std::string& arg)
{
    const char* symbol = errno_name(err);
    std::string token = symbol ? std::string("Unix.") + symbol : "Unix.EUNKNOWNERR " + std::to_string(err);
    return failure("Unix.Unix_error",
                   {failure_arg::of_symbol(token), failure_arg::of_text(call), failure_arg::of_text(arg)});
}

failure sys_error(const std::string& path, int err)
{
    return failure("Sys_error", {failure_arg::of_text(path + ": " + std::strerror(err))});
}

failure not_a_regular_file(const std::string& path)
{
    return failure("Sys_error", {failure_arg::of_text(path + ": Not a regular file")});
}

failure int_of_string() { return failure("Failure", {failure_arg::of_text("int_of_string")}); }
failure not_found() { return failure("Not_found"); }

} // namespace Vtfailure
