#pragma once
// A call stack of its own for one engine's work, on the thread of the event loop. An engine
// that waits suspends its own stack and gives the loop back, instead of waiting in a nested
// event loop: nested loops end last-in first-out, so one engine's long wait would hold up
// every engine that started a wait inside it.

#include <ucontext.h>

#include <cstddef>
#include <exception>
#include <functional>

namespace kestrel {

// A programming error in the use of engine stacks: says what and stops the process, which
// could not go on without corrupting a stack.
[[noreturn]] void StopOnEngineStackMisuse(const char* what);

class CEngineStack {
public:
    // Throws std::system_error when the stack or its guard page cannot be set up.
    CEngineStack();
    // The stack must not be suspended or at work: its frames would never be unwound, so the
    // process stops with a message instead.
    ~CEngineStack();
    CEngineStack(const CEngineStack&) = delete;
    CEngineStack& operator=(const CEngineStack&) = delete;

    // Runs the work on this stack when the stack is free. While it is at work or suspended,
    // the work runs where it is called, nested, as it would without a stack of its own. An
    // exception that leaves the work is thrown again here, or from the Resume or Cancel that
    // was running the work when it left.
    void Run(std::function<void()> work);
    // True on this stack, in work that Run started.
    bool IsCurrent() const;
    bool IsSuspended() const { return m_eState == EState::Suspended; }
    bool IsFree() const { return m_eState == EState::Free; }
    // On this stack: hands control back to whoever started or resumed it. False when it was
    // cancelled: the work must then unwind without waiting again.
    [[nodiscard]] bool Suspend();
    // Off this stack: goes on with suspended work until it suspends again or is done.
    void Resume();
    // Off this stack: goes on with suspended work, whose Suspend returns false.
    void Cancel();

private:
    enum class EState { Free, Working, Suspended };

    static void Entry();
    void Loop();
    void SwitchIn();
    void SwitchOut();

    EState m_eState = EState::Free;
    bool m_bEntered = false;
    bool m_bCancelled = false;
    std::exception_ptr m_pError;  // left the work; thrown again on the caller's stack
    std::function<void()> m_work;
    void* m_pMemory = nullptr;   // the stack with a guard page below it
    void* m_pStack = nullptr;
    std::size_t m_nMemory = 0;
    ucontext_t m_context{};
    ucontext_t m_caller{};
    // The sanitizers are told of every switch; unused otherwise.
    void* m_pFakeStack = nullptr;
    const void* m_pCallerBottom = nullptr;
    std::size_t m_nCallerSize = 0;
    void* m_pTsanFiber = nullptr;
    void* m_pTsanCaller = nullptr;
};

}  // namespace kestrel
