#pragma once
// The application object: the state every part of Sorrel shares. There is exactly one;
// it makes itself reachable through theApp while it lives.

#include <cstdint>

#include "OrvBoard.h"
#include "SequenceFile.h"

class CSorrelApp {
 public:
  CSorrelApp();
  ~CSorrelApp();

  CSorrelApp(const CSorrelApp&) = delete;
  CSorrelApp& operator=(const CSorrelApp&) = delete;

  // Built at start-up, deleted by the shutdown sequence; borrowed here, never deleted.
  COrvBoard* m_pBoard = nullptr;
  ImageList m_ImageList;             // the sequence; position i is board frame i
  uint8_t m_bSequenceModified = 0;   // the sequence differs from its file
  int m_PatternBitCount = 0;         // depth of the last bitmap ReadandInvertBitmap took
};

// The one application object, or null when there is none.
extern CSorrelApp* theApp;

// The board's spec, asked for afresh; null without an application object or a board.
const SBoard_Spec* AppBoardSpec();
