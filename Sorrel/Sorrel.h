#pragma once
// The application object: the state every part of Sorrel shares. There is exactly one;
// it makes itself reachable through theApp while it lives.

#include <cstdint>
#include <memory>
#include <string>

#include "OrvBoard.h"
#include "SequenceFile.h"
#include "cpu/AlignedBytes.h"

class CDialog;

class CSorrelApp {
 public:
  CSorrelApp();
  ~CSorrelApp();

  CSorrelApp(const CSorrelApp&) = delete;
  CSorrelApp& operator=(const CSorrelApp&) = delete;

  // Runs the main dialog modally and returns false: the process ends when it closes.
  bool InitInstance();

  // Built at start-up, deleted by the shutdown sequence.
  COrvBoard* m_pBoard = nullptr;
  // "Kite_SLM" or "Wren_SLM" once the board is known; the stored text until then.
  std::string m_BoardType;
  uint8_t m_bRunning = 0;             // a run was started by the START/STOP button
  ImageList m_ImageList;              // the sequence; position i is board frame i
  std::string m_SequenceFile;
  int m_SequenceState = 0;            // 2 no file, 3 read or saved, else undefined
  uint8_t m_bSequenceModified = 0;    // the sequence differs from its file
  int m_PatternBitCount = 0;          // depth of the last bitmap ReadandInvertBitmap took
  cpu::AlignedBytes m_pFrameBuffer;  // one frame, alive during one entry download
  int m_ScreenX = 0, m_ScreenY = 0;   // client pixels of the 128 x 128 screen image
  int m_EditPreviewX = 0, m_EditPreviewY = 0;  // client pixels of the editor's preview
  int m_WindowWidth = 0;              // the main window's width, measured at start-up
  std::string m_SequenceFolder;       // where the sequence file dialogs open
  std::string m_ImageFolder;          // where the pattern and compensation dialogs open
  std::string m_ProgramFolder;        // the working folder at start-up, with a trailing "/"
  uint16_t FrameRate = 0;
  uint16_t LaserDuty = 0;
  uint16_t LaserAGain = 0;
  uint16_t LaserBGain = 0;
  uint16_t LC_Type = 0;               // 0 amplitude, 1 phase
  uint16_t TrueFrames = 0;

  CDialog* m_pMainWnd = nullptr;
  bool m_bLiveViewAtStart = false;  // the live view opens once start-up is done
};

// The one application object, or null when there is none.
extern CSorrelApp* theApp;
