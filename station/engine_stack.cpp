#include "station/engine_stack.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define KESTREL_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define KESTREL_TSAN 1
#endif
#ifdef KESTREL_ASAN
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef KESTREL_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace kestrel {
namespace {

// The engine, its view's calls into a front end and the sanitizers' larger frames fit with
// room to spare; pages are only taken as they are touched.
constexpr std::size_t kStackSize = std::size_t{2} << 20;

thread_local CEngineStack* t_pCurrent = nullptr;
thread_local CEngineStack* t_pStarting = nullptr;

}  // namespace

void StopOnEngineStackMisuse(const char* what)
{
    std::fprintf(stderr, "kestrel: engine stack: %s\n", what);
    std::abort();
}

CEngineStack::CEngineStack()
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    m_nMemory = kStackSize + page;
    m_pMemory = ::mmap(nullptr, m_nMemory, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE,
                       -1, 0);
    if (m_pMemory == MAP_FAILED) throw std::bad_alloc();
    // A stack that overflows faults at once instead of writing over other memory; without its
    // guard page, or without a context to start from, the stack is refused.
    if (::mprotect(m_pMemory, page, PROT_NONE) != 0 || ::getcontext(&m_context) != 0) {
        const int error = errno;
        ::munmap(m_pMemory, m_nMemory);
        throw std::system_error(error, std::generic_category(), "engine stack");
    }
    m_pStack = static_cast<char*>(m_pMemory) + page;
    m_context.uc_stack.ss_sp = m_pStack;
    m_context.uc_stack.ss_size = kStackSize;
    m_context.uc_link = nullptr;
    ::makecontext(&m_context, &CEngineStack::Entry, 0);
#ifdef KESTREL_TSAN
    m_pTsanFiber = __tsan_create_fiber(0);
#endif
}

CEngineStack::~CEngineStack()
{
    if (m_eState != EState::Free) StopOnEngineStackMisuse("destroyed while its work was suspended or running");
#ifdef KESTREL_TSAN
    __tsan_destroy_fiber(m_pTsanFiber);
#endif
    ::munmap(m_pMemory, m_nMemory);
}

void CEngineStack::Run(std::function<void()> work)
{
    if (m_eState != EState::Free) {
        work();
        return;
    }
    m_work = std::move(work);
    m_eState = EState::Working;
    SwitchIn();
}

bool CEngineStack::IsCurrent() const { return t_pCurrent == this; }

bool CEngineStack::Suspend()
{
    if (!IsCurrent()) StopOnEngineStackMisuse("suspended from outside its own work");
    m_eState = EState::Suspended;
    SwitchOut();
    const bool cancelled = m_bCancelled;
    m_bCancelled = false;
    return !cancelled;
}

void CEngineStack::Resume()
{
    if (m_eState != EState::Suspended) return;
    m_eState = EState::Working;
    SwitchIn();
}

void CEngineStack::Cancel()
{
    if (m_eState != EState::Suspended) return;
    m_bCancelled = true;
    Resume();
}

void CEngineStack::Entry()
{
    CEngineStack* self = t_pStarting;
    t_pStarting = nullptr;
    self->Loop();
}

void CEngineStack::Loop()
{
#ifdef KESTREL_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &m_pCallerBottom, &m_nCallerSize);
#endif
    for (;;) {
        try {
            std::function<void()> work = std::move(m_work);
            m_work = nullptr;
            work();
        } catch (...) {
            // Unwinding cannot cross into the caller's stack: the exception is carried there.
            m_pError = std::current_exception();
        }
        m_eState = EState::Free;
        SwitchOut();
    }
}

void CEngineStack::SwitchIn()
{
    CEngineStack* previous = t_pCurrent;
    t_pCurrent = this;
    // The first switch starts Entry, which learns from here whose stack it is on.
    if (!m_bEntered) t_pStarting = this;
    m_bEntered = true;
#ifdef KESTREL_TSAN
    m_pTsanCaller = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(m_pTsanFiber, 0);
#endif
#ifdef KESTREL_ASAN
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(&fakeStack, m_pStack, kStackSize);
#endif
    ::swapcontext(&m_caller, &m_context);
#ifdef KESTREL_ASAN
    __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
#endif
    t_pCurrent = previous;
    if (m_pError) std::rethrow_exception(std::exchange(m_pError, nullptr));
}

void CEngineStack::SwitchOut()
{
#ifdef KESTREL_TSAN
    __tsan_switch_to_fiber(m_pTsanCaller, 0);
#endif
#ifdef KESTREL_ASAN
    __sanitizer_start_switch_fiber(&m_pFakeStack, m_pCallerBottom, m_nCallerSize);
#endif
    ::swapcontext(&m_context, &m_caller);
#ifdef KESTREL_ASAN
    __sanitizer_finish_switch_fiber(m_pFakeStack, &m_pCallerBottom, &m_nCallerSize);
#endif
}

}  // namespace kestrel
