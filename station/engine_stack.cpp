#include "station/engine_stack.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
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

CEngineStack::CEngineStack()
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    m_nMemory = kStackSize + page;
    m_pMemory = ::mmap(nullptr, m_nMemory, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE,
                       -1, 0);
    if (m_pMemory == MAP_FAILED) throw std::bad_alloc();
    // A stack that overflows faults at once instead of writing over other memory.
    ::mprotect(m_pMemory, page, PROT_NONE);
    m_pStack = static_cast<char*>(m_pMemory) + page;
    ::getcontext(&m_context);
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
    if (m_eState != EState::Free) std::abort();
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

void CEngineStack::Suspend()
{
    if (!IsCurrent()) std::abort();
    m_eState = EState::Suspended;
    SwitchOut();
}

void CEngineStack::Resume()
{
    if (m_eState != EState::Suspended) return;
    m_eState = EState::Working;
    SwitchIn();
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
        {
            std::function<void()> work = std::move(m_work);
            m_work = nullptr;
            work();
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
