#include "platform/com_server/server_lifetime.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <utility>

namespace dovel::platform::com_server {
namespace {

std::atomic<long> g_count{0};
// Set once, before any object exists; read only afterwards.
bool g_local_server = false;
std::function<void()> g_on_last_release;

void Add() {
  ++g_count;
  if (g_local_server) CoAddRefServerProcess();
}

void Remove() {
  --g_count;
  if (g_local_server && CoReleaseServerProcess() == 0 && g_on_last_release) g_on_last_release();
}

}  // namespace

void ServerLifetime::ObjectCreated() { Add(); }
void ServerLifetime::ObjectDestroyed() { Remove(); }
void ServerLifetime::Lock() { Add(); }
void ServerLifetime::Unlock() { Remove(); }
bool ServerLifetime::CanUnload() { return g_count.load() == 0; }

void ServerLifetime::UseServerProcessCount(std::function<void()> on_last_release) {
  g_local_server = true;
  g_on_last_release = std::move(on_last_release);
}

}  // namespace dovel::platform::com_server
