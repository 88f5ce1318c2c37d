// hook/tunnel_engine.cpp
#include "hook/tunnel_engine.h"

#include <memory>

#include "hook/proxy_settings.h"
#include "hook/socket_registry.h"
#include "hook/tunnel.h"
#include "socks/socket_io.h"

namespace hook {

namespace {

int Fail(int error)
{
    WSASetLastError(error);
    return SOCKET_ERROR;
}

bool SetNonBlocking(SOCKET socket, bool nonBlocking)
{
    u_long value = nonBlocking ? 1 : 0;
    return ioctlsocket(socket, FIONBIO, &value) == 0;
}

// What a second connect on the same socket answers, as the system would;
// 0 when a tunnel may start.
int RepeatedConnectError(const SocketRecord& record)
{
    switch (record.state) {
    case TunnelState::Pending:
        return WSAEALREADY;
    case TunnelState::Open:
        return WSAEISCONN;
    case TunnelState::Failed:
        // The socket is spent on the proxy: the retry fails as the first did.
        return record.error;
    case TunnelState::None:
        break;
    }
    return 0;
}

// Marks the tunnel pending and hides the program's notifications from the
// system while the handshake runs. 0, or the error to fail the call with.
int BeginTunnel(SOCKET socket, const Destination& destination, bool& nonBlocking)
{
    LockedSockets sockets;
    SocketRecord& record = sockets[socket];
    if (const int error = RepeatedConnectError(record))
        return error;
    record.state = TunnelState::Pending;
    record.error = 0;
    record.destination = destination;
    record.connectEventDue = false;
    nonBlocking = record.nonBlocking;
    if (record.selection.kind != Selection::Kind::None)
        WSAEventSelect(socket, nullptr, 0);  // also ends a window's selection
    return 0;
}

// NTSTATUS codes the system leaves in an OVERLAPPED for these errors:
// WSAGetOverlappedResult turns them back into Winsock's.
ULONG_PTR OverlappedStatus(int error)
{
    switch (error) {
    case 0:
        return 0;
    case WSAECONNREFUSED:
        return 0xC0000236;  // STATUS_CONNECTION_REFUSED
    case WSAETIMEDOUT:
        return 0xC00000B5;  // STATUS_IO_TIMEOUT
    case WSAENETUNREACH:
        return 0xC000023C;  // STATUS_NETWORK_UNREACHABLE
    case WSAEHOSTUNREACH:
        return 0xC000023D;  // STATUS_HOST_UNREACHABLE
    case WSAECONNABORTED:
        return 0xC0000241;  // STATUS_CONNECTION_ABORTED
    default:
        return 0xC000020D;  // STATUS_CONNECTION_RESET
    }
}

// Looked up, not imported: loading user32 costs every program started with
// the library tens of milliseconds, and a program that asked for window
// messages has it loaded already.
BOOL PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    using Post = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
    const HMODULE user = GetModuleHandleW(L"user32.dll");
    const auto post = user != nullptr ? reinterpret_cast<Post>(reinterpret_cast<void*>(
                                            GetProcAddress(user, "PostMessageW")))
                                      : nullptr;
    return post != nullptr && post(window, message, wParam, lParam);
}

struct Completion {
    bool closed = false;  // the program closed the socket meanwhile
    HANDLE port = nullptr;
    ULONG_PTR portKey = 0;
};

// Records the outcome and gives the program back its notifications: the
// selection it asked for, with FD_CONNECT delivered once, carrying the
// tunnel's error. Under the lock, so that a selection the program changes
// meanwhile is the one that ends up in force.
Completion EndTunnel(SOCKET socket, int error, bool tellSelection)
{
    Completion completion;
    LockedSockets sockets;
    SocketRecord* record = sockets.Find(socket);
    if (record == nullptr || record->closeRequested) {
        sockets.Forget(socket);
        completion.closed = true;
        return completion;
    }
    record->state = error == 0 ? TunnelState::Open : TunnelState::Failed;
    record->error = error;
    completion.port = record->port;
    completion.portKey = record->portKey;
    const Selection& selection = record->selection;
    if (!tellSelection)
        return completion;
    const bool wantsConnect = (selection.events & FD_CONNECT) != 0;
    const long others = selection.events & ~FD_CONNECT;
    if (selection.kind == Selection::Kind::Event) {
        // Given back first: the system then records FD_WRITE as it would
        // after a connect, and the program reads both at once.
        if (error == 0 && others != 0)
            WSAEventSelect(socket, selection.event, others);
        if (wantsConnect) {
            record->connectEventDue = true;
            SetEvent(selection.event);
        }
    } else if (selection.kind == Selection::Kind::Window) {
        // FD_CONNECT is posted before the selection is given back, so it
        // arrives ahead of the FD_WRITE the system then posts.
        if (wantsConnect)
            PostToWindow(selection.window, selection.message, socket,
                         WSAMAKESELECTREPLY(FD_CONNECT, error));
        if (error == 0 && others != 0)
            WSAAsyncSelect(socket, selection.window, selection.message, others);
    }
    return completion;
}

struct Job {
    SOCKET socket = INVALID_SOCKET;
    Destination destination;
    bool connectEx = false;
    ConnectExRequest request;
    bool restoreBlocking = false;  // the program's socket was blocking
};

// The program's first data, sent on the fresh tunnel; the count goes into
// its OVERLAPPED.
int SendFirstData(const Job& job, const socks::Deadline& deadline, DWORD& sent)
{
    sent = 0;
    if (job.request.size == 0)
        return 0;
    if (!socks::SendAll(job.socket, static_cast<const std::uint8_t*>(job.request.data),
                        job.request.size, deadline))
        return deadline.RemainingMs() == 0 ? WSAETIMEDOUT : WSAECONNRESET;
    sent = job.request.size;
    return 0;
}

// Queues a completion packet carrying the operation's status: a failure
// makes GetQueuedCompletionStatus return FALSE with the error, as a failed
// ConnectEx does. PostQueuedCompletionStatus can only say success.
using SetIoCompletionFunction = LONG(NTAPI*)(HANDLE port, ULONG_PTR key, void* context, LONG status,
                                             ULONG_PTR information);

void QueueCompletion(HANDLE port, ULONG_PTR key, OVERLAPPED* overlapped, ULONG_PTR status,
                     DWORD sent)
{
    static const auto setIoCompletion =
        reinterpret_cast<SetIoCompletionFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetIoCompletion")));
    if (setIoCompletion == nullptr ||
        setIoCompletion(port, key, overlapped, static_cast<LONG>(status), sent) < 0)
        PostQueuedCompletionStatus(port, sent, key, overlapped);
}

// Completes the program's OVERLAPPED as the system would have: status and
// count, then its completion port (unless the program asked for none with
// the event's low bit) and its event.
void CompleteOverlapped(const Job& job, const Completion& completion, int error, DWORD sent)
{
    OVERLAPPED* overlapped = job.request.overlapped;
    const auto eventBits = reinterpret_cast<ULONG_PTR>(overlapped->hEvent);
    const HANDLE event = reinterpret_cast<HANDLE>(eventBits & ~static_cast<ULONG_PTR>(1));
    const ULONG_PTR status = OverlappedStatus(error);
    overlapped->InternalHigh = sent;
    MemoryBarrier();
    overlapped->Internal = status;
    if (completion.port != nullptr && (eventBits & 1) == 0)
        QueueCompletion(completion.port, completion.portKey, overlapped, status, sent);
    if (event != nullptr)
        SetEvent(event);
}

void FinishConnectEx(const Job& job, int error, const socks::Deadline& deadline)
{
    DWORD sent = 0;
    // A socket bound to a port the library never saw bound: the system's own
    // overlapped send completes the request there, with the first data.
    HANDLE port = nullptr;
    {
        LockedSockets sockets;
        if (const SocketRecord* record = sockets.Find(job.socket))
            port = record->port;
    }
    const bool systemCompletes = error == 0 && port == nullptr;
    if (error == 0 && !systemCompletes)
        error = SendFirstData(job, deadline, sent);
    if (job.restoreBlocking)
        SetNonBlocking(job.socket, false);
    const Completion completion = EndTunnel(job.socket, error, false);
    if (completion.closed) {
        closesocket(job.socket);
        return;
    }
    if (!systemCompletes) {
        CompleteOverlapped(job, completion, error, sent);
        return;
    }
    WSABUF buffer{job.request.size, static_cast<char*>(const_cast<void*>(job.request.data))};
    DWORD count = 0;
    if (WSASend(job.socket, &buffer, 1, &count, 0, job.request.overlapped, nullptr) != 0 &&
        WSAGetLastError() != WSA_IO_PENDING)
        CompleteOverlapped(job, completion, WSAGetLastError(), 0);
}

DWORD WINAPI RunJob(void* parameter)
{
    const std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    const socks::Deadline deadline(kTunnelTimeoutMs);
    int error = 0;
    if (job->connectEx && !SetNonBlocking(job->socket, true))
        error = WSAGetLastError();
    if (error == 0)
        error = OpenTunnel(GetProxyServer(), job->socket, job->destination, deadline.RemainingMs(),
                           false);
    if (job->connectEx) {
        FinishConnectEx(*job, error, deadline);
        return 0;
    }
    if (EndTunnel(job->socket, error, true).closed)
        closesocket(job->socket);
    return 0;
}

// Each pending tunnel waits on its own pool thread: a slow server holds up
// only the connects that go to it.
bool StartJob(std::unique_ptr<Job> job)
{
    if (!QueueUserWorkItem(&RunJob, job.get(), WT_EXECUTELONGFUNCTION))
        return false;
    job.release();  // RunJob owns it now
    return true;
}

}  // namespace

int ConnectThroughProxy(SOCKET socket, const Destination& destination, bool waitAlways)
{
    bool nonBlocking = false;
    if (const int error = BeginTunnel(socket, destination, nonBlocking))
        return Fail(error);
    if (nonBlocking && !waitAlways) {
        auto job = std::make_unique<Job>();
        job->socket = socket;
        job->destination = destination;
        if (StartJob(std::move(job)))
            return Fail(WSAEWOULDBLOCK);
        EndTunnel(socket, WSAENOBUFS, true);
        return Fail(WSAENOBUFS);
    }
    // The program waits in its call anyway: the tunnel opens on its thread.
    const int error =
        OpenTunnel(GetProxyServer(), socket, destination, kTunnelTimeoutMs, !nonBlocking);
    if (EndTunnel(socket, error, nonBlocking).closed) {
        closesocket(socket);
        return Fail(WSAEINTR);  // as a blocking call whose socket was closed
    }
    return error == 0 ? 0 : Fail(error);
}

BOOL ConnectExThroughProxy(SOCKET socket, const Destination& destination,
                           const ConnectExRequest& request)
{
    // ConnectEx needs a bound socket and an OVERLAPPED, as the system's does.
    sockaddr_storage local{};
    int localLength = sizeof local;
    if (request.overlapped == nullptr ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    bool nonBlocking = false;
    if (const int error = BeginTunnel(socket, destination, nonBlocking)) {
        WSASetLastError(error);
        return FALSE;
    }
    OVERLAPPED* overlapped = request.overlapped;
    overlapped->Internal = 0x103;  // STATUS_PENDING
    overlapped->InternalHigh = 0;
    const auto eventBits = reinterpret_cast<ULONG_PTR>(overlapped->hEvent);
    if (const HANDLE event = reinterpret_cast<HANDLE>(eventBits & ~static_cast<ULONG_PTR>(1)))
        ResetEvent(event);
    auto job = std::make_unique<Job>();
    job->socket = socket;
    job->destination = destination;
    job->connectEx = true;
    job->request = request;
    job->restoreBlocking = !nonBlocking;
    if (!StartJob(std::move(job))) {
        EndTunnel(socket, WSAENOBUFS, false);
        WSASetLastError(WSAENOBUFS);
        return FALSE;
    }
    WSASetLastError(ERROR_IO_PENDING);
    return FALSE;
}

}  // namespace hook
