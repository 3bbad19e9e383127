// The yes/no question: the caller's flag holds the answer; only YES and NO set it.

#include <gtest/gtest.h>

#include "SorrelResources.h"
#include "YesNoDlg.h"
#include "ui/ScriptedHost.h"

namespace {

class YesNoDlgTest : public ::testing::Test {
 protected:
  YesNoDlgTest() : m_Host(CScriptedHost::Install()) {}
  uint8_t Ask(const CScriptedHost::Script& script, uint8_t initial = 9) {
    m_Host.SetScript(IDD_YES_NO, [this, script](CDialog& dlg, CScriptedHost& host) {
      m_Shown = dlg.GetDlgItemText(IDC_QUESTION);
      m_Caption = dlg.GetWindowText();
      script(dlg, host);
    });
    uint8_t answer = initial;
    CYesNoDlg ask("Save changes to demo.sif?", &answer);
    ask.DoModal();
    return answer;
  }
  CScriptedHost& m_Host;
  std::string m_Shown, m_Caption;
};

TEST_F(YesNoDlgTest, YesAndNoSetTheFlag) {
  EXPECT_EQ(Ask([](CDialog& dlg, CScriptedHost& host) { host.Click(dlg, IDYES); }), 1);
  EXPECT_EQ(m_Shown, "Save changes to demo.sif?");
  EXPECT_EQ(m_Caption, "");
  EXPECT_EQ(Ask([](CDialog& dlg, CScriptedHost& host) { host.Click(dlg, IDNO); }), 0);
  EXPECT_EQ(Ask([](CDialog& dlg, CScriptedHost& host) { host.PressEnter(dlg); }), 1) << "YES is the default button";
}

TEST_F(YesNoDlgTest, AnyOtherWayOutLeavesTheFlagAsTheCallerSetIt) {
  EXPECT_EQ(Ask([](CDialog& dlg, CScriptedHost& host) { host.PressEscape(dlg); }), 9);
  EXPECT_EQ(Ask([](CDialog& dlg, CScriptedHost& host) { host.CloseWindow(dlg); }, 0), 0);
}

}  // namespace
