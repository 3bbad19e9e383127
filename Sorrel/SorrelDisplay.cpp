// What the main dialog shows of the SLM and the sequence: the screen image of the selected
// entry (or the power-off image), the sequence file box, the entry's boxes and the
// screen-refresh switch.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "AppPatterns.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "files/Paths.h"

void CSorrelDlg::OnPaint() {
  CSorrelApp& app = *theApp;
  const int p = Selection();
  if (p < 0 || app.m_pBoard == nullptr) return;
  const bool powered = app.m_pBoard->GetPower() != 0;
  const uint8_t* source = powered ? m_ArrayForScreenImages : m_PowerOffImage.get();
  const size_t images = app.m_ImageList.size();
  if (source == nullptr || (powered && static_cast<size_t>(p) >= images)) return;
  if (powered) source += static_cast<size_t>(p) * SCREEN_IMAGE_BYTES;
  CDC dc = GetDC();
  if (!dc.IsValid()) return;
  for (size_t i = 0; i < SCREEN_IMAGE_BYTES; ++i) {
    const uint8_t v = source[i];
    dc.SetPixel(app.m_ScreenX + static_cast<int>(i % SCREEN_SIDE), app.m_ScreenY + static_cast<int>(i / SCREEN_SIDE),
                RGB(v, v, v));
  }
}

void CSorrelDlg::InvalidateScreenImage() {
  const CSorrelApp& app = *theApp;
  InvalidateRect(CRect{app.m_ScreenX, app.m_ScreenY, app.m_ScreenX + SCREEN_SIDE, app.m_ScreenY + SCREEN_SIDE}, true);
}

void CSorrelDlg::ShowSequenceName() {
  const CSorrelApp& app = *theApp;
  if (app.m_SequenceState == 2) {
    m_SequenceName = "No File";
  } else if (app.m_SequenceState == 3) {
    m_SequenceName = NameAndExtension(app.m_SequenceFile) + (app.m_bSequenceModified == 1 ? "*" : " ");
  } else {
    m_SequenceName = "Undefined";
  }
  SetDlgItemText(IDC_SEQUENCE_NAME, m_SequenceName);
}

void CSorrelDlg::ShowEntryInfo(const Image_Entry* entry) {
  SetDlgItemText(IDC_ENTRY_PATTERN, entry ? NameAndExtension(entry->PatternFile) : "No pattern");
  SetDlgItemText(IDC_ENTRY_LUT, entry ? NameAndExtension(entry->LUTFile) : "No LUT");
  char data[64];
  const int levels = static_cast<int>(std::pow(2.0, theApp->m_PatternBitCount));
  std::snprintf(data, sizeof data, "%2d x %2d x %2d", m_Width, m_Height, levels);
  SetDlgItemText(IDC_PATTERN_DATA, data);
}

void CSorrelDlg::OnScreenRefresh() {
  SetDlgItemText(IDC_SCREEN_REFRESH, GetDlgItemText(IDC_SCREEN_REFRESH) == "Enabled" ? "Disabled" : "Enabled");
  InvalidateScreenImage();
}
