#include "LiveViewDlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Sorrel.h"
#include "SorrelDlg.h"
#include "SorrelResources.h"

namespace {

constexpr int REFRESH_TIMER = 1;
constexpr auto RATE_WINDOW = std::chrono::milliseconds(1000);
constexpr size_t LARGEST_FRAME = 512 * 512;  // the largest board's; others are read in one pass too

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

CLiveViewDlg::CLiveViewDlg(CSorrelDlg* pMain) : CDialog(ProgramTemplate(IDD), pMain), m_pMain(pMain) {
  Route(EventKind::Timer, REFRESH_TIMER, &CLiveViewDlg::OnTimer);
  Route(EventKind::Click, IDC_LIVE_ONE_TO_ONE, &CLiveViewDlg::OnOneToOne);
}

bool CLiveViewDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(LoadIcon(IDR_MAINFRAME), true);
  Refresh();
  SetTimer(REFRESH_TIMER, REFRESH_MS);
  return true;
}

void CLiveViewDlg::OnOK() {}

void CLiveViewDlg::OnCancel() {
  KillTimer(REFRESH_TIMER);
  DestroyWindow();
}

void CLiveViewDlg::OnTimer(const Event&) { Refresh(); }

void CLiveViewDlg::OnOneToOne() { SetPictureOneToOne(IDC_LIVE_PICTURE, IsDlgButtonChecked(IDC_LIVE_ONE_TO_ONE) != 0); }

void CLiveViewDlg::SetText(int id, const std::string& text) {
  if (GetDlgItemText(id) != text) SetDlgItemText(id, text);
}

void CLiveViewDlg::Refresh() {
  const std::vector<pci::Location> held = pci::RegisteredCards();
  pci::DisplayInfo info{};
  bool shown = false;
  if (!held.empty()) {
    m_Scratch.resize(LARGEST_FRAME);
    shown = pci::ReadDisplay(held.front(), info, m_Scratch.data(), m_Scratch.size());
    const size_t size = static_cast<size_t>(info.Width) * info.Height;
    if (shown && size > m_Scratch.size()) {
      m_Scratch.resize(size);
      shown = pci::ReadDisplay(held.front(), info, m_Scratch.data(), m_Scratch.size());
    }
    m_Scratch.resize(std::min(size, m_Scratch.size()));
  }
  ShowBoard(shown, shown ? held.front() : pci::Location{});
  if (!shown) {
    if (m_Shown) SetPicture(IDC_LIVE_PICTURE, m_Shown = nullptr);
    for (int id : {IDC_LIVE_FRAME, IDC_LIVE_POWER, IDC_LIVE_LASERS, IDC_LIVE_RUN}) SetText(id, "");
    m_Samples.clear();
    return;
  }
  ShowPicture(info, m_Scratch);
  ShowStatus(info);
}

void CLiveViewDlg::ShowBoard(bool held, const pci::Location& where) {
  if (!held) {
    SetText(IDC_LIVE_BOARD, "No board is open: the SLM shows nothing Sorrel sent.");
    return;
  }
  COrvBoard* board = theApp ? theApp->m_pBoard : nullptr;
  std::string name = board ? board->BoardSpec()->BoardName : "SLM";
  if (name.ends_with("_SLM")) name.resize(name.size() - 4);  // "Kite_SLM": the model is "Kite"
  const std::string backend = pci::ServingBackend();
  if (backend == "simulated") {
    SetText(IDC_LIVE_BOARD, "SIMULATED " + name + " board: no hardware is driven (SORREL_SIM)");
  } else {
    SetText(IDC_LIVE_BOARD, Format("%s board on PCI %04x:%02x:%02x.%x", name.c_str(), where.Bus >> 8, where.Bus & 0xFF,
                                   where.Slot, where.Function));
  }
}

void CLiveViewDlg::ShowPicture(const pci::DisplayInfo& info, std::vector<uint8_t>& pixels) {
  const int width = static_cast<int>(info.Width);
  const int height = static_cast<int>(info.Height);
  if (m_Shown && m_Shown->width == width && m_Shown->height == height && m_Shown->pixels == pixels) return;
  auto picture = std::make_shared<GreyPicture>();
  picture->width = width;
  picture->height = height;
  picture->pixels.swap(pixels);
  m_Shown = picture;
  SetPicture(IDC_LIVE_PICTURE, m_Shown);
}

double CLiveViewDlg::MeasuredRate(const pci::DisplayInfo& info) {
  const Clock::time_point now = Clock::now();
  if (!m_Samples.empty() && info.Interrupts < m_Samples.back().interrupts) m_Samples.clear();  // another card
  m_Samples.push_back({now, info.Interrupts});
  while (m_Samples.size() > 2 && now - m_Samples[1].at >= RATE_WINDOW) m_Samples.pop_front();
  const Sample& first = m_Samples.front();
  const double seconds = std::chrono::duration<double>(now - first.at).count();
  if (seconds < 0.25) return -1.0;
  return static_cast<double>(info.Interrupts - first.interrupts) / seconds;
}

void CLiveViewDlg::ShowStatus(const pci::DisplayInfo& info) {
  // Sequence position i holds the board frame FrameArray[i]: the first one showing this frame.
  const CSorrelApp* app = theApp;
  const int entries = app ? static_cast<int>(app->m_ImageList.size()) : 0;
  int position = -1;
  if (m_pMain && m_pMain->FrameArray) {
    for (int i = 0; i < std::min(entries, m_pMain->m_MaxFrames) && position < 0; ++i) {
      if (m_pMain->FrameArray[static_cast<size_t>(i)] == info.Image) position = i;
    }
  }
  if (position >= 0) {
    SetText(IDC_LIVE_FRAME, Format("Frame %u, sequence position %d of %d", info.Image, position + 1, entries));
  } else {
    SetText(IDC_LIVE_FRAME, Format("Frame %u, not in the sequence", info.Image));
  }
  SetText(IDC_LIVE_POWER, info.Powered ? "SLM power ON" : "SLM power OFF: the SLM is dark");

  // The light part of an image period from the dark parts the timing registers hold.
  const double dark = (info.DarkA16 + info.DarkB16) / 16.0;
  const double duty = std::clamp(100.0 * (1.0 - dark / std::max<uint32_t>(1, info.ImageFrames)), 0.0, 100.0);
  SetText(IDC_LIVE_LASERS, Format("Laser A gain %u, laser B gain %u, duty %.0f %%", info.LaserAGain, info.LaserBGain,
                                  std::round(duty)));

  const double rate = MeasuredRate(info);
  if (!info.Running) {
    SetText(IDC_LIVE_RUN, "Stopped");
  } else {
    const char* loop = m_pMain && m_pMain->m_bLoop ? "looping" : "once through";
    SetText(IDC_LIVE_RUN, rate < 0 ? Format("Running (%s), measuring...", loop)
                                   : Format("Running (%s) at %.1f frames/s measured", loop, rate));
  }
}
