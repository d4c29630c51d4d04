// dovel post: posts one message at the end of a work queue. When
// dovel-server holds the queue, the server posts it and keeps it; otherwise
// this process posts it through shared memory and keeps it alive until it
// has gone out: a block lives only while some process holds it.

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "dovel/client.h"
#ifdef DOVEL_POST_THROUGH_SERVER
#include "dovel/server.h"
#endif
#include "tools/dovel/queue_handle.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

struct PostOptions {
  std::string work_queue, text, current;
  std::string name = "dovel";
  bool automatic = false;
  bool local = false;
  unsigned hold = 10;
  unsigned wait = 60;
};

#ifdef DOVEL_POST_THROUGH_SERVER
// Posts through the server that holds the queue, if one runs: it never
// starts a server. False, with nothing done, when none holds the queue.
bool PostThroughServer(const PostOptions& options, int& status) {
  struct ServerCloser {
    void operator()(dovel_server* server) const { dovel_server_disconnect(server); }
  };
  struct HandleCloser {
    void operator()(dovel_server_queue* queue) const { dovel_server_queue_release(queue); }
  };
  dovel_server* connected = nullptr;
  if (dovel_server_connect(&connected) != DOVEL_OK) return false;
  const std::unique_ptr<dovel_server, ServerCloser> server(connected);
  dovel_server_queue* found = nullptr;
  if (dovel_server_find_queue(server.get(), options.work_queue.c_str(), &found) != DOVEL_OK) return false;
  // Not ours: releasing the handle leaves the object to its owner.
  const std::unique_ptr<dovel_server_queue, HandleCloser> queue(found);
  char id[DOVEL_ID_BUFFER] = {};
  if (const dovel_result result = dovel_server_queue_post(queue.get(), options.name.c_str(), options.text.data(),
                                                          options.text.size(), options.automatic ? 1 : 0, id);
      result != DOVEL_OK) {
    const std::string detail = dovel_server_last_error();
    status = Fail("post: the server holding the queue refused",
                  detail.empty() ? std::string(dovel_result_text(result)) : detail);
    return true;
  }
  std::cout << id << std::endl;
  status = kExitOk;
  return true;
}
#endif

int Post(const PostOptions& options) {
#ifdef DOVEL_POST_THROUGH_SERVER
  if (int status = kExitOk; !options.local && PostThroughServer(options, status)) return status;
#endif
  QueueHandle queue;
  if (const dovel_result result = OpenQueue(options.work_queue, options.current, "", queue); result != DOVEL_OK) {
    return Fail("post: cannot open the queue", result);
  }
  char id[DOVEL_ID_BUFFER] = {};
  if (const dovel_result result = dovel_queue_post(queue.get(), options.name.c_str(), options.text.data(),
                                                   options.text.size(), options.automatic ? 1 : 0, id);
      result != DOVEL_OK) {
    return Fail("post", result);
  }
  std::cout << id << std::endl;

  // Knowing the current list, the handle counts the message until the client
  // has taken it; without, only until the server has moved it there.
  const bool knows_current = !options.current.empty();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.wait);
  for (;;) {
    std::size_t waiting = 0;
    if (const dovel_result result = dovel_queue_waiting(queue.get(), &waiting); result != DOVEL_OK) {
      return Fail("post: cannot follow the message", result);
    }
    if (waiting == 0) break;
    if (options.wait != 0 && std::chrono::steady_clock::now() >= deadline) {
      return Fail("post", "gave up after " + std::to_string(options.wait) + " s: the message was not " +
                              (knows_current ? "taken" : "dispatched") + " and goes with this process");
    }
    std::this_thread::sleep_for(kPoll);
  }
  if (!knows_current) {
    std::cerr << "dovel: post: dispatched; holding it " << options.hold << " s for the client to take it" << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(options.hold));
  }
  return kExitOk;
}

}  // namespace

Subcommand AddPost(CLI::App& dovel) {
  CLI::App* app =
      dovel.add_subcommand("post", "Posts a message at the end of a work queue and holds it until it has gone out");
  app->footer(
      "Posts TEXT (its UTF-8 bytes as the message's data) at the end of the work\n"
      "queue WORKQUEUE and prints the new message's identifier. When dovel-server\n"
      "holds the queue, the server posts the message and keeps it, and the command\n"
      "exits at once. Otherwise (or with --local) it posts through shared memory and\n"
      "stays to hold the message: a block lives only while a process holds it. With\n"
      "--current it exits once the client has taken the message; without, once the\n"
      "server has dispatched it and --hold seconds have passed for the client to take it.");
  auto options = std::make_shared<PostOptions>();
  app->add_option("WORKQUEUE", options->work_queue, "The work queue's identifier")->required()->type_name("");
  app->add_option("TEXT", options->text, "The message's data, as text")->required()->type_name("");
  app->add_option("--name", options->name, "The message's name (default: dovel)");
  app->add_flag("--auto", options->automatic, "Mark the message automatic: it does not count as activity");
  app->add_flag("--local", options->local,
                "Post through shared memory even when dovel-server holds the queue (this process holds the message)");
  app->add_option("--current", options->current, "The current list's identifier, to wait until the client took it")
      ->type_name(kIdType);
  app->add_option("--hold", options->hold, "Seconds to keep a dispatched message without --current (default 10)")
      ->check(CLI::Range(0U, 86400U));
  app->add_option("--wait", options->wait,
                  "Seconds to wait for the dispatch (and, with --current, the take) before giving up with exit "
                  "status 1 (default 60; 0 waits for ever)")
      ->check(CLI::Range(0U, 86400U));
  return {app, [options] { return Post(*options); }};
}

}  // namespace dovel::tools
