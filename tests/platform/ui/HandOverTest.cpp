// Work handed from another thread to the user-interface thread: run there through the host,
// held while the thread is not ready for it, and never waited on once the hand-over closed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "ui/HandOver.h"
#include "ui/ScriptedHost.h"

namespace {

using namespace std::chrono_literals;

class HandOverTest : public ::testing::Test {
 protected:
  void SetUp() override { m_Host = &CScriptedHost::Install(); }
  // Runs the host's posted work until done is ready; the posted work that ran.
  template <class T>
  int RunUntil(std::future<T>& done) {
    int ran = 0;
    while (done.wait_for(1ms) != std::future_status::ready) ran += m_Host->RunPosted();
    return ran;
  }
  CScriptedHost* m_Host = nullptr;
};

TEST_F(HandOverTest, RunWaitsForTheWorkToRunOnTheUserInterfaceThread) {
  CHandOver handOver;
  const std::thread::id ui = std::this_thread::get_id();
  std::thread::id ranOn;
  auto done = std::async(std::launch::async, [&] { return handOver.Run([&] { ranOn = std::this_thread::get_id(); }); });
  EXPECT_EQ(done.wait_for(50ms), std::future_status::timeout) << "nothing runs it until the event loop does";
  EXPECT_EQ(RunUntil(done), 1);
  EXPECT_TRUE(done.get());
  EXPECT_EQ(ranOn, ui);
}

TEST_F(HandOverTest, WorkWaitsWhileTheThreadIsNotReadyForIt) {
  bool ready = false;
  CHandOver handOver([&] { return ready; });
  int ran = 0;
  handOver.Send([&] { ++ran; });
  m_Host->RunPosted();
  m_Host->AdvanceTime(100);
  EXPECT_EQ(ran, 0);
  ready = true;
  m_Host->AdvanceTime(100);
  EXPECT_EQ(ran, 1);
}

TEST_F(HandOverTest, ClosingReleasesWhoWaitsAndRunsNothingMore) {
  CHandOver handOver([] { return false; });
  std::atomic<int> ran = 0;
  auto waiting = std::async(std::launch::async, [&] { return handOver.Run([&] { ++ran; }); });
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  handOver.Close();
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(handOver.Run([&] { ++ran; }));
  handOver.Send([&] { ++ran; });
  m_Host->AdvanceTime(1000);
  EXPECT_EQ(ran, 0);
}

TEST_F(HandOverTest, ModalRunsCountsTheBoxesOpenOnTheThread) {
  int during = -1;
  m_Host->SetMessageBoxHandler([&](const CScriptedHost::MessageRecord&) {
    during = ModalRuns();
    return IDOK;
  });
  EXPECT_EQ(ModalRuns(), 0);
  MessageBox(nullptr, "text", "CAPTION");
  EXPECT_EQ(during, 1);
  EXPECT_EQ(ModalRuns(), 0);
}

}  // namespace
