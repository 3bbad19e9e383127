// A second holder of the card: the program keeps its own message and names the process that
// holds the card on standard error.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ProgramFixture.h"

using namespace progtest;

namespace {

using CardHolderTest = ProgramTest;

TEST_F(CardHolderTest, TheHoldersProcessIsNamedBesideTheBoardsOwnMessage) {
  StandardWork();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    simtest::Card card;
    const char state = card.Ok() ? 'y' : 'n';
    if (write(ready[1], &state, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  ASSERT_EQ(state, 'y');

  ::testing::internal::CaptureStderr();
  ASSERT_EQ(Start(), std::nullopt);
  const std::string said = ::testing::internal::GetCapturedStderr();
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  ASSERT_FALSE(MessageTexts().empty());
  EXPECT_EQ(MessageTexts()[0], "There are no available 512 PCI boards to open, is the software already running?");
  const std::string line = "Sorrel: The card is held by process " + std::to_string(holder) + " (" +
                           program_invocation_short_name + ")\n";
  EXPECT_NE(said.find(line), std::string::npos) << said;
  Close();
}

TEST_F(CardHolderTest, AFreeCardGetsNoSuchLine) {
  StandardWork();
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("held by"), std::string::npos);
  Close();
}

}  // namespace
