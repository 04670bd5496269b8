#pragma once
// The receive thread: the only reader of the port. It waits for input, reads it in bursts,
// deframes and posts what it found to the link's owner.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrel {

class CSerialPort;
class CLogQueue;
class IRxOwner;

class CThreadRX {
public:
    // receiveRun is the owner's flag: set before the thread is created, cleared to stop it.
    CThreadRX(int linkId, const std::atomic<bool>& receiveRun);
    // Joins the thread; stop it first (clear the run flag and close the port).
    ~CThreadRX();
    CThreadRX(const CThreadRX&) = delete;
    CThreadRX& operator=(const CThreadRX&) = delete;

    void Start(IRxOwner* owner, CSerialPort* port, CLogQueue* logQueue);
    bool IsAlive() const { return m_bAlive; }
    // Blocks until the receive loop has ended or the timeout passed; true when it has ended.
    bool WaitUntilEnded(int timeoutMs);

    // Stands in for suspending the thread: returns once the thread is parked where it holds
    // no part of the port (also when it had only just started), or has ended. Resume lets it
    // go on.
    void Pause();
    void Resume();

private:
    void Run();
    void Loop();
    void DrainBurst();
    void ParkIfAsked();
    void Log(int kind, const char* text);

    const int m_nLinkId;
    const std::atomic<bool>& m_bReceiveRun;
    IRxOwner* m_pOwner = nullptr;
    CSerialPort* m_pPort = nullptr;
    CLogQueue* m_pLogQueue = nullptr;

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bStarted = false;
    bool m_bCancelled = false;
    bool m_bPauseRequested = false;
    bool m_bParked = false;
    std::atomic<bool> m_bAlive{false};
    bool m_bEnded = false;

    std::thread m_thread;  // last, so it starts after everything above exists
};

}  // namespace kestrel
