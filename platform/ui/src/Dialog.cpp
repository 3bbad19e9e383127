#include "ui/Dialog.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "ModalRun.h"
#include "ui/Host.h"

namespace {

// A dialog whose template is missing still works, with no controls, so a faulty
// resource shows up as a diagnostic rather than a crash.
const DialogTemplate& PlaceholderTemplate(int id) {
  static std::map<int, DialogTemplate> placeholders;
  auto [it, inserted] = placeholders.try_emplace(id);
  if (inserted) it->second.id = id;
  return it->second;
}

const DialogTemplate& TemplateFor(int id) {
  if (const DialogTemplate* t = FindDialogTemplate(id)) return *t;
  std::fprintf(stderr, "ui: no dialog template %d\n", id);
  return PlaceholderTemplate(id);
}

int ClampTo(int value, int a, int b) {
  const int lo = std::min(a, b);
  const int hi = std::max(a, b);
  return std::clamp(value, lo, hi);
}

}  // namespace

// ---- CDC ----

void CDC::SetPixel(int x, int y, COLORREF colour) {
  if (m_pView) m_pView->SetPixel(x, y, colour);
}

COLORREF CDC::GetPixel(int x, int y) const { return m_pView ? m_pView->GetPixel(x, y) : CLR_INVALID; }

// ---- CDialog ----

CDialog::CDialog(int templateId, CDialog* pParent)
    : m_TemplateId(templateId), m_pTemplate(&TemplateFor(templateId)), m_pParent(pParent),
      m_Caption(m_pTemplate->caption) {
  m_Controls.reserve(m_pTemplate->controls.size());
  for (const ControlTemplate& c : m_pTemplate->controls) {
    ControlState s;
    s.id = c.id;
    s.kind = c.kind;
    s.style = c.style;
    s.rectDu = CRect{c.x, c.y, c.x + c.cx, c.y + c.cy};
    s.text = c.caption;
    s.enabled = (c.style & STYLE_DISABLED) == 0;
    s.visible = (c.style & STYLE_HIDDEN) == 0;
    if (c.style & STYLE_DEFAULT) m_DefId = c.id;
    m_Controls.push_back(std::move(s));
  }
}

CDialog::~CDialog() {
  if (m_pView) m_pView->DialogDestroyed();
}

int CDialog::DoModal() {
  m_ModalResult.reset();
  const ModalRun run;
  return Host().RunModal(*this);
}

void CDialog::EndDialog(int result) {
  m_ModalResult = result;
  if (m_pView) m_pView->EndModal(result);
}

bool CDialog::Create() {
  if (m_pView) return false;
  m_ModalResult.reset();
  return Host().CreateModeless(*this);
}

void CDialog::DestroyWindow() {
  if (m_pView) Host().DestroyModeless(*this);
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(CDataExchange&) {}

void CDialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

HICON CDialog::OnQueryDragIcon() { return GetIcon(true); }

bool CDialog::UpdateData(bool bSaveAndValidate) {
  CDataExchange dx(*this, bSaveAndValidate);
  DoDataExchange(dx);
  return true;
}

void CDialog::Route(EventKind kind, int id, Handler handler) { m_Routes[{kind, id}] = std::move(handler); }

void CDialog::Dispatch(const Event& e) {
  if (auto it = m_Routes.find({e.kind, e.id}); it != m_Routes.end()) {
    // Copied: the handler may replace its own route.
    Handler h = it->second;
    h(e);
    return;
  }
  if (e.kind == EventKind::Click && (e.id == IDOK || e.id == IDCANCEL)) {
    Dispatch(e.id == IDOK ? Event::Ok() : Event::Cancel());
    return;
  }
  if (auto it = m_Routes.find({e.kind, 0}); it != m_Routes.end()) {
    Handler h = it->second;
    h(e);
    return;
  }
  switch (e.kind) {
    case EventKind::Ok:
      OnOK();
      break;
    case EventKind::Cancel:
    case EventKind::Close:
      OnCancel();
      break;
    case EventKind::SysCommand:
      DefaultSysCommand(static_cast<unsigned>(e.id));
      break;
    default:
      break;
  }
}

void CDialog::DefaultSysCommand(unsigned command) {
  switch (command & 0xFFF0u) {
    case SC_CLOSE:
      Dispatch(Event::Close());
      break;
    case SC_MINIMIZE:
    case SC_RESTORE:
      if (m_pView) m_pView->ShowMinimized((command & 0xFFF0u) == SC_MINIMIZE);
      break;
    default:
      break;
  }
}

void CDialog::SetDefID(int id) {
  m_DefId = id;
  if (m_pView) m_pView->DefIdChanged();
}

std::optional<Event> CDialog::EnterEvent() const {
  // A default id without a control still gives its command, as a missing OK button does.
  if (HasControl(m_DefId) && !IsDlgItemEnabled(m_DefId)) return std::nullopt;
  if (m_DefId == IDOK) return Event::Ok();
  if (m_DefId == IDCANCEL) return Event::Cancel();
  return Event::Click(m_DefId);
}

ControlState* CDialog::Find(int id) {
  if (id == IDC_STATIC) return nullptr;
  for (ControlState& c : m_Controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const ControlState* CDialog::Find(int id) const { return const_cast<CDialog*>(this)->Find(id); }

bool CDialog::HasControl(int id) const { return Find(id) != nullptr; }

const ControlState& CDialog::Control(int id) const {
  static const ControlState none;
  const ControlState* c = Find(id);
  return c ? *c : none;
}

ControlState& CDialog::MutableControl(int id) {
  if (ControlState* c = Find(id)) return *c;
  m_NoControl = ControlState{};
  return m_NoControl;
}

void CDialog::Changed(int id) {
  if (m_pView && HasControl(id)) m_pView->ControlChanged(id);
}

void CDialog::SetDlgItemText(int id, std::string_view text) {
  if (ControlState* c = Find(id)) {
    c->text = text;
    Changed(id);
  }
}

std::string CDialog::GetDlgItemText(int id) const { return Control(id).text; }

void CDialog::EnableDlgItem(int id, bool enable) {
  if (ControlState* c = Find(id)) {
    c->enabled = enable;
    Changed(id);
  }
}

bool CDialog::IsDlgItemEnabled(int id) const {
  const ControlState* c = Find(id);
  return c && c->enabled;
}

void CDialog::ShowDlgItem(int id, bool show) {
  if (ControlState* c = Find(id)) {
    c->visible = show;
    Changed(id);
  }
}

bool CDialog::IsDlgItemVisible(int id) const {
  const ControlState* c = Find(id);
  return c && c->visible;
}

void CDialog::CheckDlgButton(int id, int check) {
  if (ControlState* c = Find(id)) {
    c->checked = check;
    Changed(id);
  }
}

int CDialog::IsDlgButtonChecked(int id) const { return Control(id).checked; }

void CDialog::SetButtonState(int id, bool pressed) {
  if (ControlState* c = Find(id)) {
    c->pressed = pressed;
    Changed(id);
  }
}

bool CDialog::GetButtonState(int id) const { return Control(id).pressed; }

int CDialog::ListAddString(int id, std::string_view line) {
  ControlState* c = Find(id);
  if (!c) return -1;
  c->lines.emplace_back(line);
  const int index = static_cast<int>(c->lines.size()) - 1;
  if (m_pView) m_pView->ListLineAdded(id, index);
  return index;
}

void CDialog::ListReplaceString(int id, int index, std::string_view line) {
  ControlState* c = Find(id);
  if (!c || index < 0 || index >= static_cast<int>(c->lines.size())) return;
  c->lines[static_cast<size_t>(index)] = line;
  if (m_pView) m_pView->ListLineReplaced(id, index);
}

void CDialog::ListDeleteString(int id, int index) {
  ControlState* c = Find(id);
  if (!c || index < 0 || index >= static_cast<int>(c->lines.size())) return;
  c->lines.erase(c->lines.begin() + index);
  // The selection stays on its line; it goes with a deleted line.
  if (c->curSel == index) {
    c->curSel = -1;
  } else if (c->curSel > index) {
    --c->curSel;
  }
  Changed(id);
}

void CDialog::ListResetContent(int id) {
  if (ControlState* c = Find(id)) {
    c->lines.clear();
    c->curSel = -1;
    Changed(id);
  }
}

int CDialog::ListGetCount(int id) const { return static_cast<int>(Control(id).lines.size()); }

std::string CDialog::ListGetText(int id, int index) const {
  const ControlState& c = Control(id);
  if (index < 0 || index >= static_cast<int>(c.lines.size())) return {};
  return c.lines[index];
}

int CDialog::ListGetCurSel(int id) const { return Control(id).curSel; }

void CDialog::ListSetCurSel(int id, int index) {
  if (ControlState* c = Find(id)) {
    c->curSel = (index >= 0 && index < static_cast<int>(c->lines.size())) ? index : -1;
    Changed(id);
  }
}

void CDialog::ListSetTabStops(int id, std::vector<int> tabStopsDu) {
  if (ControlState* c = Find(id)) {
    c->tabStops = std::move(tabStopsDu);
    Changed(id);
  }
}

void CDialog::TrackSetRange(int id, int min, int max, bool redraw) {
  ControlState* c = Find(id);
  if (!c) return;
  c->rangeMin = std::min(min, max);
  c->rangeMax = std::max(min, max);
  c->pos = ClampTo(c->pos, c->rangeMin, c->rangeMax);
  // Without redraw the host catches up at the next change.
  if (redraw) Changed(id);
}

void CDialog::TrackSetPos(int id, int pos) {
  if (ControlState* c = Find(id)) {
    c->pos = ClampTo(pos, c->rangeMin, c->rangeMax);
    Changed(id);
  }
}

int CDialog::TrackGetPos(int id) const { return Control(id).pos; }
int CDialog::TrackGetRangeMin(int id) const { return Control(id).rangeMin; }
int CDialog::TrackGetRangeMax(int id) const { return Control(id).rangeMax; }

void CDialog::ProgressSetRange(int id, int min, int max) { TrackSetRange(id, min, max, true); }
void CDialog::ProgressSetPos(int id, int pos) { TrackSetPos(id, pos); }
int CDialog::ProgressGetPos(int id) const { return Control(id).pos; }

void CDialog::SetPicture(int id, std::shared_ptr<const GreyPicture> picture) {
  MutableControl(id).picture = std::move(picture);
  Changed(id);
}

void CDialog::SetPictureOneToOne(int id, bool oneToOne) {
  ControlState& s = MutableControl(id);
  if (s.oneToOne == oneToOne) return;
  s.oneToOne = oneToOne;
  Changed(id);
}

void CDialog::SetWindowText(std::string_view caption) {
  m_Caption = caption;
  if (m_pView) m_pView->CaptionChanged();
}

HICON CDialog::SetIcon(HICON icon, bool bigIcon) {
  HICON& slot = bigIcon ? m_hBigIcon : m_hSmallIcon;
  HICON previous = slot;
  slot = icon;
  if (m_pView) m_pView->IconChanged();
  return previous;
}

bool CDialog::HasSystemMenu() const { return (m_pTemplate->style & DS_SYSMENU) != 0; }

void CDialog::AppendSystemMenuSeparator() { AppendSystemMenuItem(0, {}); }

void CDialog::AppendSystemMenuItem(unsigned command, std::string_view text) {
  if (!HasSystemMenu()) return;
  m_SystemMenu.push_back(SystemMenuItem{command, std::string(text)});
  if (m_pView) m_pView->SystemMenuChanged();
}

void CDialog::SetTimer(int id, unsigned ms) {
  if (m_pView) m_pView->SetTimer(id, ms);
}

void CDialog::KillTimer(int id) {
  if (m_pView) m_pView->KillTimer(id);
}

CDC CDialog::GetDC() { return CDC(m_pView); }

void CDialog::InvalidateRect(const CRect& clientRect, bool erase) {
  if (m_pView) m_pView->Invalidate(clientRect, erase);
}

void CDialog::UpdateWindow() {
  if (m_pView) m_pView->UpdateNow();
}

void CDialog::Invalidate(bool erase) { InvalidateRect(GetClientRect(), erase); }

CRect CDialog::GetWindowRect() const { return m_pView ? m_pView->WindowRect() : CRect{}; }

CRect CDialog::GetClientRect() const {
  return CRect{0, 0, DialogUnitsToPixelsX(m_pTemplate->cx), DialogUnitsToPixelsY(m_pTemplate->cy)};
}

void CDialog::WinHelp(unsigned command, unsigned data) { Host().WinHelp(this, command, data); }

// ---- Data exchange ----

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
  if (dx.m_bSaveAndValidate) {
    value = dx.m_pDlg->GetDlgItemText(id);
  } else {
    dx.m_pDlg->SetDlgItemText(id, value);
  }
}

void DDX_Text(CDataExchange& dx, int id, int& value) {
  if (dx.m_bSaveAndValidate) {
    const std::string text = dx.m_pDlg->GetDlgItemText(id);
    const long v = std::strtol(text.c_str(), nullptr, 10);
    value = static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    dx.m_pDlg->SetDlgItemText(id, buf);
  }
}

void DDX_Text(CDataExchange& dx, int id, float& value) {
  if (dx.m_bSaveAndValidate) {
    value = std::strtof(dx.m_pDlg->GetDlgItemText(id).c_str(), nullptr);
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(value));
    dx.m_pDlg->SetDlgItemText(id, buf);
  }
}

void DDX_Check(CDataExchange& dx, int id, int& value) {
  if (dx.m_bSaveAndValidate) {
    value = dx.m_pDlg->IsDlgButtonChecked(id);
  } else {
    dx.m_pDlg->CheckDlgButton(id, value);
  }
}
