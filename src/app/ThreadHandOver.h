#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// Marks, for ThreadSanitizer, an ordering between two threads that a library
// not built for it makes (a reference count inside FFmpeg, for instance): all
// one thread did before Release(key) comes before what another does after
// Acquire(key) on the same key. Does nothing in any other build.
namespace ThreadHandOver
{
inline void Release(void const* key)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(key));
#else
    (void)key;
#endif
}

inline void Acquire(void const* key)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(key));
#else
    (void)key;
#endif
}
} // namespace ThreadHandOver
