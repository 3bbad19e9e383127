// Termination signals: recorded by the signal handler, delivered on the calling thread,
// first one wins, dispositions given back, and the process ended by the signal itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "ui/Signals.h"

namespace {

class SignalsTest : public ::testing::Test {
 protected:
  void TearDown() override { StopWatchingTerminationSignals(); }
};

TEST_F(SignalsTest, FirstSignalWinsAndTheHandlerNeverNests) {
  std::vector<int> handled;
  bool nestedDelivery = true;
  WatchTerminationSignals([&](int signal) {
    handled.push_back(signal);
    // Another signal while the handler runs: absorbed, never a second run inside this one.
    std::raise(SIGINT);
    nestedDelivery = DeliverPendingTerminationSignal();
  });
  std::raise(SIGTERM);
  std::raise(SIGHUP);
  EXPECT_EQ(PendingTerminationSignal(), SIGTERM);
  EXPECT_EQ(PendingTerminationSignal(), SIGTERM);  // asking does not consume it
  EXPECT_TRUE(DeliverPendingTerminationSignal());
  EXPECT_FALSE(nestedDelivery);
  EXPECT_EQ(handled, std::vector<int>{SIGTERM});
  EXPECT_EQ(PendingTerminationSignal(), 0);
  EXPECT_FALSE(DeliverPendingTerminationSignal());

  // Once the handler has returned, the next signal is delivered again.
  std::raise(SIGHUP);
  EXPECT_TRUE(DeliverPendingTerminationSignal());
  EXPECT_EQ(handled, (std::vector<int>{SIGTERM, SIGHUP}));
}

TEST_F(SignalsTest, HandlerRunsOnTheDeliveringThread) {
  std::vector<std::thread::id> ranOn;
  WatchTerminationSignals([&](int) { ranOn.push_back(std::this_thread::get_id()); });
  std::thread([] { std::raise(SIGTERM); }).join();
  EXPECT_TRUE(ranOn.empty());
  EXPECT_EQ(PendingTerminationSignal(), SIGTERM);
  EXPECT_TRUE(DeliverPendingTerminationSignal());
  EXPECT_EQ(ranOn, std::vector<std::thread::id>{std::this_thread::get_id()});
}

TEST_F(SignalsTest, AFullWakeUpPipeLosesNothingAndErrnoSurvives) {
  int handled = 0;
  WatchTerminationSignals([&](int) { ++handled; });
  const int fd = TerminationSignalFd();
  ASSERT_GE(fd, 0);
  const int capacity = fcntl(fd, F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  // Each signal writes a byte; once the pipe is full the write fails and must not leave
  // its error behind for the interrupted code.
  for (int i = 0; i < capacity; ++i) std::raise(SIGTERM);
  errno = EDOM;
  std::raise(SIGTERM);
  EXPECT_EQ(errno, EDOM);
  EXPECT_TRUE(DeliverPendingTerminationSignal());
  EXPECT_EQ(handled, 1);
  // The pipe is empty again: nothing more to read.
  char byte;
  EXPECT_EQ(read(fd, &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST_F(SignalsTest, WatchingAgainReplacesTheHandlerAndStoppingGivesBackTheDispositions) {
  struct sigaction ignore = {}, before = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGHUP, &ignore, &before), 0);

  int first = 0, second = 0;
  WatchTerminationSignals([&](int) { ++first; });
  WatchTerminationSignals([&](int) { ++second; });
  std::raise(SIGHUP);
  EXPECT_TRUE(DeliverPendingTerminationSignal());
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);

  // A signal pending when watching stops is forgotten with the handler.
  std::raise(SIGTERM);
  StopWatchingTerminationSignals();
  EXPECT_EQ(PendingTerminationSignal(), 0);
  EXPECT_FALSE(DeliverPendingTerminationSignal());
  struct sigaction now = {};
  ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  // Ignored again, as before: this does not end the test.
  std::raise(SIGHUP);
  sigaction(SIGHUP, &before, nullptr);
  EXPECT_EQ(second, 1);
}

using EndByTerminationSignalDeathTest = SignalsTest;

TEST_F(EndByTerminationSignalDeathTest, EndsAsTheSignalWouldWithOutputWritten) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Watched and blocked at the time: the signal still ends the process, and what was
  // buffered is written first.
  EXPECT_EXIT(
      {
        WatchTerminationSignals([](int) { std::fputs("handler ran\n", stderr); });
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        static char buffer[256];
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        std::fputs("written before the end", stderr);
        EndByTerminationSignal(SIGTERM);
      },
      testing::KilledBySignal(SIGTERM), "written before the end");
  EXPECT_EXIT(EndByTerminationSignal(SIGHUP), testing::KilledBySignal(SIGHUP), "");
  // A signal whose default leaves the process alone still ends it, with the shell's status.
  EXPECT_EXIT(EndByTerminationSignal(SIGCHLD), testing::ExitedWithCode(128 + SIGCHLD), "");
}

}  // namespace
