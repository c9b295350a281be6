#pragma once

#include <csignal>
#include <sys/resource.h>

// Writes of more than the given bytes fail while it lives (the process's
// file size limit, its signal ignored so that the write fails instead).
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(FileSizeLimit const&) = delete;
    FileSizeLimit& operator=(FileSizeLimit const&) = delete;
    rlimit old {};
    void (*previous)(int) = nullptr;
};
