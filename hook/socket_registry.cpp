// hook/socket_registry.cpp
#include "hook/socket_registry.h"

#include <unordered_map>

#include "hook/never_destroyed.h"

namespace hook {

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;

std::unordered_map<SOCKET, SocketRecord>& Records()
{
    static NeverDestroyed<std::unordered_map<SOCKET, SocketRecord>> records;
    return records.Get();
}

}  // namespace

LockedSockets::LockedSockets()
{
    AcquireSRWLockExclusive(&g_lock);
}

LockedSockets::~LockedSockets()
{
    ReleaseSRWLockExclusive(&g_lock);
}

SocketRecord& LockedSockets::operator[](SOCKET socket)
{
    return Records()[socket];
}

SocketRecord* LockedSockets::Find(SOCKET socket)
{
    auto& records = Records();
    const auto found = records.find(socket);
    return found != records.end() ? &found->second : nullptr;
}

void LockedSockets::Forget(SOCKET socket)
{
    Records().erase(socket);
}

int KnownType(SOCKET socket)
{
    LockedSockets sockets;
    const SocketRecord* record = sockets.Find(socket);
    return record != nullptr ? record->type : 0;
}

}  // namespace hook
