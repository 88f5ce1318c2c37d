// hook/shutdown_timer.h
// Ends a blocking exchange at its deadline: when the time is up before the
// exchange finished, the socket is shut down and the connect or receive the
// program's thread waits in is cancelled. The socket stays the program's: only its
// connection ends.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>

namespace hook {

class ShutdownTimer {
public:
    ShutdownTimer(SOCKET socket, int timeoutMs);
    ~ShutdownTimer();
    ShutdownTimer(const ShutdownTimer&) = delete;
    ShutdownTimer& operator=(const ShutdownTimer&) = delete;

    // Called when the exchange is over; false when the timer came first (the
    // exchange then failed, whatever it returned).
    bool Finish();
    bool Armed() const { return m_timer != nullptr; }

private:
    static VOID CALLBACK Expired(PTP_CALLBACK_INSTANCE, PVOID self, PTP_TIMER);

    enum State { Running, Finished, Fired };
    SOCKET m_socket;
    std::atomic<int> m_state{Running};
    PTP_TIMER m_timer = nullptr;
};

}  // namespace hook
