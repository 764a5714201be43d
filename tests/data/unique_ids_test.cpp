#include "data/unique_ids.h"

#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "data/db_object.h"
#include "data/engine_fixture.h"
#include "data/log_capture.h"
#include "logging/log_state.h"
#include "platform/clock.h"
#include "support/child_process.h"

namespace dexweb {
namespace {

using test::EngineTest;

class UniqueIds : public EngineTest {};
DEXWEB_INSTANTIATE_ENGINES(UniqueIds);

TEST_P(UniqueIds, CounterStepsAndWrapsAt2000000000) {
  DBObject db(database().settings());
  db.Counter().record_id = 1;
  EXPECT_EQ(get_unique(db), 1);
  EXPECT_EQ(get_unique(db), 2);
  database().set_counter(kMaxUniqueId - 1);
  EXPECT_EQ(get_unique(db), kMaxUniqueId);
  EXPECT_EQ(get_unique(db), 1);
  EXPECT_EQ(database().counter(), 1);
}

TEST_P(UniqueIds, EmptyCountersTableGivesZeroWithoutRetry) {
  database().exec("DELETE FROM counters");
  test::LogCapture log;
  DBObject db(database().settings());
  db.Counter().record_id = 1;
  EXPECT_EQ(get_unique(db), 0);
  EXPECT_TRUE(log.lines.empty());
}

TEST_P(UniqueIds, SixFailuresFallBackToARandomId) {
  database().exec("DROP TABLE counters");
  platform::ManualClock clock{std::chrono::system_clock::now()};
  platform::ScopedClock scoped{clock};
  test::LogCapture log;
  DBObject db(database().settings());
  db.Counter().record_id = 1;
  int id = get_unique(db);
  EXPECT_GE(id, 1000000000);
  EXPECT_LE(id, 1999999999);
  EXPECT_EQ(log.count_starting("Get_Unique2 warning: "), 6);
  EXPECT_EQ(log.count_starting("get_unique failed, using random unique id"), 1);
  EXPECT_EQ(db.Counter().failures, 6);
  // The statement gets no retries of its own and the setting is put back.
  EXPECT_EQ(log.count_starting("Warning - DbObject.OpenRecordset:"), 0);
  EXPECT_EQ(db.Settings().retries, 3);
}

TEST(UniqueIdsEmbedded, SuccessOnTheThirdAttemptIsLogged) {
  auto database = test::make_sqlite_database();
  database->exec("ALTER TABLE counters RENAME TO counters_away");
  platform::ManualClock clock{std::chrono::system_clock::now()};
  platform::ScopedClock scoped{clock};
  clock.at(std::chrono::milliseconds(500), [&] { database->exec("ALTER TABLE counters_away RENAME TO counters"); });
  test::LogCapture log;
  DBObject db(database->settings());
  db.Counter().record_id = 1;
  EXPECT_EQ(get_unique(db), 1);
  EXPECT_EQ(log.count_starting("Get_Unique2 warning: "), 2);
  EXPECT_EQ(log.count_starting("get_unique retry was successful"), 1);
  EXPECT_EQ(db.Counter().failures, 0);
}

// ---- two processes drawing from one counter row ----

// Runs only as a child of DrawnByTwoProcessesWithoutDuplicates.
TEST(UniqueIdsChild, DrawIds) {
  const char* dir = ::getenv("DEXWEB_CHILD_DB_DIR");
  if (!dir) GTEST_SKIP() << "runs as a child process only";
  reset_process_state();
  int count = std::atoi(::getenv("DEXWEB_CHILD_COUNT"));
  std::ofstream out(::getenv("DEXWEB_CHILD_OUT"));
  DatabaseSettings settings;
  settings.db_dir = dir;
  DBObject db(std::move(settings));
  db.Counter().record_id = 1;
  for (int i = 0; i < count; ++i) out << get_unique(db) << '\n';
}

TEST_P(UniqueIds, DrawnByTwoProcessesWithoutDuplicates) {
  constexpr int kPerProcess = 5000;
  auto started = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<test::ChildProcess>> children;
  for (int i = 0; i < 2; ++i) {
    std::map<std::string, std::string> env = {{"DEXWEB_CHILD_DB_DIR", database().dir()},
                                              {"DEXWEB_CHILD_COUNT", std::to_string(kPerProcess)},
                                              {"DEXWEB_CHILD_OUT", database().dir() + "ids" + std::to_string(i)}};
    children.push_back(std::make_unique<test::ChildProcess>(
        std::vector<std::string>{"/proc/self/exe", "--gtest_filter=UniqueIdsChild.DrawIds"}, env));
  }
  for (auto& child : children) ASSERT_EQ(child->wait(240), 0) << child->stdout_text();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::set<int> ids;
  for (int i = 0; i < 2; ++i) {
    std::ifstream in(database().dir() + "ids" + std::to_string(i));
    int n = 0, lines = 0;
    while (in >> n) {
      ids.insert(n);
      ++lines;
    }
    EXPECT_EQ(lines, kPerProcess);
  }
  EXPECT_EQ(ids.size(), 2u * kPerProcess);
  // Ids come from the counter, 1 upwards without a gap, unless a draw met the other
  // process's lock six times running (a busy machine) and fell back to the random range.
  auto fallback = ids.lower_bound(1000000000);
  const long counter_ids = std::distance(ids.begin(), fallback);
  const long fallbacks = std::distance(fallback, ids.end());
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*std::prev(fallback), counter_ids);
  EXPECT_EQ(database().counter(), counter_ids);
  EXPECT_LT(fallbacks, 20);
  RecordProperty("ids_per_second", static_cast<int>(2 * kPerProcess / seconds));
  std::printf("%s: %d ids in %.2f s (%.0f ids/s), %ld fallback ids\n", GetParam().c_str(), 2 * kPerProcess,
              seconds, 2 * kPerProcess / seconds, fallbacks);
}

}  // namespace
}  // namespace dexweb
