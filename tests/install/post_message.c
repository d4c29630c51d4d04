/*
 * post_message WORK_QUEUE CURRENT NAME DATA: a consumer of the installed
 * client library. It posts one message (NAME, with DATA as its bytes) at the
 * end of the queue's work queue and stays until the server has handed the
 * message over and the taker has taken it, since closing the handle earlier
 * would take the message with it. Exit status 0, or 1 with the library's
 * reason on standard error.
 */
#define _POSIX_C_SOURCE 200809L

#include <dovel/client.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static int fail(const char* what, dovel_result result) {
  fprintf(stderr, "post_message: %s: %s\n", what, dovel_result_text(result));
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: post_message WORK_QUEUE CURRENT NAME DATA\n");
    return 64;
  }
  dovel_queue* queue = NULL;
  dovel_result result = dovel_queue_open(argv[1], argv[2], NULL, &queue);
  if (result != DOVEL_OK) return fail("open", result);

  char id[DOVEL_ID_BUFFER];
  result = dovel_queue_post(queue, argv[3], argv[4], strlen(argv[4]), 0, id);
  if (result != DOVEL_OK) {
    dovel_queue_close(queue);
    return fail("post", result);
  }

  /* Whoever runs this bounds the wait; the library does not. */
  const struct timespec pause = {0, 10 * 1000 * 1000};
  size_t waiting = 1;
  while ((result = dovel_queue_waiting(queue, &waiting)) == DOVEL_OK && waiting > 0) nanosleep(&pause, NULL);
  dovel_queue_close(queue);
  if (result != DOVEL_OK) return fail("waiting", result);
  printf("%s\n", id);
  return 0;
}
