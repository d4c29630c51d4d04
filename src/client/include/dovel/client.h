/*
 * dovel/client.h: the client's side of a Dovel queue, for any language.
 *
 * A queue object publishes three list identifiers: its work queue, its
 * current message and its last sent message. A client posts messages at the
 * end of the work queue; the server moves the head message to the current
 * list and raises SendData; the client takes it from there and marks it last
 * sent. Everything goes through shared memory: this library never talks to
 * the server.
 *
 * Text crosses this boundary as NUL-terminated UTF-8 (the blocks keep
 * UTF-16). Identifiers are 38 characters, "{XXXXXXXX-XXXX-XXXX-XXXX-
 * XXXXXXXXXXXX}" in upper-case hexadecimal, and a buffer for one takes
 * DOVEL_ID_BUFFER bytes with its NUL. Every function returns a dovel_result;
 * on a failure its out-parameters are left as they were (handles: NULL).
 *
 * Threads: a handle is used by one thread at a time. Different handles may
 * be used from different threads at once; the library serialises its own
 * shared state. dovel_result_text and the DOVEL_* constants may be used from
 * any thread at any time.
 *
 * Lifetime: a block lives while some process holds it. A queue handle holds
 * every message it posted until the message has left both the work queue
 * and the current list and a newer message has replaced it as last sent, so
 * a poster that closes its handle early takes its unsent messages with it.
 * dovel_queue_waiting says how many of them are still waiting. On POSIX
 * every block held costs a descriptor, so the first dovel_queue_open raises
 * the process's soft limit on open descriptors to its hard limit.
 */
#ifndef DOVEL_CLIENT_H
#define DOVEL_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(DOVEL_CLIENT_BUILDING)
#define DOVEL_CLIENT_API __declspec(dllexport)
#elif defined(DOVEL_CLIENT_STATIC)
#define DOVEL_CLIENT_API
#else
#define DOVEL_CLIENT_API __declspec(dllimport)
#endif
#else
#define DOVEL_CLIENT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* NOLINTBEGIN(modernize-use-using): this header is C. */

/* The layout version this library reads and writes (see docs/protocol.md). */
#define DOVEL_LAYOUT_VERSION 1
/* An identifier's characters and the buffer that holds one with its NUL. */
#define DOVEL_ID_LENGTH 38
#define DOVEL_ID_BUFFER 39
/* What a message block can hold: name and owner name in UTF-16 code units,
 * data in bytes. */
#define DOVEL_NAME_MAX_UNITS 50
#define DOVEL_DATA_MAX_BYTES 256
/* The bound a walk of a list uses when the caller gives 0. */
#define DOVEL_WALK_DEFAULT_MAX 100000

typedef enum dovel_result {
  DOVEL_OK = 0,
  /* Nothing there: no current message to take. */
  DOVEL_EMPTY = 1,
  /* A NULL handle or pointer, or a bound of the wrong kind. */
  DOVEL_INVALID_ARGUMENT = 2,
  /* Text that is no identifier (wrong length, or not the braced form). */
  DOVEL_BAD_IDENTIFIER = 3,
  /* No block bears that identifier (its last holder let it go). */
  DOVEL_NOT_FOUND = 4,
  /* A new message's identifier already named a block. */
  DOVEL_ALREADY_EXISTS = 5,
  /* The block belongs to another user. */
  DOVEL_ACCESS_DENIED = 6,
  /* A list's lock, or a block's gate, stayed taken for the whole wait. */
  DOVEL_TIMEOUT = 7,
  /* A list whose chain loops, is longer than the bound, or links to a block
   * that is gone or no identifier. */
  DOVEL_BROKEN_CHAIN = 8,
  /* A name over DOVEL_NAME_MAX_UNITS code units or data over
   * DOVEL_DATA_MAX_BYTES bytes. */
  DOVEL_TOO_LONG = 9,
  /* Text that is not valid UTF-8. */
  DOVEL_BAD_TEXT = 10,
  /* Out of memory, descriptors or shared memory. */
  DOVEL_NO_RESOURCES = 11,
  /* A block that is not what the call needs (a list head where a message
   * was expected, or the other way round). */
  DOVEL_WRONG_KIND = 12,
  /* Any other failure of the system; dovel_last_system_code says which. */
  DOVEL_SYSTEM_ERROR = 13,
  /* No session bus, or no server on it (dovel/server.h). */
  DOVEL_NO_SERVER = 14,
  /* No queue object at that path, or none holding that work queue. */
  DOVEL_NO_OBJECT = 15,
  /* The queue object belongs to another connection. */
  DOVEL_NOT_OWNER = 16,
  /* The bus or the server refused the call; dovel_server_last_error says
   * why. */
  DOVEL_BUS_ERROR = 17
} dovel_result;

/* A short English description of `result`; never NULL, static storage. */
DOVEL_CLIENT_API const char* dovel_result_text(dovel_result result);

/* The system's own code (a Windows error number, as the server's error log
 * gives it) behind the last failure on this thread; 0 after a success. */
DOVEL_CLIENT_API int32_t dovel_last_system_code(void);

/* ---- Queues ----------------------------------------------------------- */

typedef struct dovel_queue dovel_queue;

/* Opens the lists of a queue object by their identifiers. A list not
 * needed may be NULL: a poster needs only the work queue, a taker only the
 * current and last-sent lists. A call that needs a list the handle was
 * opened without fails with DOVEL_INVALID_ARGUMENT. */
DOVEL_CLIENT_API dovel_result dovel_queue_open(const char* work_queue, const char* current, const char* last_sent,
                                               dovel_queue** out);

/* Lets go of every block the handle holds, messages not yet taken included,
 * and frees it. NULL is ignored. */
DOVEL_CLIENT_API void dovel_queue_close(dovel_queue* queue);

/* Creates a message and links it at the end of the work queue under the
 * list's lock. `name` is UTF-8 (NULL or "" for none); `data` may be NULL
 * when `size` is 0; `automatic` non-zero marks a message that does not count
 * as activity. The new identifier is written to `id_out` (DOVEL_ID_BUFFER
 * bytes) when it is not NULL. The handle holds the message from then on. */
DOVEL_CLIENT_API dovel_result dovel_queue_post(dovel_queue* queue, const char* name, const void* data, size_t size,
                                               int automatic, char* id_out);

/* Takes the message the server announced with SendData: empties the
 * current list, makes the message the only one of the last-sent list and
 * gives its identifier in `id_out` (DOVEL_ID_BUFFER bytes, may be NULL).
 * DOVEL_EMPTY when there was none. */
DOVEL_CLIENT_API dovel_result dovel_queue_take(dovel_queue* queue, char* id_out);

/* Makes the message `id` the only message of the last-sent list and lets
 * go of the one it replaces. */
DOVEL_CLIENT_API dovel_result dovel_queue_mark_last_sent(dovel_queue* queue, const char* id);

/* How many messages wait in the work queue (a bounded walk). */
DOVEL_CLIENT_API dovel_result dovel_queue_length(dovel_queue* queue, size_t* count);

/* How many of the messages this handle posted are still in the work queue,
 * or in the current list when the handle knows it: 0 once the server has
 * handed all of them over (and, knowing the current list, once the client
 * has taken them). */
DOVEL_CLIENT_API dovel_result dovel_queue_waiting(dovel_queue* queue, size_t* count);

/* The identifier of one of the queue's lists, for dovel_list_read;
 * DOVEL_INVALID_ARGUMENT for a list the handle was opened without. */
typedef enum dovel_queue_list { DOVEL_WORK_QUEUE = 0, DOVEL_CURRENT = 1, DOVEL_LAST_SENT = 2 } dovel_queue_list;
DOVEL_CLIENT_API dovel_result dovel_queue_list_id(const dovel_queue* queue, dovel_queue_list which, char* id_out);

/* ---- Lists ------------------------------------------------------------ */

typedef struct dovel_list dovel_list;

/* Reads the list under the head `head_id`: the identifiers of its messages
 * in chain order, at most `max_messages` of them (0: DOVEL_WALK_DEFAULT_MAX).
 * The walk stops at the first message seen twice and at a link it cannot
 * follow; the identifiers read up to there are kept and
 * dovel_list_status says why it stopped. DOVEL_OK here means the snapshot
 * was made, not that the chain was whole. */
DOVEL_CLIENT_API dovel_result dovel_list_read(const char* head_id, size_t max_messages, dovel_list** out);

/* DOVEL_OK when the walk came back to the head; DOVEL_BROKEN_CHAIN or the
 * failure of the link it could not follow otherwise. */
DOVEL_CLIENT_API dovel_result dovel_list_status(const dovel_list* list);
DOVEL_CLIENT_API size_t dovel_list_count(const dovel_list* list);
/* The identifier of message `index` (NUL-terminated, owned by the list), or
 * NULL past the end. */
DOVEL_CLIENT_API const char* dovel_list_id(const dovel_list* list, size_t index);
DOVEL_CLIENT_API void dovel_list_free(dovel_list* list);

/* ---- Messages --------------------------------------------------------- */

typedef struct dovel_message dovel_message;

/* Reads every field of the message block `id` into a snapshot; later
 * changes to the block do not show in it. Counts and text another process
 * wrote are checked: a count beyond the field reads as the full field, and
 * text that is not valid UTF-16 reads with U+FFFD in place of the bad unit. */
DOVEL_CLIENT_API dovel_result dovel_message_read(const char* id, dovel_message** out);

/* The fields of a snapshot. Strings are NUL-terminated UTF-8 owned by the
 * snapshot; identifier fields never written read as "" (the block holds
 * zeros there). */
DOVEL_CLIENT_API const char* dovel_message_id(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_name(const dovel_message* message);
DOVEL_CLIENT_API const uint8_t* dovel_message_data(const dovel_message* message, size_t* size);
DOVEL_CLIENT_API int dovel_message_auto(const dovel_message* message);
DOVEL_CLIENT_API int16_t dovel_message_priority(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_owner_name(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_owner_id(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_client_id(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_next_id(const dovel_message* message);
DOVEL_CLIENT_API const char* dovel_message_head_id(const dovel_message* message);
DOVEL_CLIENT_API void dovel_message_free(dovel_message* message);

/* ---- Blocks ----------------------------------------------------------- */

typedef enum dovel_block_kind {
  /* A block that holds neither form (zeros, or text that is no identifier). */
  DOVEL_BLOCK_UNKNOWN = 0,
  /* A message: it names the list it belongs to, or its own identifier
   * stands at its start. */
  DOVEL_BLOCK_MESSAGE = 1,
  /* A list head: an identifier at its start and nothing after it. */
  DOVEL_BLOCK_LIST = 2
} dovel_block_kind;

/* What the block `id` holds, by its layout. */
DOVEL_CLIENT_API dovel_result dovel_block_kind_of(const char* id, dovel_block_kind* kind);

/* Removes this user's blocks that no live process holds any more (left by
 * a crashed client or a killed server); `removed` (may be NULL) says how
 * many. Blocks a live process holds are never touched. On Windows a block
 * goes with its last handle, so there is never anything to remove. */
DOVEL_CLIENT_API dovel_result dovel_sweep(int* removed);

/* NOLINTEND(modernize-use-using) */
#ifdef __cplusplus
}
#endif

#endif /* DOVEL_CLIENT_H */
