#pragma once
// The live view: a second window showing what the SLM shows now, read back from the board
// through the PCI facility (the simulated card's panel, or what the driver last wrote to and
// selected on a real card), never from the program's own frames. It refreshes on the
// user-interface thread at the screen's pace and reads the board without waiting for its
// interrupt routine.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Resource.h"
#include "pci/Facility.h"
#include "ui/Dialog.h"

class CSorrelDlg;

class CLiveViewDlg : public CDialog {
 public:
  enum { IDD = IDD_LIVE_VIEW };

  // Refresh period: one pass per frame of a 60 Hz screen.
  static constexpr unsigned REFRESH_MS = 16;

  explicit CLiveViewDlg(CSorrelDlg* pMain);

  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;  // the close box and Escape take the window down
  void OnTimer(const Event& e);
  void OnOneToOne();

  // Reads the board once and shows what changed.
  void Refresh();

 private:
  using Clock = std::chrono::steady_clock;
  struct Sample {
    Clock::time_point at;
    uint64_t interrupts;
  };

  void ShowBoard(bool held, const pci::Location& where);
  void ShowPicture(const pci::DisplayInfo& info, std::vector<uint8_t>& pixels);
  void ShowStatus(const pci::DisplayInfo& info);
  void SetText(int id, const std::string& text);
  // Interrupts per second over the last second of samples; negative while too few.
  double MeasuredRate(const pci::DisplayInfo& info);

  CSorrelDlg* m_pMain;
  std::shared_ptr<const GreyPicture> m_Shown;
  std::vector<uint8_t> m_Scratch;
  std::deque<Sample> m_Samples;
};
