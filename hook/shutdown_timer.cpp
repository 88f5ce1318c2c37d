// hook/shutdown_timer.cpp
#include "hook/shutdown_timer.h"

namespace hook {

ShutdownTimer::ShutdownTimer(SOCKET socket, int timeoutMs) : m_socket(socket)
{
    m_timer = CreateThreadpoolTimer(&Expired, this, nullptr);
    if (m_timer == nullptr)
        return;
    // Relative due time, in 100 ns units.
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-(static_cast<LONGLONG>(timeoutMs) * 10000));
    FILETIME dueTime{due.LowPart, due.HighPart};
    SetThreadpoolTimer(m_timer, &dueTime, 0, 0);
}

ShutdownTimer::~ShutdownTimer()
{
    if (m_timer == nullptr)
        return;
    SetThreadpoolTimer(m_timer, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(m_timer, TRUE);
    CloseThreadpoolTimer(m_timer);
}

bool ShutdownTimer::Finish()
{
    int running = Running;
    return m_state.compare_exchange_strong(running, Finished) || running == Finished;
}

VOID CALLBACK ShutdownTimer::Expired(PTP_CALLBACK_INSTANCE, PVOID self, PTP_TIMER)
{
    auto* timer = static_cast<ShutdownTimer*>(self);
    int running = Running;
    if (!timer->m_state.compare_exchange_strong(running, Fired))
        return;
    // A waiting connect or receive is cancelled (Wine ends neither on
    // shutdown). Nothing else of the program's is pending on the socket
    // while it waits for its connect.
    shutdown(timer->m_socket, SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(timer->m_socket), nullptr);
}

}  // namespace hook
