/* The C interface of a Flowdeck plug-in.
 *
 * A plug-in is a shared object that exports exactly these functions. A host loads it with
 * dlopen, looks the functions up with dlsym and creates one object per stream of requests. No
 * C++ exception ever crosses this interface.
 *
 * Threads. A plug-in starts no thread and takes no lock, so:
 * - Calls into one plug-in never overlap, whatever objects they are for: its objects share
 *   its files. The host orders calls that it makes from different threads (a mutex, a join, a
 *   queue between them), so that each call sees what the one before it did.
 * - An object's visitors belong to the object: its next call may come from any thread.
 * - The settings that CONFIG loads, and the shield plug-in's tripwire definitions, belong to
 *   the calling thread, not to the object. Every object called from a thread shares that
 *   thread's; a thread that has not sent CONFIG has none, and a cycle run there judges
 *   nobody (the shield plug-in shields no record, the monitor rates every visitor 0) and the
 *   monitor exports nothing from it. A host that moves an object to another thread sends
 *   CONFIG there first, which also clears the object's visitors.
 * - A thread's settings and definitions last until the thread ends, except that destroying
 *   any object of the shield plug-in releases those of the thread that destroys it.
 * - flowdeck_plugin_set_clock may be called from any thread at any time.
 */
#ifndef FLOWDECK_PLUGIN_H
#define FLOWDECK_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define FLOWDECK_EXPORT __attribute__((visibility("default")))
#else
#define FLOWDECK_EXPORT
#endif

#define FLOWDECK_FIELD_COUNT 19

/* Bytes, no NUL needed. The plug-in only reads them, and only during the call. */
typedef struct flowdeck_text {
  const char *data;
  size_t size;
} flowdeck_text;
/* An object of a plug-in: created and destroyed by the plug-in, owned by the host in between. */
typedef struct flowdeck_plugin flowdeck_plugin;
/* The host's clock: the current local date-time as days since 1899-12-30 00:00, time of day as
 * the fraction. Called on the thread that calls the plug-in; context is the host's own. */
typedef double (*flowdeck_clock_fn)(void *context);

/* "KvVantrel.Vantrel" or "KvCorvane.Corvane": a static string owned by the plug-in. */
FLOWDECK_EXPORT const char *flowdeck_plugin_name(void);

/* A new object, owned by the caller until flowdeck_plugin_destroy; NULL when it cannot be made. */
FLOWDECK_EXPORT flowdeck_plugin *flowdeck_plugin_create(void);

/* Releases an object and everything it holds; NULL is ignored. */
FLOWDECK_EXPORT void flowdeck_plugin_destroy(flowdeck_plugin *plugin);

/* One request or control action: the nineteen fields sAction, sArrivalSerial, sKey, Country,
 * sResolvedAddr, sRemoteAddr, sRemoteHost, sAuthUser, sPathInfo, sPathTranslated, sQueryString,
 * sServerName, sServerPort, sUserAgent, sShieldLink, sShieldUnLink, sLocked, sLocalHost,
 * sReferrer, in this order. The array and its bytes stay the caller's. Returns 0, also for a
 * call whose failure went to the plug-in's error log; nonzero only when that log could not be
 * written. */
FLOWDECK_EXPORT int flowdeck_plugin_stream(flowdeck_plugin *plugin,
                                           const flowdeck_text fields[FLOWDECK_FIELD_COUNT]);

/* KvCorvane only (look it up with dlsym and cope with its absence): stores the number of
 * visitors held into *count and returns 0, or returns nonzero on failure. */
FLOWDECK_EXPORT int flowdeck_plugin_count(flowdeck_plugin *plugin, int32_t *count);

/* Replaces the source of the current local date-time for every object of this plug-in in the
 * process; NULL restores the system clock. The context stays the caller's and must outlive
 * its use. */
FLOWDECK_EXPORT void flowdeck_plugin_set_clock(flowdeck_clock_fn clock, void *context);

#ifdef __cplusplus
}
#endif

#endif /* FLOWDECK_PLUGIN_H */
