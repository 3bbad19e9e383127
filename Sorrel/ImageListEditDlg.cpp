#include "ImageListEditDlg.h"

#include <cstring>

#include "AppPatterns.h"
#include "BitmapConversion.h"
#include "LUTFile.h"
#include "Sorrel.h"
#include "SorrelResources.h"
#include "TableMap.h"
#include "files/Paths.h"
#include "ui/Host.h"

namespace {

constexpr int NARROW_WINDOW = 596;  // main window pixels at which the preview moves up
constexpr int PATTERN_PATH_BUFFER = 300;
constexpr int LUT_PATH_BUFFER = 260;

std::unique_ptr<uint8_t[]> MissingImage(size_t pixels) {
  auto image = std::make_unique<uint8_t[]>(pixels);
  std::memset(image.get(), MISSING_PIXEL, pixels);
  return image;
}

}  // namespace

CImageListEditDlg::CImageListEditDlg(uint8_t* screenImages, int entryIndex, Image_Entry* entry, CDialog* pParent)
    : CDialog(ProgramTemplate(IDD), pParent), m_pScreenImages(screenImages), m_EntryIndex(entryIndex), m_pEntry(entry) {
  Route(EventKind::Paint, 0, &CImageListEditDlg::OnPaint);
  Route(EventKind::Click, IDC_BROWSE_PATTERN, &CImageListEditDlg::OnBrowsePattern);
  Route(EventKind::Click, IDC_BROWSE_LUT, &CImageListEditDlg::OnBrowseLUT);
  Route(EventKind::Click, IDC_EDIT_OK, [this](const Event&) { OnOK(); });
  Route(EventKind::Click, IDC_EDIT_CANCEL, [this](const Event&) { OnCancel(); });
  Route(EventKind::HelpInfo, 0, &CImageListEditDlg::OnHelpInfo);
}

uint8_t* CImageListEditDlg::Slot() const {
  if (m_pScreenImages == nullptr || m_EntryIndex < 0) return nullptr;
  return m_pScreenImages + static_cast<size_t>(m_EntryIndex) * SCREEN_IMAGE_BYTES;
}

bool CImageListEditDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_PatternPath = m_pEntry ? m_pEntry->PatternFile : std::string();
  ListAddString(IDC_EDIT_PATTERN_NAME, NameAndExtension(m_PatternPath));
  m_LUTPath = m_pEntry ? m_pEntry->LUTFile : std::string();
  ListAddString(IDC_EDIT_LUT_NAME, NameAndExtension(m_LUTPath));
  CSorrelApp& app = *theApp;
  if (app.m_WindowWidth > NARROW_WINDOW) {
    app.m_EditPreviewX = 48;
    app.m_EditPreviewY = 107;
  } else {
    app.m_EditPreviewX = 19;
    app.m_EditPreviewY = 75;
  }
  UpdateData(false);
  Invalidate(true);
  return true;
}

void CImageListEditDlg::OnPaint() {
  const uint8_t* slot = Slot();
  CDC dc = GetDC();
  if (slot == nullptr || !dc.IsValid()) return;
  const CSorrelApp& app = *theApp;
  for (size_t i = 0; i < SCREEN_IMAGE_BYTES; ++i) {
    const uint8_t v = slot[i];
    dc.SetPixel(app.m_EditPreviewX + static_cast<int>(i % SCREEN_SIDE),
                app.m_EditPreviewY + static_cast<int>(i / SCREEN_SIDE), RGB(v, v, v));
  }
}

// One of the two files: a chosen one replaces path and its line and updates the preview; a
// cancel puts back the entry's own file (the preview keeps what an earlier choice made).
void CImageListEditDlg::Browse(const char* title, std::vector<std::pair<std::string, std::string>> filters,
                               size_t bufferSize, std::string& path, int nameList, const std::string& entryPath) {
  FileDialogRequest request;
  request.open = true;
  request.title = title;
  request.filters = std::move(filters);
  request.initialFolder = SplitPath(path).folder;
  request.bufferSize = bufferSize;
  if (const std::optional<std::string> chosen = FileDialog(this, request)) {
    ListDeleteString(nameList, 0);
    path = *chosen;
    ListAddString(nameList, NameAndExtension(path));
    UpdatePreview();
  } else {
    path = entryPath;
  }
  UpdateData(false);
  Invalidate(true);
}

void CImageListEditDlg::OnBrowsePattern() {
  Browse("Open a pattern File", {{"Pattern Files (*.BMP)", "*.bmp"}, {"(*.ZRN)", "*.zrn;"}}, PATTERN_PATH_BUFFER,
         m_PatternPath, IDC_EDIT_PATTERN_NAME, m_pEntry ? m_pEntry->PatternFile : std::string());
}

void CImageListEditDlg::OnBrowseLUT() {
  Browse("Open a Lookup Table File", {{"Lookup Table Files (*.LUT, *.TXT)", "*.lut;*.txt;"}}, LUT_PATH_BUFFER,
         m_LUTPath, IDC_EDIT_LUT_NAME, m_pEntry ? m_pEntry->LUTFile : std::string());
}

void CImageListEditDlg::OnHelpInfo(const Event& e) {
  if (e.code == 1) WinHelp(HELP_CONTEXTPOPUP, static_cast<unsigned>(e.id));
}

void CImageListEditDlg::UpdatePreview() {
  std::unique_ptr<uint8_t[]> image;
  switch (PatternKindOf(m_PatternPath)) {
    case EPatternKind::Bitmap: image = LoadPreviewBitmap(m_PatternPath); break;
    case EPatternKind::Zernike: image = PreviewZernike(m_PatternPath); break;
    // A name no reader takes shows what the download makes of it: a pattern of 48.
    case EPatternKind::Neither: image = MissingImage(SCREEN_IMAGE_BYTES); break;
  }
  uint8_t table[256];
  ReadLUTFile(m_LUTPath, table);
  MapThroughTable(image.get(), SCREEN_IMAGE_BYTES, table);
  if (uint8_t* slot = Slot()) std::memcpy(slot, image.get(), SCREEN_IMAGE_BYTES);
}

std::unique_ptr<uint8_t[]> CImageListEditDlg::LoadPreviewBitmap(const std::string& path) {
  CBitmapConverter bitmap;
  int width = 0, height = 0, bitCount = 0;
  if (!bitmap.Open(path, width, height, bitCount)) {
    m_PreviewWidth = m_PreviewHeight = SCREEN_SIDE;
    return MissingImage(SCREEN_IMAGE_BYTES);
  }
  m_PreviewWidth = width;
  m_PreviewHeight = height;
  m_PreviewBitCount = bitCount;
  // Only a square bitmap has a picture here; any other shows as one that cannot be read.
  if (width != height || width <= 0 || width > MAX_PATTERN_SIDE) return MissingImage(SCREEN_IMAGE_BYTES);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[pixels]);
  if (!image) {
    MessageBox(this, "Error allocating memory for pFile,ReadandInvertBitmap", "MEMORY ERROR", MessageIcon::Error);
    return MissingImage(SCREEN_IMAGE_BYTES);
  }
  if (!bitmap.Convert(image.get(), width)) std::memset(image.get(), MISSING_PIXEL, pixels);
  return ShrinkTo128(image.get());
}

std::unique_ptr<uint8_t[]> CImageListEditDlg::ShrinkTo128(const uint8_t* image) const {
  // Every k-th pixel of every k-th row for a side of k x 128; any other side is sampled in
  // the same proportion, so a small or odd-sized bitmap still fills the preview.
  const size_t side = static_cast<size_t>(m_PreviewHeight);
  auto result = std::make_unique<uint8_t[]>(SCREEN_IMAGE_BYTES);
  for (size_t i = 0; i < SCREEN_SIDE; ++i) {
    const uint8_t* row = image + (i * side / SCREEN_SIDE) * side;
    for (size_t j = 0; j < SCREEN_SIDE; ++j) result[i * SCREEN_SIDE + j] = row[j * side / SCREEN_SIDE];
  }
  return result;
}
