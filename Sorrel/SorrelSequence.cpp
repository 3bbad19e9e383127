// The main dialog's sequence: composing and downloading frames, the list that shows the
// entries, and the commands that open, save and edit the sequence or change what every
// frame is composed with.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

#include "AppPatterns.h"
#include "ComposeAhead.h"
#include "File.h"
#include "ImageListEditDlg.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "files/Paths.h"
#include "ui/Host.h"

namespace {

constexpr int SEQUENCE_PATH_BUFFER = 260;  // characters, as the dialogs ask; the host allows longer
constexpr int COMPENSATION_PATH_BUFFER = 300;

const std::pair<std::string, std::string> SEQUENCE_FILTER{"Sequence Instruction Files (*.SIF)", "*.sif"};

}  // namespace

const Image_Entry* CSorrelDlg::EntryAt(int position) const {
  const ImageList& list = theApp->m_ImageList;
  if (position < 0 || static_cast<size_t>(position) >= list.size()) return nullptr;
  return list[static_cast<size_t>(position)].get();
}

int CSorrelDlg::Selection() const { return ListGetCurSel(IDC_IMAGE_LIST); }

int CSorrelDlg::SelectedPosition() const {
  const int p = Selection();
  return p >= 0 && static_cast<size_t>(p) < theApp->m_ImageList.size() ? p : -1;
}

// Positions a run may use: those the board holds a frame buffer for.
int CSorrelDlg::PlayablePositions() const {
  return static_cast<int>(std::min<size_t>(theApp->m_ImageList.size(), static_cast<size_t>(m_MaxFrames)));
}

bool CSorrelDlg::DownloadEntry(uint16_t position) {
  CSorrelApp& app = *theApp;
  if (position >= app.m_ImageList.size()) return false;
  Image_Entry& entry = *app.m_ImageList[position];
  const size_t frameBytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height);
  app.m_pFrameBuffer = cpu::NewAlignedBytes(frameBytes, std::nothrow);
  if (!app.m_pFrameBuffer) {
    MessageBox(this, "Error allocating memory for DownloadEntry", "MEMORY ERROR", MessageIcon::Stop);
    return false;
  }
  ComposeFrame(entry, app.m_pFrameBuffer.get(), m_bApplyCorrection, m_SLMPhaseComp.get(), m_SysPhaseComp.get());
  const bool written = WriteComposedEntry(position, app.m_pFrameBuffer.get());
  app.m_pFrameBuffer.reset();
  return written;
}

bool CSorrelDlg::WriteComposedEntry(uint16_t position, uint8_t* frame) {
  if (EntryAt(position)->Valid == 0) ShowFailedEntry(position);
  const bool written = theApp->m_pBoard->WriteFrameBuffer(position, frame) != 0;
  // A position whose frame did not reach the board must never show another entry's frame.
  if (position < m_MaxFrames) FrameArray[position] = written ? position : NO_FRAME;
  return written;
}

bool CSorrelDlg::DownloadSequence(uint16_t first) {
  const ImageList& list = theApp->m_ImageList;
  const size_t count = list.size();
  if (count < 1) {
    SetDlgItemText(IDC_START_STOP, "EMPTY");
    return true;
  }
  const std::optional<PatternGeometry> geometry = FrameGeometry();
  const size_t frameBytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height);
  CComposeAhead ahead(
      frameBytes,
      [&](Image_Entry& entry, uint8_t* frame, int& bitCount) {
        ComposeFrameImage(entry, frame, *geometry, m_bApplyCorrection, m_SLMPhaseComp.get(), m_SysPhaseComp.get(),
                          bitCount);
      },
      CComposeAhead::LanesForThisMachine());
  const bool overlap = geometry && ahead.Ready();
  m_pComposeAhead = overlap ? &ahead : nullptr;
  // However the download ends, nothing may reach the composition after it.
  struct Forget {
    CComposeAhead*& held;
    ~Forget() { held = nullptr; }
  } forget{m_pComposeAhead};
  for (size_t p = first; overlap && p < count && p < first + ahead.Lanes(); ++p) ahead.Start(*list[p]);
  bool failed = false;
  m_bDownloading = true;
  m_ListShownThrough = -1;
  for (size_t p = first; p < count; ++p) {
    char caption[32];
    std::snprintf(caption, sizeof caption, "LOADING   %d", static_cast<int>(count - p));
    SetDlgItemText(IDC_START_STOP, caption);
    // The countdown shows as it goes; input waits until the download is done, a
    // termination signal does not.
    UpdateWindow();
    CheckForTermination();
    const auto position = static_cast<uint16_t>(p);
    if (!overlap) {
      if (!DownloadEntry(position)) failed = true;
      continue;
    }
    CComposeAhead::Composed& composed = ahead.Take();
    if (p + ahead.Lanes() < count) ahead.Start(*list[p + ahead.Lanes()]);
    list[p]->Valid = composed.entry.Valid;
    ShowHeldMessages(composed.messages);
    KeepPatternBitCount(composed.bitCount);
    if (!WriteComposedEntry(position, composed.frame)) failed = true;
  }
  m_bDownloading = false;
  CheckForTermination();
  if (failed) WarnWriteFailed();
  SetDlgItemText(IDC_START_STOP, "START");
  return true;
}

void CSorrelDlg::WarnWriteFailed() { MessageBox(this, "At least one WriteFrameBuffer call failed", "WARNING"); }

void CSorrelDlg::RefreshImageList() {
  const int selection = std::max(Selection(), 0);
  ListResetContent(IDC_IMAGE_LIST);
  const ImageList& list = theApp->m_ImageList;
  if (list.empty()) return;
  for (const auto& entry : list) ListAddString(IDC_IMAGE_LIST, FormatEntryLine(*entry));
  ListSetCurSel(IDC_IMAGE_LIST, selection);
}

void CSorrelDlg::ShowFailedEntry(uint16_t position) {
  // Nothing but the entries a download composes changes while it runs: once it has
  // refreshed the list, the lines composed since are all that can differ.
  const bool inStep = m_bDownloading && m_ListShownThrough >= 0 &&
                      static_cast<size_t>(ListGetCount(IDC_IMAGE_LIST)) == theApp->m_ImageList.size();
  if (inStep) {
    for (int p = m_ListShownThrough + 1; p <= position; ++p) {
      ListReplaceString(IDC_IMAGE_LIST, p, FormatEntryLine(*EntryAt(p)));
    }
  } else {
    RefreshImageList();
  }
  if (m_bDownloading) m_ListShownThrough = position;
}

std::string CSorrelDlg::FormatEntryLine(const Image_Entry& entry) {
  return std::string(" ") + (entry.Valid ? ' ' : '!') + "\t" + NameAndExtension(entry.PatternFile) + "\t\t" +
         NameAndExtension(entry.LUTFile) + "\t";
}

void CSorrelDlg::OnSelectEntry() {
  const int p = Selection();
  if (p < 0) return;
  m_ServedFrame = -1;
  // Positions beyond the board's frame buffers have no frame to show.
  if (p < m_MaxFrames) theApp->m_pBoard->SelectImage(FrameArray[p]);
  if (const Image_Entry* entry = EntryAt(p)) {
    ShowEntryInfo(entry);
    InvalidateScreenImage();
  }
}

void CSorrelDlg::OnOpenSequence() {
  CSorrelApp& app = *theApp;
  // Changes the operator wanted saved but that could not be written stay open.
  if (!AskToSaveChanges()) return;
  FileDialogRequest request;
  request.open = true;
  request.title = "Open a Sequence File";
  request.filters = {SEQUENCE_FILTER};
  request.initialFolder = app.m_SequenceFolder;
  request.bufferSize = SEQUENCE_PATH_BUFFER;
  const std::optional<std::string> path = FileDialog(this, request);
  if (!path) return;
  {
    CFile probe;
    if (!probe.Open(*path)) return;
  }
  app.m_SequenceFile = *path;
  ReadSequenceFile(app.m_SequenceFile, app.m_ImageList, app.m_SequenceState);
  BuildScreenImages();
  m_ArrayForScreenImages = GetScreenImages();
  DownloadSequence(0);
  RefreshImageList();
  ShowSequenceName();
  ListSetCurSel(IDC_IMAGE_LIST, 0);
  OnSelectEntry();
}

void CSorrelDlg::OnSaveSequence() {
  CSorrelApp& app = *theApp;
  const SplitPathParts parts = SplitPath(app.m_SequenceFile);
  FileDialogRequest request;
  request.open = false;
  request.title = "Save an Image List";
  request.filters = {SEQUENCE_FILTER};
  request.defaultExtension = "sif";
  request.initialFolder = parts.folder;
  request.initialFileName = parts.name + parts.extension;
  request.bufferSize = SEQUENCE_PATH_BUFFER;
  if (const std::optional<std::string> path = FileDialog(this, request)) {
    if (WriteSequenceFile(*path, app.m_ImageList)) {
      app.m_SequenceFile = *path;
      app.m_SequenceState = 3;
      app.m_bSequenceModified = 0;
    }
  }
  ShowSequenceName();
}

void CSorrelDlg::OnEditEntry() {
  CSorrelApp& app = *theApp;
  const int p = SelectedPosition();
  if (p < 0) return;
  Image_Entry* entry = app.m_ImageList[static_cast<size_t>(p)].get();
  bool insertCancelled = false;
  {
    CImageListEditDlg editor(m_ArrayForScreenImages, p, entry, nullptr);
    if (editor.DoModal() == IDOK) {
      entry->LUTFile = editor.m_LUTPath;
      entry->PatternFile = editor.m_PatternPath;
      m_ArrayForScreenImages = editor.m_pScreenImages;
      ListSetCurSel(IDC_IMAGE_LIST, p);
    } else if (m_bInserting) {
      m_bInserting = 0;
      app.m_ImageList.erase(app.m_ImageList.begin() + p);
      insertCancelled = true;
    }
  }
  if (insertCancelled) {
    // The insert had moved every later frame and screen image up by one: put them back.
    DownloadSequence(static_cast<uint16_t>(p));
    BuildScreenImages();
    m_ArrayForScreenImages = GetScreenImages();
  } else if (!DownloadEntry(static_cast<uint16_t>(p))) {
    // The edited frame did not reach the board, which a run would then pass over.
    WarnWriteFailed();
  }
  ShowEntryInfo(EntryAt(p));
  RefreshImageList();
  app.m_bSequenceModified = 1;
  InvalidateScreenImage();
}

void CSorrelDlg::OnInsertEntry() {
  CSorrelApp& app = *theApp;
  const int p = SelectedPosition();
  if (p < 0) return;
  std::unique_ptr<Image_Entry> added(new (std::nothrow) Image_Entry);
  if (!added) {
    MessageBox(this, "SIF exceeds memory limit", "LIST TOO LONG", MessageIcon::Stop);
    return;
  }
  m_EntryCopy = *app.m_ImageList[static_cast<size_t>(p)];
  *added = m_EntryCopy;
  app.m_ImageList.insert(app.m_ImageList.begin() + p + 1, std::move(added));
  BuildScreenImages();
  m_ArrayForScreenImages = GetScreenImages();
  DownloadSequence(static_cast<uint16_t>(p));
  m_bInserting = 1;
  OnEditEntry();
  OnSelectEntry();
  m_bInserting = 0;
}

void CSorrelDlg::OnDeleteEntry() {
  CSorrelApp& app = *theApp;
  int p = SelectedPosition();
  if (p < 0) return;
  if (app.m_ImageList.size() == 1) {
    OnEditEntry();
    ListSetCurSel(IDC_IMAGE_LIST, p);
    return;
  }
  app.m_ImageList.erase(app.m_ImageList.begin() + p);
  if (static_cast<size_t>(p) == app.m_ImageList.size()) --p;
  ListSetCurSel(IDC_IMAGE_LIST, p);
  DownloadSequence(static_cast<uint16_t>(p));
  RefreshImageList();
  ShowEntryInfo(EntryAt(p));
  BuildScreenImages();
  m_ArrayForScreenImages = GetScreenImages();
  OnSelectEntry();
  app.m_bSequenceModified = 1;
  InvalidateScreenImage();
}

void CSorrelDlg::OnApplyCorrection() {
  UpdateData(true);
  DownloadSequence(0);
  UpdateData(false);
}

void CSorrelDlg::BrowseCompensation(const char* title, std::string& path, uint8_t* image, std::string& name) {
  FileDialogRequest request;
  request.open = true;
  request.title = title;
  request.filters = {{"Pattern Files (*.BMP)", "*.bmp"}, {"(*.ZRN)", "*.zrn;"}};
  request.initialFolder = theApp->m_ImageFolder;
  request.bufferSize = COMPENSATION_PATH_BUFFER;
  request.multiSelect = true;
  if (const std::optional<std::string> chosen = FileDialog(this, request)) {
    // Read beside the image in use: a file that cannot be read (gone since it was chosen,
    // say) leaves the compensation, its name and the frames as they were.
    const bool neither = PatternKindOf(*chosen) == EPatternKind::Neither;  // the image keeps what it held
    const size_t frameBytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height);
    const cpu::AlignedBytes read = cpu::NewAlignedBytes(frameBytes);
    if (neither || ReadPickedCompensation(read.get(), *chosen)) {
      path = *chosen;
      name = NameAndExtension(path);
      if (!neither) std::copy_n(read.get(), frameBytes, image);
      DownloadSequence(0);
    }
  }
  Invalidate(true);
  UpdateData(false);
}

void CSorrelDlg::OnBrowsePhaseComp() {
  BrowseCompensation("Open a phase compensation file", m_PhaseCompFileName, m_SLMPhaseComp.get(),
                     m_PhaseCompName);
}

void CSorrelDlg::OnBrowseSysPhaseComp() {
  BrowseCompensation("Open a system phase compensation file", m_SysPhaseCompFileName, m_SysPhaseComp.get(),
                     m_SysPhaseCompName);
}
