#pragma once
// Every pattern test runs under the scripted host with one application object, a board of
// the geometry it asks for, and a temporary folder for its files.

#include <gtest/gtest.h>

#include <memory>

#include "PatternFiles.h"
#include "Sorrel.h"
#include "ui/ScriptedHost.h"

class PatternTest : public ::testing::Test {
 protected:
  PatternTest() : m_Host(CScriptedHost::Install()) {}

  void UseBoard(uint16_t side) {
    m_Board = std::make_unique<CTestBoard>(side);
    m_App.m_pBoard = m_Board.get();
  }
  std::string File(const std::string& name) const { return m_Folder.Path(name); }
  const std::vector<CScriptedHost::MessageRecord>& Messages() const { return m_Host.Messages(); }

  CScriptedHost& m_Host;
  CSorrelApp m_App;
  CTempFolder m_Folder;
  std::unique_ptr<CTestBoard> m_Board;
};
