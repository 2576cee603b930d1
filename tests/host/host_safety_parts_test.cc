// The parts that keep the development host safe, in process: connection
// slots, the outgoing queue's byte bound, UTF-8 repair, and where the run
// file may go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "connection_slots.h"
#include "json_support.h"
#include "outgoing_queue.h"
#include "run_file.h"
#include "utf8_text.h"

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

TEST(Utf8Text, IllFormedSequencesBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"ASCII and valid sequences", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", ""},
      {"a lone continuation byte", "a\x80z", "a" + r + "z"},
      {"an overlong form, each byte", "\xC0\xAF", r + r},
      {"a surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"a truncated sequence, once", "\xE2\x82z", r + "z"},
      {"a truncated sequence at the end", "z\xF0\x9F\x98", "z" + r},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string expected = test.out.empty() ? test.in : test.out;
    EXPECT_EQ(ValidUtf8(test.in), expected);
    EXPECT_EQ(IsValidUtf8(test.in), test.out.empty());
  }
  // The JSON the host writes: strings and member names alike.
  rapidjson::Document document;
  document.SetObject();
  document.AddMember(rapidjson::Value("k\xFF", document.GetAllocator()),
                     rapidjson::Value("v\xC3", document.GetAllocator()), document.GetAllocator());
  EXPECT_EQ(WriteJson(document), "{\"k" + r + "\":\"v" + r + "\"}");
  EXPECT_EQ(JsonQuote("\xFE"), "\"" + r + "\"");
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
