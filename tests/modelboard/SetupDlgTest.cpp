// The setup dialogs of both models under the scripted host: what they show, the modulator
// switch with its warning, the true frames and toggle rate, the detector sync outputs,
// and what the board writes after the dialog has closed.

#include <cstdio>
#include <functional>

#include "DriverFixture.h"

using namespace drvtest;

namespace {

std::string Rate(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(static_cast<float>(hz)));
  return text;
}

const char* const MODULATOR_WARNING =
    "Changing your modulator type will drastically effect the way your system operates. Are you sure you want "
    "to proceed?";

}  // namespace

template <class M>
class SetupDlgTest : public BoardTest<M> {
 protected:
  static constexpr const SetupIds& Ids = M::Ids;

  int Run(std::function<void(CDialog&, CScriptedHost&)> script) {
    this->m_Host->SetScript(Ids.Template, std::move(script));
    return this->m_Board->SetupDialog(&m_Type, &m_Frames);
  }
  // Board register writes since the given count of them.
  std::vector<std::pair<uint32_t, uint32_t>> WritesSince(size_t from) {
    auto writes = BoardWrites(m_Trace.Path() / "registers.log");
    return {writes.begin() + static_cast<std::ptrdiff_t>(std::min(from, writes.size())), writes.end()};
  }
  void BuildTraced(uint16_t type, uint16_t trueFrames) {
    this->Bus(this->Card(), &m_Trace.Path());
    ASSERT_TRUE(this->Build(type, trueFrames));
  }

  int m_Type = -1;
  int m_Frames = -1;
  TempFolder m_Trace;
};
TYPED_TEST_SUITE(SetupDlgTest, Models, ModelNames);

TYPED_TEST(SetupDlgTest, ShowsWhatTheDriverKnows) {
  const auto& ids = TypeParam::Ids;
  char id[16];
  std::snprintf(id, sizeof id, ":id=%u", TypeParam::PlainId);
  this->Bus(this->Card(id));
  ASSERT_TRUE(this->Build(0, 5));
  std::map<int, std::string> text;
  bool trueFramesEnabled = true;
  int amplitude = -1, phase = -1;
  std::string caption;
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    for (int c : {ids.Bus, ids.Slot, ids.DeviceId, ids.VendorId, ids.SerialNumber, ids.Presence, ids.BoardId,
                  ids.DriverVersion, ids.ControlVersion, ids.MemoryVersion, ids.TrueFrames, ids.ToggleRate, ids.DetA,
                  ids.DetB}) {
      text[c] = dlg.GetDlgItemText(c);
    }
    trueFramesEnabled = dlg.IsDlgItemEnabled(ids.TrueFrames);
    amplitude = dlg.IsDlgButtonChecked(ids.Amplitude);
    phase = dlg.IsDlgButtonChecked(ids.Phase);
    caption = dlg.GetWindowText();
    host.CloseWindow(dlg);
  }),
            1);
  EXPECT_EQ(caption, TypeParam::SetupCaption);
  const std::map<int, std::string> expected{
      {ids.Bus, "1"},
      {ids.Slot, "0"},
      {ids.DeviceId, "0x9050"},
      {ids.VendorId, "0x10b5"},
      {ids.SerialNumber, "PCI9050-0"},
      {ids.Presence, "Board Present"},
      {ids.BoardId, std::to_string(TypeParam::PlainId)},
      {ids.DriverVersion, "8.0"},
      {ids.ControlVersion, " 1.12"},
      {ids.MemoryVersion, " 1.25"},
      {ids.TrueFrames, "5"},
      {ids.ToggleRate, Rate(1e7 / (5 * TypeParam::ToggleK))},
      {ids.DetA, "Disabled"},
      {ids.DetB, "Disabled"},
  };
  EXPECT_EQ(text, expected);
  EXPECT_FALSE(trueFramesEnabled);
  EXPECT_EQ(amplitude, 1);
  EXPECT_EQ(phase, 0);
  EXPECT_EQ(this->m_Type, 0);
  EXPECT_EQ(this->m_Frames, 5);
}

TYPED_TEST(SetupDlgTest, CancelStillWritesTheBoardsOwnChoices) {
  this->BuildTraced(1, 9);
  const size_t before = BoardWrites(this->m_Trace.Path() / "registers.log").size();
  const uint32_t control = this->Peek(REG_CONTROL);
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    host.Click(dlg, TypeParam::Ids.Amplitude);
    host.Click(dlg, TypeParam::Ids.DetA);
    host.PressEscape(dlg);
  }),
            1);
  EXPECT_EQ(this->m_Type, 1);
  EXPECT_EQ(this->m_Frames, 9);
  const std::vector<std::pair<uint32_t, uint32_t>> expected{{REG_CONTROL, control | CONTROL_PHASE},
                                                            {REG_FRAME_COUNTS, 9u << 16}};
  EXPECT_EQ(this->WritesSince(before), expected);
}

TYPED_TEST(SetupDlgTest, EnterRaisesTrueFramesAndKeepsTheDialogOpen) {
  const auto& ids = TypeParam::Ids;
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build(1, 5));
  std::vector<std::string> seen;
  bool stillOpen = false;
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    EXPECT_TRUE(dlg.IsDlgItemEnabled(ids.TrueFrames));
    host.TypeText(dlg, ids.TrueFrames, "1");
    host.PressEnter(dlg);
    stillOpen = !dlg.ModalResult().has_value();
    seen = {dlg.GetDlgItemText(ids.TrueFrames), dlg.GetDlgItemText(ids.ToggleRate)};
    host.TypeText(dlg, ids.TrueFrames, "not a number");
    host.LeaveControl(dlg, ids.TrueFrames);
    seen.push_back(dlg.GetDlgItemText(ids.TrueFrames));
    host.TypeText(dlg, ids.TrueFrames, "70000");
    host.LeaveControl(dlg, ids.TrueFrames);
    seen.push_back(dlg.GetDlgItemText(ids.TrueFrames));
    host.TypeText(dlg, ids.TrueFrames, "100");
    host.LeaveControl(dlg, ids.TrueFrames);
    seen.push_back(dlg.GetDlgItemText(ids.ToggleRate));
    host.TypeText(dlg, ids.TrueFrames, "1");
    host.Click(dlg, ids.OkButton);
  }),
            1);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(seen, (std::vector<std::string>{"3", TypeParam::PresetToggleRate, "3", "32767",
                                            Rate(1e7 / (100 * TypeParam::ToggleK))}));
  EXPECT_EQ(this->m_Type, 1);
  EXPECT_EQ(this->m_Frames, 3);
  EXPECT_EQ(this->Peek(REG_FRAME_COUNTS) >> 16, 3u);
}

TYPED_TEST(SetupDlgTest, AmplitudeTakesHalfTheImageFramesAfterTheWarning) {
  const auto& ids = TypeParam::Ids;
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build(1, 5));
  ASSERT_EQ(this->m_Board->SetImageFrames(6094), 1);
  std::string trueFrames;
  bool enabled = true;
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    host.Click(dlg, ids.Amplitude);
    trueFrames = dlg.GetDlgItemText(ids.TrueFrames);
    enabled = dlg.IsDlgItemEnabled(ids.TrueFrames);
    EXPECT_EQ(dlg.IsDlgButtonChecked(ids.Amplitude), 1);
    EXPECT_EQ(dlg.IsDlgButtonChecked(ids.Phase), 0);
    host.Click(dlg, ids.OkButton);
  }),
            1);
  EXPECT_EQ(trueFrames, "3047");
  EXPECT_FALSE(enabled);
  ASSERT_EQ(this->m_Host->Messages().size(), 1u);
  EXPECT_EQ(this->m_Host->Messages()[0].text, MODULATOR_WARNING);
  EXPECT_EQ(this->m_Host->Messages()[0].caption, "WARNING");
  EXPECT_EQ(this->m_Host->Messages()[0].ownerTemplateId, ids.Template);
  EXPECT_EQ(this->m_Type, 0);
  EXPECT_EQ(this->m_Frames, 3047);
  EXPECT_EQ(this->Peek(REG_CONTROL) & CONTROL_PHASE, 0u);
  EXPECT_EQ(this->Peek(REG_FRAME_COUNTS), 3047u << 16 | 6094);
}

TYPED_TEST(SetupDlgTest, PhaseStartsAtThreeTrueFrames) {
  const auto& ids = TypeParam::Ids;
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build(0, 9));
  std::vector<std::string> seen;
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    host.Click(dlg, ids.Phase);
    EXPECT_TRUE(dlg.IsDlgItemEnabled(ids.TrueFrames));
    seen = {dlg.GetDlgItemText(ids.TrueFrames), dlg.GetDlgItemText(ids.ToggleRate)};
    host.Click(dlg, ids.OkButton);
  }),
            1);
  EXPECT_EQ(seen, (std::vector<std::string>{"3", TypeParam::PresetToggleRate}));
  EXPECT_EQ(this->MessageTexts(), std::vector<std::string>{MODULATOR_WARNING});
  EXPECT_EQ(this->m_Type, 1);
  EXPECT_EQ(this->m_Frames, 3);
  EXPECT_NE(this->Peek(REG_CONTROL) & CONTROL_PHASE, 0u);
}

TYPED_TEST(SetupDlgTest, DetectorSyncButtonsToggle) {
  const auto& ids = TypeParam::Ids;
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build());
  std::vector<std::string> captions;
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    host.Click(dlg, ids.DetA);
    captions.push_back(dlg.GetDlgItemText(ids.DetA));
    host.Click(dlg, ids.DetA);
    captions.push_back(dlg.GetDlgItemText(ids.DetA));
    host.Click(dlg, ids.DetB);
    captions.push_back(dlg.GetDlgItemText(ids.DetB));
    host.Click(dlg, ids.OkButton);
  }),
            1);
  EXPECT_EQ(captions, (std::vector<std::string>{"Enabled", "Disabled", "Enabled"}));
  EXPECT_EQ(this->Peek(REG_CONTROL) & 6u, 4u);
  // The next dialog starts from what the board holds.
  EXPECT_EQ(this->Run([&](CDialog& dlg, CScriptedHost& host) {
    captions = {dlg.GetDlgItemText(ids.DetA), dlg.GetDlgItemText(ids.DetB)};
    host.CloseWindow(dlg);
  }),
            1);
  EXPECT_EQ(captions, (std::vector<std::string>{"Disabled", "Enabled"}));
}
