// Clang thread-safety annotations (no-ops for other compilers): which lock guards what.
#pragma once

#if defined(__clang__)
#define BASE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define BASE_THREAD_ANNOTATION(x)
#endif

#define LOCKABLE BASE_THREAD_ANNOTATION(capability("mutex"))
#define SCOPED_LOCKABLE BASE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) BASE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) BASE_THREAD_ANNOTATION(pt_guarded_by(x))
#define EXCLUSIVE_LOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define SHARED_LOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define EXCLUSIVE_TRYLOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define SHARED_TRYLOCK_FUNCTION(...) \
  BASE_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define SHARED_UNLOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define UNLOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUSIVE_TRYLOCK_FUNCTION(...) BASE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUSIVE_LOCKS_REQUIRED(...) BASE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define SHARED_LOCKS_REQUIRED(...) BASE_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) BASE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS BASE_THREAD_ANNOTATION(no_thread_safety_analysis)
