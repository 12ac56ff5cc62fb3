/* The VM's thread library: threads over host threads, recursive monitors with wait and notify,
 * CPU times, priorities, thread flags and states, and a walk over every live monitor. */
#ifndef K5THREAD_H
#define K5THREAD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct K5Thread* k5thread_t;
typedef struct K5ThreadMonitor* k5thread_monitor_t;
typedef int (*k5thread_entrypoint_t)(void* arg);

/* Results. */
#define K5THREAD_SUCCESS 0
#define K5THREAD_ERR (-1)
#define K5THREAD_TIMED_OUT 3
#define K5THREAD_INTERRUPTED 2
#define K5THREAD_ILLEGAL_MONITOR_STATE 1
#define K5THREAD_WOULD_BLOCK (-2)

/* Priorities (Java's 1 to 10). */
#define K5THREAD_PRIORITY_MIN 1
#define K5THREAD_PRIORITY_NORMAL 5
#define K5THREAD_PRIORITY_MAX 10

/* Thread flags (k5thread_get_flags). */
#define K5THREAD_FLAG_BLOCKED 0x1     /* blocked entering a monitor */
#define K5THREAD_FLAG_WAITING 0x2     /* waiting on a monitor without a timeout */
#define K5THREAD_FLAG_TIMED_WAIT 0x4  /* waiting on a monitor with a timeout */
#define K5THREAD_FLAG_SLEEPING 0x8
#define K5THREAD_FLAG_SUSPENDED 0x10
#define K5THREAD_FLAG_INTERRUPTED 0x20
#define K5THREAD_FLAG_DEAD 0x40
#define K5THREAD_FLAG_STARTED 0x80

/* Thread states (k5thread_get_state). */
#define K5THREAD_STATE_RUNNING 1
#define K5THREAD_STATE_BLOCKED 2
#define K5THREAD_STATE_WAITING 3
#define K5THREAD_STATE_WAITING_TIMED 4
#define K5THREAD_STATE_SLEEPING 5
#define K5THREAD_STATE_SUSPENDED 6
#define K5THREAD_STATE_DEAD 7

/* Monitor flags (k5thread_monitor_init_with_name). */
#define K5THREAD_MONITOR_OBJECT 0x60000 /* the monitor of a Java object */

/* ---- Threads ---- */
/* The calling thread; a host thread the library has not seen yet is adopted. */
k5thread_t k5thread_self(void);
/* Starts a thread (stacksize 0 = default). suspend != 0 is not supported and fails. */
int k5thread_create(k5thread_t* handle, uintptr_t stacksize, uintptr_t priority, uintptr_t suspend,
                    k5thread_entrypoint_t entrypoint, void* entryarg);
/* Ends the library's record of an adopted host thread (call before the host thread ends). */
void k5thread_detach(k5thread_t thread);
/* Sleeps (millis, nanos); the substitute clock scale applies. */
int k5thread_sleep(int64_t millis);
int k5thread_sleep_interruptable(int64_t millis, intptr_t nanos);
void k5thread_yield(void);
void k5thread_interrupt(k5thread_t thread);
int k5thread_clear_interrupted(void);

uintptr_t k5thread_get_priority(k5thread_t thread);
int k5thread_set_priority(k5thread_t thread, uintptr_t priority);
/* The host scheduling policy and priority of the thread. */
int k5thread_get_os_priority(k5thread_t thread, int32_t* policy, int32_t* priority);
/* The OS thread identity (the host's thread id). */
uintptr_t k5thread_get_handle(k5thread_t thread);
/* K5THREAD_FLAG_* of the thread; *blocker (may be NULL) receives the monitor it is blocked
 * on or waiting on, if any. */
uintptr_t k5thread_get_flags(k5thread_t thread, k5thread_monitor_t* blocker);
uintptr_t k5thread_get_state(k5thread_t thread);
/* Suspension as seen by the library (the VM uses it for suspended Java threads). */
void k5thread_set_suspended(k5thread_t thread, int suspended);

uintptr_t k5thread_get_stack_size(k5thread_t thread);
/* Stack usage is recorded for threads created after it is enabled. */
void k5thread_enable_stack_usage(uintptr_t enable);
int k5thread_get_stack_usage(k5thread_t thread, uintptr_t* usage);

/* CPU time in nanoseconds; -1 when unknown. */
int64_t k5thread_get_cpu_time(k5thread_t thread);
int64_t k5thread_get_self_cpu_time(k5thread_t self);

/* Thread-local storage. */
typedef uintptr_t k5thread_tls_key_t;
int k5thread_tls_alloc(k5thread_tls_key_t* key);
int k5thread_tls_free(k5thread_tls_key_t key);
int k5thread_tls_set(k5thread_t thread, k5thread_tls_key_t key, void* value);
void* k5thread_tls_get(k5thread_t thread, k5thread_tls_key_t key);

/* ---- Monitors ---- */
int k5thread_monitor_init_with_name(k5thread_monitor_t* handle, uintptr_t flags, const char* name);
int k5thread_monitor_destroy(k5thread_monitor_t monitor);
int k5thread_monitor_enter(k5thread_monitor_t monitor);
/* 0 when entered, non-zero when another thread owns it. */
int k5thread_monitor_try_enter(k5thread_monitor_t monitor);
int k5thread_monitor_exit(k5thread_monitor_t monitor);
int k5thread_monitor_wait(k5thread_monitor_t monitor);
/* Waits at most millis + nanos (both 0: no limit). Answers 0, or K5THREAD_TIMED_OUT. */
int k5thread_monitor_wait_timed(k5thread_monitor_t monitor, int64_t millis, intptr_t nanos);
int k5thread_monitor_notify(k5thread_monitor_t monitor);
int k5thread_monitor_notify_all(k5thread_monitor_t monitor);
/* The name given at creation, or NULL. */
const char* k5thread_monitor_get_name(k5thread_monitor_t monitor);
uintptr_t k5thread_monitor_get_flags(k5thread_monitor_t monitor);
/* The owning thread (NULL when free) and its entry count. */
k5thread_t k5thread_monitor_get_owner(k5thread_monitor_t monitor);
uintptr_t k5thread_monitor_get_count(k5thread_monitor_t monitor);
/* A word the owner of the monitor keeps with it (the VM: the object of an object monitor). */
void k5thread_monitor_set_user_data(k5thread_monitor_t monitor, void* data);
void* k5thread_monitor_get_user_data(k5thread_monitor_t monitor);
/* The limit of the last timed wait on the monitor (diagnostics). */
void k5thread_monitor_get_last_wait(k5thread_monitor_t monitor, int64_t* millis, intptr_t* nanos);
/* Walks every live monitor: NULL gives the first, then each next; NULL at the end. Hold
 * k5thread_lib_lock() around a walk. */
k5thread_monitor_t k5thread_monitor_walk(k5thread_monitor_t previous);
void k5thread_lib_lock(void);
void k5thread_lib_unlock(void);

#ifdef __cplusplus
}
#endif

#endif
