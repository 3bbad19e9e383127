#pragma once
// Every pattern test runs under the scripted host with a temporary folder for its files.
// The readers are handed their geometry; no application object and no board are needed.

#include <gtest/gtest.h>

#include "PatternFiles.h"
#include "ui/ScriptedHost.h"

class PatternTest : public ::testing::Test {
 protected:
  PatternTest() : m_Host(CScriptedHost::Install()) {}

  std::string File(const std::string& name) const { return m_Folder.Path(name); }
  const std::vector<CScriptedHost::MessageRecord>& Messages() const { return m_Host.Messages(); }

  CScriptedHost& m_Host;
  CTempFolder m_Folder;
};
