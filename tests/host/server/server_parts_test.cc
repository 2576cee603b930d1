// Parts of the loopback server in process: connection slots, the outgoing
// queue's byte bound, event names, and where the run file may go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "server/connection_slots.h"
#include "server/event_names.h"
#include "server/outgoing_queue.h"
#include "server/run_file.h"

namespace Tesk::DevHost {
namespace {

struct Connection : SlotHolder {
  void Evict() override { evicted = true; }
  bool evicted = false;
};

TEST(ConnectionSlots, IdleClientsGiveWayAndBusyOnesAreKept) {
  ConnectionSlots slots(SlotLimits{2, 2, 1});
  Connection pending[3];
  for (Connection& connection : pending) slots.AddPending(connection);
  // The oldest pending connection went for the newest.
  EXPECT_TRUE(pending[0].evicted);
  EXPECT_FALSE(pending[1].evicted);
  EXPECT_EQ(slots.Count(SlotKind::Pending), 2u);

  // Authenticated connections leave the pending slots, busy.
  ASSERT_TRUE(slots.Promote(pending[1]));
  ASSERT_TRUE(slots.Promote(pending[2]));
  EXPECT_EQ(slots.Count(SlotKind::Pending), 0u);
  Connection third;
  slots.AddPending(third);
  EXPECT_FALSE(slots.Promote(third)) << "every request slot is busy";
  // The one idle longest gives way; a busy one never does.
  slots.SetIdle(pending[2], true);
  slots.SetIdle(pending[1], true);
  ASSERT_TRUE(slots.Promote(third));
  EXPECT_TRUE(pending[2].evicted);
  EXPECT_FALSE(pending[1].evicted);

  Connection stream[2];
  EXPECT_TRUE(slots.AddStream(stream[0]));
  EXPECT_FALSE(slots.AddStream(stream[1]));
  EXPECT_EQ(slots.Total(), 3u);
  slots.Remove(stream[0]);
  slots.Remove(stream[0]);  // twice is harmless
  EXPECT_TRUE(slots.AddStream(stream[1]));
  EXPECT_EQ(slots.Holders().size(), 3u);
}

TEST(OutgoingQueue, BoundsBytesButTakesAnyFrameWhenEmpty) {
  OutgoingQueue queue(10);
  const auto text = [](size_t size) { return std::make_shared<const std::string>(size, 'x'); };
  EXPECT_TRUE(queue.Push(text(25)));  // larger than the bound, into an empty queue
  EXPECT_FALSE(queue.Push(text(1)));
  EXPECT_EQ(queue.Front()->size(), 25u);
  EXPECT_FALSE(queue.Done());
  EXPECT_TRUE(queue.Push(text(6), true));
  EXPECT_FALSE(queue.Push(text(5)));
  EXPECT_TRUE(queue.Push(text(4)));
  EXPECT_EQ(queue.Bytes(), 10u);
  queue.Front();
  EXPECT_TRUE(queue.Done()) << "the reply";
}

TEST(EventNames, DeriveFromResourceUrisAndLcdsClasses) {
  struct Case {
    const char* uri;
    const char* name;
  };
  const Case cases[] = {
      {"/tav-login/v1/session", "OnJsonApiEvent_tav-login_v1_session"},
      {"/a/b/c/d/e", "OnJsonApiEvent_a_b_c"},
      {"a//b", "OnJsonApiEvent_a_b"},
      {"/", "OnJsonApiEvent"},
      {"/tav-platform-config/v1/namespaces/PersonalizedOffers/HubEnabled/x",
       "OnJsonApiEvent_tav-platform-config_v1_namespaces_PersonalizedOffers_HubEnabled"},
  };
  for (const Case& test : cases) EXPECT_EQ(EventNameForResource(test.uri), test.name) << test.uri;
  EXPECT_EQ(EventNameForLcdsType("com.teskgames.platform.messaging.StoreFulfillmentNotification"),
            "OnLcdsEvent_com_teskgames_platform_messaging_StoreFulfillmentNotification");
}

TEST(RunFile, GoesOnlyWhereNoOtherUserCanChangeIt) {
  char scratch[] = "/tmp/ktx-run-folder-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string base = scratch;
  const std::string shared = base + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  ASSERT_EQ(symlink(shared.c_str(), (base + "/link").c_str()), 0);
  std::string error;
  {
    RunFile file;
    EXPECT_FALSE(file.Write(base + "/link/run.json", "{}", error));
    EXPECT_NE(error.find(shared), std::string::npos) << error;
  }
  {
    RunFile file;
    EXPECT_FALSE(file.Write(shared + "/run.json", "{}", error));
  }
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);  // sticky, as /tmp is
  {
    RunFile file;
    EXPECT_TRUE(file.Write(base + "/link/run.json", "{\"pid\":1}\n", error)) << error;
    EXPECT_EQ(access((shared + "/run.json").c_str(), F_OK), 0);
  }
  EXPECT_NE(access((shared + "/run.json").c_str(), F_OK), 0) << "removed with its writer";
  unlink((base + "/link").c_str());
  rmdir(shared.c_str());
  rmdir(base.c_str());
}

}  // namespace
}  // namespace Tesk::DevHost
