// hook/wait_hooks.cpp
#include "hook/wait_hooks.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "hook/socket_registry.h"

namespace hook {

namespace {

using Clock = std::chrono::steady_clock;

// While a pending tunnel is among the sockets waited for, the system is asked
// in short turns, so that the tunnel's end is seen soon after it comes.
constexpr int kTurnMs = 5;

// The program's fd_set may have been built with any FD_SETSIZE: copies are
// sized to its count. Element 0 holds the count, as fd_set's layout does.
class SocketSet {
public:
    explicit SocketSet(const fd_set* set) : m_storage(1 + (set != nullptr ? set->fd_count : 0))
    {
        Count() = 0;
    }
    fd_set* Get() { return reinterpret_cast<fd_set*>(m_storage.data()); }
    u_int& Count() { return Get()->fd_count; }
    SOCKET* Begin() { return Get()->fd_array; }
    void Add(SOCKET socket) { Begin()[Count()++] = socket; }
    bool Has(SOCKET socket)
    {
        return std::find(Begin(), Begin() + Count(), socket) != Begin() + Count();
    }

private:
    std::vector<SOCKET> m_storage;
};

enum class Seen { System, Pending, Failed };

Seen Look(LockedSockets& sockets, SOCKET socket)
{
    const SocketRecord* record = sockets.Find(socket);
    if (record == nullptr)
        return Seen::System;
    if (record->state == TunnelState::Pending)
        return Seen::Pending;
    return record->state == TunnelState::Failed ? Seen::Failed : Seen::System;
}

struct Split {
    bool pending = false;  // some socket waits for its tunnel
    int failedCount = 0;   // failed tunnels reported as failed connects
};

// Which of the program's sockets the system is asked about.
Split SplitSets(fd_set* const sets[3], SocketSet* asked[3], SocketSet* failedOut)
{
    Split split;
    LockedSockets sockets;
    for (int i = 0; i < 3; ++i) {
        if (sets[i] == nullptr)
            continue;
        for (u_int n = 0; n < sets[i]->fd_count; ++n) {
            const SOCKET socket = sets[i]->fd_array[n];
            switch (Look(sockets, socket)) {
            case Seen::System:
                asked[i]->Add(socket);
                break;
            case Seen::Pending:
                split.pending = true;
                break;
            case Seen::Failed:
                // A failed connect shows in the exception set only.
                if (i == 2 && !failedOut->Has(socket)) {
                    failedOut->Add(socket);
                    ++split.failedCount;
                }
                break;
            }
        }
    }
    return split;
}

void CopyBack(fd_set* to, SocketSet& from)
{
    if (to == nullptr)
        return;
    to->fd_count = from.Count();
    std::copy(from.Begin(), from.Begin() + from.Count(), to->fd_array);
}

long long RemainingMs(bool forever, Clock::time_point end)
{
    if (forever)
        return kTurnMs;
    return std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
}

}  // namespace

int WSAAPI HookSelect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                      const timeval* timeout)
{
    fd_set* const sets[3] = {readable, writable, failed};
    const bool forever = timeout == nullptr;
    const Clock::time_point end = forever ? Clock::time_point{}
                                          : Clock::now() + std::chrono::seconds(timeout->tv_sec) +
                                                std::chrono::microseconds(timeout->tv_usec);
    for (;;) {
        SocketSet read(readable);
        SocketSet write(writable);
        SocketSet except(failed);
        SocketSet failedTunnels(failed);
        SocketSet* asked[3] = {&read, &write, &except};
        const Split split = SplitSets(sets, asked, &failedTunnels);
        if (!split.pending && split.failedCount == 0)
            return select(count, readable, writable, failed, const_cast<timeval*>(timeout));

        const long long left = RemainingMs(forever, end);
        const long long turn = split.failedCount > 0 ? 0 : std::min<long long>(left, kTurnMs);
        timeval wait{static_cast<long>(turn / 1000), static_cast<long>((turn % 1000) * 1000)};
        int ready = 0;
        if (read.Count() + write.Count() + except.Count() > 0) {
            ready = select(count, readable != nullptr ? read.Get() : nullptr,
                           writable != nullptr ? write.Get() : nullptr,
                           failed != nullptr ? except.Get() : nullptr, &wait);
            if (ready == SOCKET_ERROR)
                return SOCKET_ERROR;
        } else if (turn > 0) {
            Sleep(static_cast<DWORD>(turn));
        }
        if (ready > 0 || split.failedCount > 0 || (!forever && left <= turn)) {
            for (u_int n = 0; n < failedTunnels.Count(); ++n) {
                if (!except.Has(failedTunnels.Begin()[n]))
                    except.Add(failedTunnels.Begin()[n]);
            }
            CopyBack(readable, read);
            CopyBack(writable, write);
            CopyBack(failed, except);
            return ready + split.failedCount;
        }
    }
}

int WSAAPI HookWSAPoll(WSAPOLLFD* entries, ULONG count, INT timeout)
{
    if (entries == nullptr || count == 0)
        return WSAPoll(entries, count, timeout);
    const bool forever = timeout < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout);
    for (;;) {
        std::vector<WSAPOLLFD> asked;
        std::vector<ULONG> where;
        bool pending = false;
        int failedCount = 0;
        {
            LockedSockets sockets;
            for (ULONG i = 0; i < count; ++i) {
                entries[i].revents = 0;
                switch (Look(sockets, entries[i].fd)) {
                case Seen::System:
                    asked.push_back(entries[i]);
                    where.push_back(i);
                    break;
                case Seen::Pending:
                    pending = true;
                    break;
                case Seen::Failed:
                    entries[i].revents = POLLERR | POLLHUP;
                    ++failedCount;
                    break;
                }
            }
        }
        if (!pending && failedCount == 0)
            return WSAPoll(entries, count, timeout);

        const long long left = RemainingMs(forever, end);
        const long long turn = failedCount > 0 ? 0 : std::min<long long>(left, kTurnMs);
        int ready = 0;
        if (!asked.empty()) {
            ready = WSAPoll(asked.data(), static_cast<ULONG>(asked.size()), static_cast<INT>(turn));
            if (ready == SOCKET_ERROR)
                return SOCKET_ERROR;
        } else if (turn > 0) {
            Sleep(static_cast<DWORD>(turn));
        }
        if (ready > 0 || failedCount > 0 || (!forever && left <= turn)) {
            for (std::size_t n = 0; n < asked.size(); ++n)
                entries[where[n]].revents = asked[n].revents;
            return ready + failedCount;
        }
    }
}

}  // namespace hook
