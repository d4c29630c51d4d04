/*
 * dovel/server.h: queue objects held by dovel-server on the session bus
 * (Linux).
 *
 * The server is started by the bus when a client first asks for a queue
 * object and ends by itself a little while after its last object is gone.
 * An object belongs to the connection that created it: only that connection
 * may change it, unload it or release it, and the object goes when that
 * connection leaves the bus (dovel_server_disconnect, or the process ends).
 * Any connection may read an object's identifiers and post into it.
 *
 * The three identifiers of a queue object are those of dovel/client.h: open
 * them with dovel_queue_open to post, take and mark messages through shared
 * memory, as with any other queue.
 *
 * Events arrive as bus signals, after the fact. This library runs no thread
 * of its own: the caller waits on the connection (dovel_server_poll_fd and
 * dovel_server_timeout_ms, or simply dovel_server_dispatch) and the
 * callbacks run inside dovel_server_dispatch, on its caller's thread.
 *
 * Results are those of dovel/client.h. A call the bus or the server refused
 * leaves its error's name and message for dovel_server_last_error.
 *
 * Threads: a server handle and every queue handle made from it share one
 * connection and are used by one thread at a time, together. Different
 * server handles may be used from different threads at once.
 * dovel_server_last_error may be used from any thread.
 */
#ifndef DOVEL_SERVER_H
#define DOVEL_SERVER_H

#include <stddef.h>
#include <stdint.h>

#include "dovel/client.h"

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(modernize-use-using): this header is C. */

/* The server's well-known name on the session bus. */
#define DOVEL_SERVER_BUS_NAME "org.dovel.Dovel"

typedef struct dovel_server dovel_server;
typedef struct dovel_server_queue dovel_server_queue;

/* A queue object's event: `event_name` is "SendData", "Timeout",
 * "InactiveSession", "Heartbeat" or "DiagRefresh" (static storage). */
typedef void (*dovel_server_event_callback)(void* context, const char* event_name);

typedef enum dovel_server_switch {
  DOVEL_SWITCH_DISCONNECTING = 0,
  DOVEL_SWITCH_PANEL_EVENT_WARNING = 1,
  DOVEL_SWITCH_UNATTENDED = 2
} dovel_server_switch;

typedef enum dovel_server_timer {
  DOVEL_TIMER_WORKER = 0,
  DOVEL_TIMER_TIMEOUT = 1,
  DOVEL_TIMER_HEARTBEAT = 2,
  DOVEL_TIMER_DIAG_REFRESH = 3
} dovel_server_timer;

/* ---- The connection --------------------------------------------------- */

/* Connects to the session bus. DOVEL_NO_SERVER when there is no session
 * bus to connect to. Starts no server: the first dovel_server_create_queue
 * does. */
DOVEL_CLIENT_API dovel_result dovel_server_connect(dovel_server** out);

/* Frees the handle. The connection leaves the bus with the last handle that
 * uses it (this one or a queue handle not yet released), and the server then
 * unloads and frees every object it created. NULL is ignored. Not from
 * inside a callback. */
DOVEL_CLIENT_API void dovel_server_disconnect(dovel_server* server);

/* What to wait for on the connection: a descriptor and the poll(2) events
 * for it. */
DOVEL_CLIENT_API dovel_result dovel_server_poll_fd(dovel_server* server, int* fd, short* events);

/* How long the connection may wait before it must be dispatched again, in
 * milliseconds: -1 for no limit, 0 when messages already wait (the bus may
 * have read them ahead during a call, and then the descriptor stays quiet). */
DOVEL_CLIENT_API dovel_result dovel_server_timeout_ms(dovel_server* server, int* timeout_ms);

/* Dispatches every message that has arrived, waiting up to `timeout_ms`
 * (-1: for ever, 0: not at all) for the first when none is there, and runs
 * the callbacks of the signals among them. DOVEL_OK when something was
 * dispatched, DOVEL_EMPTY when the wait ended with nothing. A callback may
 * call any function of this library except dovel_server_dispatch and
 * dovel_server_disconnect; it may release its own queue handle. */
DOVEL_CLIENT_API dovel_result dovel_server_dispatch(dovel_server* server, int timeout_ms);

/* Whether a server holds the well-known name now, in `running` (0 or 1).
 * Asks the bus itself, so it never starts one. */
DOVEL_CLIENT_API dovel_result dovel_server_is_running(dovel_server* server, int* running);

/* The bus error of the last call on this thread that the bus or the server
 * refused, as "name: message"; "" after any other result. Thread-local
 * storage, valid until the thread's next call into this library. */
DOVEL_CLIENT_API const char* dovel_server_last_error(void);

/* ---- Queue objects ---------------------------------------------------- */

/* Creates a queue object on the server, which the bus starts when none
 * runs; a server that is just exiting is asked once more (the bus then
 * starts a new one). DOVEL_NO_SERVER when the bus cannot start one. */
DOVEL_CLIENT_API dovel_result dovel_server_create_queue(dovel_server* server, dovel_server_queue** out);

/* A handle on the existing queue object at `path` (another connection's,
 * for reading and posting). DOVEL_INVALID_ARGUMENT for text that is no
 * object path, DOVEL_NO_OBJECT when no queue object is there. */
DOVEL_CLIENT_API dovel_result dovel_server_open_queue(dovel_server* server, const char* path, dovel_server_queue** out);

/* A handle on the queue object whose work queue is `work_queue_id`, if a
 * server runs and holds one; it never starts a server. DOVEL_NO_SERVER when
 * no server runs, DOVEL_NO_OBJECT when the running one holds no such queue. */
DOVEL_CLIENT_API dovel_result dovel_server_find_queue(dovel_server* server, const char* work_queue_id,
                                                      dovel_server_queue** out);

/* Releases the object on the server when this handle created it (unloading
 * and freeing it), and frees the handle in every case; the result is that of
 * the release. NULL is ignored (DOVEL_OK). */
DOVEL_CLIENT_API dovel_result dovel_server_queue_release(dovel_server_queue* queue);

/* The object's path on the bus (owned by the handle). */
DOVEL_CLIENT_API const char* dovel_server_queue_path(const dovel_server_queue* queue);

/* One of the object's three list identifiers, read when the handle was made
 * (they never change), into `id_out` (DOVEL_ID_BUFFER bytes). */
DOVEL_CLIENT_API dovel_result dovel_server_queue_list_id(const dovel_server_queue* queue, dovel_queue_list which,
                                                         char* id_out);

/* The owner's settings of the object. */
DOVEL_CLIENT_API dovel_result dovel_server_queue_set_switch(dovel_server_queue* queue, dovel_server_switch which,
                                                            int on);
DOVEL_CLIENT_API dovel_result dovel_server_queue_set_inactivity_timeout(dovel_server_queue* queue, int16_t seconds);

/* A timer's interval in milliseconds and whether it runs; either output may
 * be NULL. */
DOVEL_CLIENT_API dovel_result dovel_server_timer_get(dovel_server_queue* queue, dovel_server_timer which,
                                                     int32_t* interval_ms, int* enabled);
DOVEL_CLIENT_API dovel_result dovel_server_timer_set_interval(dovel_server_queue* queue, dovel_server_timer which,
                                                              int32_t interval_ms);
DOVEL_CLIENT_API dovel_result dovel_server_timer_set_enabled(dovel_server_queue* queue, dovel_server_timer which,
                                                             int enabled);

/* Posts a message through the server, which creates it, links it at the end
 * of the work queue and holds it until it has gone out: the caller may
 * leave at once. Arguments as dovel_queue_post. */
DOVEL_CLIENT_API dovel_result dovel_server_queue_post(dovel_server_queue* queue, const char* name, const void* data,
                                                      size_t size, int automatic, char* id_out);

/* The object's InactivityComplete and UnloadQueue. */
DOVEL_CLIENT_API dovel_result dovel_server_queue_inactivity_complete(dovel_server_queue* queue);
DOVEL_CLIENT_API dovel_result dovel_server_queue_unload(dovel_server_queue* queue);

/* Calls `callback` with `context` for every event of the object that
 * dovel_server_dispatch dispatches; NULL stops the calls. One callback per
 * handle: a new one replaces the old. */
DOVEL_CLIENT_API dovel_result dovel_server_queue_on_event(dovel_server_queue* queue,
                                                          dovel_server_event_callback callback, void* context);

/* NOLINTEND(modernize-use-using) */
#ifdef __cplusplus
}
#endif

#endif /* DOVEL_SERVER_H */
