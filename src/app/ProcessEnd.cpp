#include "app/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARIN_LEAK_CHECK_AT_EXIT 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(TESSARIN_LEAK_CHECK_AT_EXIT)
#define TESSARIN_LEAK_CHECK_AT_EXIT 1
#endif

#ifdef TESSARIN_LEAK_CHECK_AT_EXIT
#include <sanitizer/lsan_interface.h>
#endif

namespace
{
// Registered with on_exit(), which hands the handler exit()'s status. Handlers
// run in the reverse order of their registration: this one comes before those
// registered before it, Qt's own among them.
void EndOnExit(int status, void* /*unused*/)
{
    ProcessEnd::Now(status);
}
} // namespace

void ProcessEnd::Now(int status)
{
    std::fflush(nullptr);
#ifdef TESSARIN_LEAK_CHECK_AT_EXIT
    // The sanitizer's own check runs from an exit handler, which _exit skips.
    // It ends the process with its error status when it finds a leak (and
    // does nothing when leak detection is off).
    __lsan_do_leak_check();
#endif
    ::_exit(status);
}

void ProcessEnd::AtExit()
{
    ::on_exit(EndOnExit, nullptr);
}
