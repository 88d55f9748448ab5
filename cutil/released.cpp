// The queue of released addresses: first in, first out, one entry per address given back, held
// until the service collects it.
#include "cutil/report.hpp"
#include "cutil/takeover.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <syslog.h>

#include <memory>
#include <new>

namespace cutil {

namespace {

struct released_entry {
    std::uint32_t addr = 0; // network byte order
    std::unique_ptr<released_entry> next;
};

// `last_released` is where the next entry is linked: `released_list` itself while the queue is
// empty, else the newest entry's `next`.
struct released_queue {
    std::unique_ptr<released_entry> released_list;
    std::unique_ptr<released_entry>* last_released = nullptr;

    // Entries go one at a time, so a long queue cannot exhaust the stack at exit.
    ~released_queue()
    {
        while (released_list)
            released_list = std::move(released_list->next);
    }
};

released_queue queue;

std::string dotted(std::uint32_t addr)
{
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

} // namespace

std::string c_ip_init()
{
    if (!queue.released_list)
        queue.last_released = &queue.released_list;
    return "SUCCESS";
}

void enqueue_released(std::uint32_t addr)
{
    // A service that queues before c_ip_init still gets its address queued, not a crash.
    if (queue.last_released == nullptr)
        c_ip_init();
    std::unique_ptr<released_entry> entry(new (std::nothrow) released_entry);
    if (!entry) {
        errno = ENOMEM;
        compose_err("enqueue_released: malloc failed for IP address %s", dotted(addr).c_str());
        report_perror(err_buf);
        ::syslog(LOG_ERR, "%s", err_buf);
        return;
    }
    entry->addr = addr;
    *queue.last_released = std::move(entry);
    queue.last_released = &(*queue.last_released)->next;
}

std::string get_released()
{
    if (!queue.released_list)
        return "";
    std::string text = dotted(queue.released_list->addr);
    queue.released_list = std::move(queue.released_list->next);
    if (!queue.released_list)
        queue.last_released = &queue.released_list;
    return text;
}

} // namespace cutil
