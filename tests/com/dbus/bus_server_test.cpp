// dovel-server through the bus, as its clients see it. The test runs on a
// private session bus whose servers exit after 300 ms without objects, so
// a case may meet a server that is leaving: Create is retried on Exiting,
// as the contract tells clients to.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <dovel/bus_proxy.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/queue_client.h"
#include "platform/automation/text.h"
#include "platform/shared_memory/shared_memory.h"
#include "store/identifier.h"

namespace {

using ::testing::HasSubstr;
namespace gen = org::dovel::Dovel;

constexpr const char* kName = "org.dovel.Dovel";
constexpr const char* kFactoryPath = "/org/dovel/Dovel";
constexpr auto kDeadline = std::chrono::seconds(20);

// Dispatches the connection's messages until `done` holds; false if the
// generous deadline passed first.
bool PumpUntil(sdbus::IConnection& connection, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (connection.processPendingRequest()) continue;
    const auto data = connection.getEventLoopPollData();
    pollfd descriptor{data.fd, data.events, 0};
    const int wait = data.getPollTimeout();
    poll(&descriptor, 1, wait < 0 || wait > 100 ? 100 : wait);
  }
  return true;
}

// The name of the error a call failed with; empty if it succeeded.
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const sdbus::Error& e) {
    return e.getName();
  }
  return {};
}

class FactoryProxy final : public sdbus::ProxyInterfaces<gen::Factory_proxy, sdbus::Properties_proxy> {
 public:
  explicit FactoryProxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, kName, kFactoryPath) {
    registerProxy();
  }
  ~FactoryProxy() { unregisterProxy(); }

 private:
  void onPropertiesChanged(const std::string&, const std::map<std::string, sdbus::Variant>&,
                           const std::vector<std::string>&) override {}
};

// A queue object's proxy that records the signals it hears.
class QueueProxy final : public sdbus::ProxyInterfaces<gen::MsgQueue_proxy, sdbus::Properties_proxy> {
 public:
  QueueProxy(sdbus::IConnection& connection, const std::string& path) : ProxyInterfaces(connection, kName, path) {
    registerProxy();
  }
  ~QueueProxy() { unregisterProxy(); }

  std::map<std::string, int> events;
  std::vector<std::string> changed;
  std::function<void(const std::string&)> on_event;

 private:
  void Heard(const std::string& event) {
    ++events[event];
    if (on_event) on_event(event);
  }
  void onSendData() override { Heard("SendData"); }
  void onTimeout() override { Heard("Timeout"); }
  void onInactiveSession() override { Heard("InactiveSession"); }
  void onHeartbeat() override { Heard("Heartbeat"); }
  void onDiagRefresh() override { Heard("DiagRefresh"); }
  void onPropertiesChanged(const std::string& interface, const std::map<std::string, sdbus::Variant>& values,
                           const std::vector<std::string>&) override {
    for (const auto& entry : values) changed.push_back(interface + "." + entry.first);
  }
};

class TimerProxy final : public sdbus::ProxyInterfaces<gen::QueueTimer_proxy, sdbus::Properties_proxy> {
 public:
  TimerProxy(sdbus::IConnection& connection, const std::string& path) : ProxyInterfaces(connection, kName, path) {
    registerProxy();
  }
  ~TimerProxy() { unregisterProxy(); }

  std::vector<std::string> changed;

 private:
  void onPropertiesChanged(const std::string&, const std::map<std::string, sdbus::Variant>& values,
                           const std::vector<std::string>&) override {
    for (const auto& entry : values) changed.push_back(entry.first);
  }
};

// One client connection of its own.
struct Client {
  std::unique_ptr<sdbus::IConnection> connection = sdbus::createSessionBusConnection();
  FactoryProxy factory{*connection};

  std::string Create() {
    for (int attempt = 0;; ++attempt) {
      try {
        return factory.Create();
      } catch (const sdbus::Error& e) {
        if (e.getName() != "org.dovel.Dovel.Error.Exiting" || attempt == 10) throw;
      }
    }
  }
  std::uint32_t Count() { return FactoryProxy(*connection).ObjectCount(); }
};

bool BlockExists(const std::string& guid) {
  const std::string name = dovel::store::Identifier::From(dovel::platform::automation::FromUtf8(guid)).BlockName();
  const auto blocks = dovel::platform::ListBlocks();
  return std::any_of(blocks.begin(), blocks.end(), [&](const auto& block) { return block.name == name; });
}

// The paths the object manager lists.
std::set<std::string> ManagedPaths(sdbus::IConnection& connection) {
  std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>> objects;
  sdbus::createProxy(connection, kName, kFactoryPath)
      ->callMethod("GetManagedObjects")
      .onInterface("org.freedesktop.DBus.ObjectManager")
      .storeResultsTo(objects);
  std::set<std::string> paths;
  for (const auto& entry : objects) paths.insert(entry.first);
  return paths;
}

// Whether some connection holds the server's name right now.
bool ServerRunning(sdbus::IConnection& connection) {
  auto bus = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bool has = false;
  bus->callMethod("NameHasOwner")
      .onInterface("org.freedesktop.DBus")
      .withArguments(std::string(kName))
      .storeResultsTo(has);
  return has;
}

TEST(BusServer, CreateGivesAnObjectWhosePropertiesReadAndWrite) {
  Client client;
  const std::string path = client.Create();  // starts the server when none runs
  EXPECT_THAT(path, ::testing::StartsWith("/org/dovel/Dovel/clsMsgQueue/"));
  QueueProxy queue(*client.connection, path);

  const auto all = queue.GetAll(gen::MsgQueue_proxy::INTERFACE_NAME);
  EXPECT_EQ(all.size(), 11u);
  for (const char* list : {"WorkQueueGUID", "CurrentMsgGUID", "LastSentMsgGUID"}) {
    EXPECT_EQ(all.at(list).get<std::string>().size(), 38u) << list;
  }
  EXPECT_FALSE(all.at("Unattended").get<bool>());
  EXPECT_EQ(all.at("InactivityTimeout").get<std::int16_t>(), 0);
  EXPECT_EQ(all.at("HeartbeatTimer").get<sdbus::ObjectPath>(), path + "/HeartbeatTimer");

  queue.Unattended(true);
  queue.InactivityTimeout(-7);
  EXPECT_TRUE(queue.Unattended());
  EXPECT_EQ(queue.InactivityTimeout(), -7);
  EXPECT_FALSE(queue.Disconnecting());
  ASSERT_TRUE(PumpUntil(*client.connection, [&] { return queue.changed.size() >= 2; }));
  EXPECT_THAT(queue.changed, ::testing::ElementsAre("org.dovel.Dovel.MsgQueue.Unattended",
                                                    "org.dovel.Dovel.MsgQueue.InactivityTimeout"));

  TimerProxy heartbeat(*client.connection, queue.HeartbeatTimer());
  heartbeat.Interval(60'000);
  heartbeat.Enabled(true);
  EXPECT_EQ(heartbeat.Interval(), 60'000);
  EXPECT_TRUE(heartbeat.Enabled());
  EXPECT_EQ(heartbeat.GetAll(gen::QueueTimer_proxy::INTERFACE_NAME).size(), 2u);
  ASSERT_TRUE(PumpUntil(*client.connection, [&] { return heartbeat.changed.size() >= 2; }));
  EXPECT_THAT(heartbeat.changed, ::testing::ElementsAre("Interval", "Enabled"));

  // The queue object's refusal reaches the caller with its reason and number.
  try {
    static_cast<void>(queue.Post(std::string(51, 'x'), {}, false));
    ADD_FAILURE() << "a 51-character name was posted";
  } catch (const sdbus::Error& e) {
    EXPECT_EQ(e.getName(), "org.dovel.Dovel.Error.Failed");
    EXPECT_THAT(e.getMessage(), HasSubstr("(number 380)"));
  }
}

TEST(BusServer, AllFiveEventsArriveAsSignals) {
  Client client;
  const std::string path = client.Create();
  QueueProxy queue(*client.connection, path);
  // The client's side of the hand-over, through shared memory as any client.
  dovel::client::QueueClient taker(u"", dovel::platform::automation::FromUtf8(queue.CurrentMsgGUID()),
                                   dovel::platform::automation::FromUtf8(queue.LastSentMsgGUID()));
  ASSERT_TRUE(taker.ok()) << taker.status().message();
  std::vector<std::u16string> sent;
  queue.on_event = [&](const std::string& event) {
    if (event == "SendData") {
      auto taken = taker.TakeCurrent();
      if (taken && !taken.value.empty()) sent.push_back(taken.value);
    } else if (event == "Heartbeat") {
      static_cast<void>(queue.Post("Keep Alive", {}, true));
    } else if (event == "InactiveSession") {
      queue.InactivityComplete();
    }
  };
  queue.InactivityTimeout(1);
  for (const auto& [timer, interval] :
       {std::pair{queue.HeartbeatTimer(), 200}, std::pair{queue.DiagRefreshTimer(), 300},
        std::pair{queue.TimeoutTimer(), 400}}) {
    TimerProxy proxy(*client.connection, timer);
    proxy.Interval(interval);
    proxy.Enabled(true);
  }
  const std::string posted = queue.Post("Hello", {1, 2, 3}, false);
  EXPECT_EQ(posted.size(), 38u);

  const std::set<std::string> all = {"SendData", "Timeout", "InactiveSession", "Heartbeat", "DiagRefresh"};
  EXPECT_TRUE(PumpUntil(
      *client.connection,
      [&] { return std::all_of(all.begin(), all.end(), [&](const auto& e) { return queue.events.count(e) != 0; }); }))
      << "heard " << queue.events.size() << " of the five events";
  EXPECT_THAT(sent, ::testing::Contains(u"Hello"));
}

TEST(BusServer, ReleasedObjectsLeaveTheBus) {
  Client client;
  const std::string path = client.Create();
  QueueProxy queue(*client.connection, path);
  const std::string work_queue = queue.WorkQueueGUID();
  EXPECT_TRUE(BlockExists(work_queue));
  EXPECT_THAT(ManagedPaths(*client.connection), ::testing::IsSupersetOf({path, path + "/WorkerTimer"}));

  client.factory.Release(path);
  EXPECT_THAT(ManagedPaths(*client.connection), ::testing::Not(::testing::Contains(::testing::StartsWith(path))));
  EXPECT_EQ(ErrorOf([&] { static_cast<void>(queue.Unattended()); }), "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_EQ(ErrorOf([&] { TimerProxy(*client.connection, path + "/WorkerTimer").Enabled(true); }),
            "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_EQ(ErrorOf([&] { client.factory.Release(path); }), "org.dovel.Dovel.Error.NoSuchObject");
  EXPECT_EQ(ErrorOf([&] { client.factory.Release("/org/dovel/Dovel/clsMsgQueue/0"); }),
            "org.dovel.Dovel.Error.NoSuchObject");
  EXPECT_FALSE(BlockExists(work_queue));
}

TEST(BusServer, OnlyTheOwnerMayUseAnObject) {
  Client owner, other;
  const std::string path = owner.Create();
  QueueProxy theirs(*other.connection, path);
  TimerProxy their_timer(*other.connection, path + "/WorkerTimer");

  const std::string kNotOwner = "org.dovel.Dovel.Error.NotOwner";
  EXPECT_EQ(ErrorOf([&] { theirs.InactivityComplete(); }), kNotOwner);
  EXPECT_EQ(ErrorOf([&] { theirs.UnloadQueue(); }), kNotOwner);
  EXPECT_EQ(ErrorOf([&] { theirs.Unattended(true); }), kNotOwner);
  EXPECT_EQ(ErrorOf([&] { their_timer.Enabled(false); }), kNotOwner);
  EXPECT_EQ(ErrorOf([&] { other.factory.Release(path); }), kNotOwner);
  // Reading is not changing, and a short-lived poster may hand over a
  // message: both are open to anyone.
  EXPECT_FALSE(theirs.Unattended());
  EXPECT_TRUE(their_timer.Enabled());
  EXPECT_EQ(theirs.Post("From a passer-by", {}, false).size(), 38u);
}

TEST(BusServer, AnOwnerLeavingFreesItsObjects) {
  Client watcher;
  auto leaving = std::make_unique<Client>();
  const std::string path = leaving->Create();
  const std::string work_queue = QueueProxy(*leaving->connection, path).WorkQueueGUID();
  const std::uint32_t with_it = watcher.Count();
  EXPECT_GE(with_it, 1u);

  leaving.reset();
  ASSERT_TRUE(PumpUntil(*watcher.connection, [&] { return watcher.Count() == with_it - 1; }));
  EXPECT_EQ(ErrorOf([&] { static_cast<void>(QueueProxy(*watcher.connection, path).Unattended()); }),
            "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_FALSE(BlockExists(work_queue));
}

TEST(BusServer, AnIdleServerExitsAndTheNextCreateStartsAnother) {
  Client client;
  client.factory.Release(client.Create());
  ASSERT_TRUE(PumpUntil(*client.connection, [&] { return !ServerRunning(*client.connection); }));

  // Numbers start again at 1 only in a new server.
  const std::string path = client.Create();
  EXPECT_EQ(path, "/org/dovel/Dovel/clsMsgQueue/1");
  client.factory.Release(path);
}

TEST(BusServer, TerminationUnloadsEveryObject) {
  Client client;
  const std::string path = client.Create();
  const std::string work_queue = QueueProxy(*client.connection, path).WorkQueueGUID();
  auto bus = sdbus::createProxy(*client.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  std::uint32_t pid = 0;
  bus->callMethod("GetConnectionUnixProcessID")
      .onInterface("org.freedesktop.DBus")
      .withArguments(std::string(kName))
      .storeResultsTo(pid);
  ASSERT_GT(pid, 0u);

  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGTERM), 0);
  EXPECT_TRUE(PumpUntil(*client.connection, [&] { return !ServerRunning(*client.connection); }));
  EXPECT_TRUE(PumpUntil(*client.connection, [&] { return !BlockExists(work_queue); }));
}

}  // namespace
