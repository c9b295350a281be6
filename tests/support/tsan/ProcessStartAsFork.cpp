// Linked into every test program of the ThreadSanitizer build only.
//
// QProcess starts a program the vfork way: clone() with CLONE_VM |
// CLONE_VFORK, the child sharing the parent's memory until it runs exec. The
// sanitizer's own clone() wrapper in Debian's GCC 12 runtime loses the
// starting thread's history there: everything the thread read or wrote before
// the start is afterwards no longer ordered before its later releases, so the
// next thread to take over that memory is reported as racing with it (an
// export's first picture, read before its encoder starts and freed by the
// decode thread after a hand-over through its reference count). A plain fork()
// is followed correctly, so such a clone is made a fork here: the child runs
// the same function on its own copy of the memory, and the process descriptor
// asked for with CLONE_PIDFD is opened after the fact. QProcess reports the
// child's start and failures through a pipe, so it sees no difference.

#include <cstdarg>
#include <csignal>
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...)
{
    va_list rest;
    va_start(rest, argument);
    pid_t* const parentTid = va_arg(rest, pid_t*);
    void* const tls = va_arg(rest, void*);
    pid_t* const childTid = va_arg(rest, pid_t*);
    va_end(rest);

    int const vforkLike = CLONE_VM | CLONE_VFORK;
    int const signalMask = 0xff;
    bool const processStart = (flags & vforkLike) == vforkLike && (flags & signalMask) == SIGCHLD &&
                              (flags & ~(vforkLike | CLONE_PIDFD | signalMask)) == 0;
    if (processStart)
    {
        pid_t const pid = fork();
        if (pid == 0)
        {
            _exit(function(argument));
        }
        if (pid > 0 && (flags & CLONE_PIDFD))
        {
            int const descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
            if (descriptor < 0)
            {
                // The caller could not wait for this child: end it, and fail.
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                return -1;
            }
            *reinterpret_cast<int*>(parentTid) = descriptor;
        }
        return pid;
    }
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static Clone const next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
