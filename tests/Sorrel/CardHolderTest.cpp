// A second holder of the card: the program keeps its own message and names the process that
// holds the card on standard error.

#include "Child.h"
#include "ProgramFixture.h"

using namespace progtest;

namespace {

using CardHolderTest = ProgramTest;

TEST_F(CardHolderTest, TheHoldersProcessIsNamedBesideTheBoardsOwnMessage) {
  StandardWork();
  CHoldingChild holder([](const auto& held) {
    simtest::Card card;
    held(card.Ok());
  });
  ASSERT_TRUE(holder.Held());

  ::testing::internal::CaptureStderr();
  ASSERT_EQ(Start(), std::nullopt);
  const std::string said = ::testing::internal::GetCapturedStderr();
  const pid_t holderPid = holder.Pid();
  holder.End();

  ASSERT_FALSE(MessageTexts().empty());
  EXPECT_EQ(MessageTexts()[0], "There are no available 512 PCI boards to open, is the software already running?");
  const std::string line = "Sorrel: The card is held by process " + std::to_string(holderPid) + " (" +
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
