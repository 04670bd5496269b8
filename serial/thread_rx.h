#pragma once
// The receive thread: the only reader of the port. It waits for input, reads it in bursts,
// deframes and posts what it found to the link's owner.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrel {

class CSerialPort;
class CLogQueue;
class IRxOwner;

class CThreadRX {
public:
    // Bytes that follow one another within this pause belong to one burst, and a frame must
    // arrive within one burst.
    static constexpr std::chrono::microseconds kBurstPause{5000};
    // How long a speed change waits for the thread to let go of the port.
    static constexpr std::chrono::milliseconds kPauseLimit{2000};

    // receiveRun is the owner's flag: set before the thread is created, cleared to stop it.
    // With a burst pause of 0 a burst is what the device has queued at once (tests on a
    // virtual clock).
    CThreadRX(int linkId, const std::atomic<bool>& receiveRun, std::chrono::microseconds burstPause = kBurstPause);
    // Joins the thread; stop it first (clear the run flag and close the port).
    ~CThreadRX();
    CThreadRX(const CThreadRX&) = delete;
    CThreadRX& operator=(const CThreadRX&) = delete;

    void Start(IRxOwner* owner, CSerialPort* port, CLogQueue* logQueue);
    bool IsAlive() const { return m_bAlive; }
    // Blocks until the receive loop has ended or the timeout passed; true when it has ended.
    bool WaitUntilEnded(int timeoutMs);

    // Stands in for suspending the thread: returns true once the thread is parked where it
    // holds no part of the port (also when it had only just started), or has ended; false
    // when it did not park within kPauseLimit. Resume lets it go on.
    bool Pause();
    void Resume();

private:
    void Run();
    void Loop();
    void DrainBurst();
    void ParkIfAsked();
    void Log(int kind, const char* text);

    const int m_nLinkId;
    const std::atomic<bool>& m_bReceiveRun;
    const std::chrono::microseconds m_burstPause;
    IRxOwner* m_pOwner = nullptr;
    CSerialPort* m_pPort = nullptr;
    CLogQueue* m_pLogQueue = nullptr;

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bStarted = false;
    bool m_bCancelled = false;
    bool m_bPauseRequested = false;
    std::atomic<bool> m_bPauseAsked{false};  // m_bPauseRequested, for the drain loop to see unlocked
    bool m_bParked = false;
    std::atomic<bool> m_bAlive{false};
    bool m_bEnded = false;

    std::thread m_thread;  // last, so it starts after everything above exists
};

}  // namespace kestrel
