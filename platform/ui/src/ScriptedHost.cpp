#include "ui/ScriptedHost.h"

#include <algorithm>
#include <cstdio>

#include "ui/Signals.h"

namespace {

constexpr int BORDER = 3;
constexpr int CAPTION = 23;

}  // namespace

// The in-memory side of one shown dialog: its client pixels, pending paints and timers.
class CScriptedHost::View final : public IDialogView {
 public:
  struct Timer {
    uint64_t period = 0;
    uint64_t due = 0;
    uint64_t serial = 0;
  };
  struct PendingPaint {
    CRect rect;
    bool erase = false;
  };

  View(CScriptedHost& host, CDialog& dlg, bool modal)
      : m_Host(host),
        m_Dlg(dlg),
        m_Modal(modal),
        m_Width(std::max(0, DialogUnitsToPixelsX(dlg.Template().cx))),
        m_Height(std::max(0, DialogUnitsToPixelsY(dlg.Template().cy))),
        m_Pixels(static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height), COLOR_DIALOG_BACKGROUND) {}

  void ControlChanged(int id) override { m_Host.RecordText(m_Dlg, id); }
  void ListLineAdded(int, int) override { ++m_Host.m_ListLineWrites; }
  void ListLineReplaced(int, int) override { ++m_Host.m_ListLineWrites; }
  void CaptionChanged() override {}
  void IconChanged() override {}
  void DefIdChanged() override {}
  void SystemMenuChanged() override {}

  void Invalidate(const CRect& r, bool erase) override {
    const CRect clipped{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, m_Width),
                        std::min(r.bottom, m_Height)};
    if (clipped.Width() <= 0 || clipped.Height() <= 0) return;
    m_Pending.push_back({clipped, erase});
  }

  void SetPixel(int x, int y, COLORREF colour) override {
    if (Inside(x, y)) m_Pixels[Index(x, y)] = colour;
  }

  COLORREF GetPixel(int x, int y) const override { return Inside(x, y) ? m_Pixels[Index(x, y)] : CLR_INVALID; }

  CRect WindowRect() const override {
    const int tid = m_Dlg.TemplateId();
    int x = 0, y = 0;
    if (auto it = m_Host.m_WindowOrigins.find(tid); it != m_Host.m_WindowOrigins.end()) {
      std::tie(x, y) = it->second;
    }
    int w = m_Width + 2 * BORDER, h = m_Height + 2 * BORDER + CAPTION;
    if (auto it = m_Host.m_WindowSizes.find(tid); it != m_Host.m_WindowSizes.end()) {
      std::tie(w, h) = it->second;
    }
    return CRect{x, y, x + w, y + h};
  }

  void SetTimer(int id, unsigned ms) override {
    // A zero period would never let the clock move on.
    const uint64_t period = std::max(1u, ms);
    m_Timers[id] = Timer{period, m_Host.m_NowMs + period, ++m_Host.m_TimerSerial};
  }

  void KillTimer(int id) override { m_Timers.erase(id); }

  void EndModal(int result) override {
    m_Ended = true;
    m_Result = result;
  }

  void ShowMinimized(bool minimized) override { m_Minimized = minimized; }

  void DialogDestroyed() override {
    // Destroys this view; nothing may touch it afterwards.
    m_Host.m_Views.erase(&m_Dlg);
  }

  // Erases what is pending and hands the dialog one paint; false when nothing was pending.
  bool Paint() {
    if (m_Pending.empty() || m_Ended) return false;
    const std::vector<PendingPaint> pending = std::move(m_Pending);
    m_Pending.clear();
    for (const PendingPaint& p : pending) {
      if (!p.erase) continue;
      for (int y = p.rect.top; y < p.rect.bottom; ++y) {
        std::fill_n(m_Pixels.begin() + static_cast<std::ptrdiff_t>(Index(p.rect.left, y)), p.rect.Width(),
                    COLOR_DIALOG_BACKGROUND);
      }
    }
    m_Dlg.Dispatch(Event::Paint());
    return true;
  }

  CScriptedHost& m_Host;
  CDialog& m_Dlg;
  const bool m_Modal;
  bool m_Ended = false;
  bool m_TakenDown = false;  // Destroy has been dispatched
  bool m_Minimized = false;
  int m_Result = IDCANCEL;
  std::map<int, Timer> m_Timers;

 private:
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < m_Width && y < m_Height; }
  size_t Index(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(m_Width) + static_cast<size_t>(x); }

  const int m_Width;
  const int m_Height;
  std::vector<COLORREF> m_Pixels;
  std::vector<PendingPaint> m_Pending;
};

CScriptedHost::CScriptedHost() = default;

CScriptedHost::~CScriptedHost() {
  // Views still here belong to live dialogs (a destroyed dialog removes its own).
  for (auto& [dlg, view] : m_Views) view->m_Dlg.AttachView(nullptr);
}

CScriptedHost& CScriptedHost::Install() {
  auto host = std::make_unique<CScriptedHost>();
  CScriptedHost& ref = *host;
  SetHost(std::move(host));
  return ref;
}

CScriptedHost::View* CScriptedHost::ViewOf(const CDialog& dlg) const {
  auto it = m_Views.find(&dlg);
  return it == m_Views.end() ? nullptr : it->second.get();
}

CScriptedHost::View& CScriptedHost::Show(CDialog& dlg, bool modal) {
  auto view = std::make_unique<View>(*this, dlg, modal);
  View& ref = *view;
  m_Views[&dlg] = std::move(view);
  dlg.AttachView(&ref);
  // The whole client area starts out invalid, as a newly shown window does.
  ref.Invalidate(dlg.GetClientRect(), true);
  for (const ControlState& control : dlg.Controls()) RecordText(dlg, control.id);
  return ref;
}

void CScriptedHost::RecordText(const CDialog& dlg, int id) {
  if (id == IDC_STATIC || !dlg.HasControl(id)) return;
  std::vector<std::string>& history = m_TextHistory[{dlg.TemplateId(), id}];
  const std::string& text = dlg.Control(id).text;
  if (history.empty() || history.back() != text) history.push_back(text);
}

std::vector<std::string> CScriptedHost::TextHistory(int templateId, int id) const {
  auto it = m_TextHistory.find({templateId, id});
  return it != m_TextHistory.end() ? it->second : std::vector<std::string>{};
}

void CScriptedHost::Hide(CDialog& dlg) {
  dlg.AttachView(nullptr);
  m_Views.erase(&dlg);
}

void CScriptedHost::TakeDown(CDialog& dlg) {
  View* view = ViewOf(dlg);
  if (!view || view->m_TakenDown) return;
  view->m_TakenDown = true;
  // A window going away takes no more actions, timers or paints.
  view->m_Ended = true;
  dlg.Dispatch(Event::Destroy());
  // The handler may have destroyed the dialog, and its view with it.
  if (ViewOf(dlg)) Hide(dlg);
}

int CScriptedHost::RunModal(CDialog& dlg) {
  if (ViewOf(dlg)) {
    std::fprintf(stderr, "ui: dialog %d is already shown\n", dlg.TemplateId());
    return -1;
  }
  m_ModalRuns.push_back(dlg.TemplateId());
  View& view = Show(dlg, true);
  // Hidden again however the run ends; by CProcessExit without Destroy, as a process that
  // ends leaves its windows to the system.
  struct HideOnExit {
    CScriptedHost& host;
    CDialog& dlg;
    ~HideOnExit() { host.Hide(dlg); }
  } hideOnExit{*this, dlg};

  dlg.OnInitDialog();
  DeliverPaints();
  if (!view.m_Ended) {
    if (auto it = m_Scripts.find(dlg.TemplateId()); it != m_Scripts.end()) {
      // Copied: the script may replace itself, or run this template again.
      const Script script = it->second;
      script(dlg, *this);
      DeliverPaints();
    } else {
      m_UnscriptedRuns.push_back(dlg.TemplateId());
    }
  }
  if (!view.m_Ended) dlg.EndDialog(IDCANCEL);
  const int result = view.m_Result;
  TakeDown(dlg);
  return result;
}

int CScriptedHost::MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                              MessageIcon icon) {
  const MessageRecord record{text, caption, icon, owner ? owner->TemplateId() : 0};
  m_Messages.push_back(record);
  if (!m_MessageHandler) return IDOK;
  // Copied: the handler may replace itself or open another box.
  const auto handler = m_MessageHandler;
  return handler(record);
}

std::optional<std::string> CScriptedHost::FileDialog(CDialog*, const FileDialogRequest& request) {
  m_FileRequests.push_back(request);
  if (m_FileAnswers.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(m_FileAnswers.front());
  m_FileAnswers.pop_front();
  return answer;
}

void CScriptedHost::WinHelp(CDialog* owner, unsigned command, unsigned data) {
  m_HelpCalls.push_back(HelpRecord{owner ? owner->TemplateId() : 0, command, data});
}

void CScriptedHost::ExitProcess(int status) {
  m_ExitStatus = status;
  throw CProcessExit{status};
}

void CScriptedHost::SetScript(int templateId, Script script) { m_Scripts[templateId] = std::move(script); }

void CScriptedHost::ClearScript(int templateId) { m_Scripts.erase(templateId); }

void CScriptedHost::Open(CDialog& dlg) {
  if (ViewOf(dlg)) return;
  Show(dlg, false);
  dlg.OnInitDialog();
  DeliverPaints();
}

bool CScriptedHost::CreateModeless(CDialog& dlg) {
  if (ViewOf(dlg)) return false;
  Open(dlg);
  return true;
}

void CScriptedHost::DestroyModeless(CDialog& dlg) { Close(dlg); }

void CScriptedHost::Close(CDialog& dlg) {
  View* view = ViewOf(dlg);
  if (!view) return;
  if (view->m_Modal) {
    std::fprintf(stderr, "ui: dialog %d runs modally; end it instead of closing it\n", dlg.TemplateId());
    return;
  }
  TakeDown(dlg);
}

bool CScriptedHost::Usable(const CDialog& dlg, int id) const {
  const char* why = nullptr;
  if (const View* view = ViewOf(dlg); view && view->m_Ended) {
    why = "has ended";
  } else if (!dlg.HasControl(id)) {
    why = "has no such control";
  } else if (!dlg.IsDlgItemEnabled(id)) {
    why = "has the control disabled";
  } else if (!dlg.IsDlgItemVisible(id)) {
    why = "has the control hidden";
  }
  // A person cannot reach such a control; the script is told rather than obeyed.
  if (why) std::fprintf(stderr, "ui: dialog %d %s (control %d); action ignored\n", dlg.TemplateId(), why, id);
  return why == nullptr;
}

void CScriptedHost::Click(CDialog& dlg, int id) {
  DeliverSignals();
  if (!Usable(dlg, id)) return;
  if (dlg.Control(id).kind == ControlKind::CheckBox) dlg.CheckDlgButton(id, dlg.IsDlgButtonChecked(id) ? 0 : 1);
  Deliver(dlg, Event::Click(id));
}

void CScriptedHost::DoubleClick(CDialog& dlg, int id) {
  DeliverSignals();
  if (Usable(dlg, id)) Deliver(dlg, Event::DoubleClick(id));
}

void CScriptedHost::SelectListLine(CDialog& dlg, int id, int index) {
  DeliverSignals();
  if (!Usable(dlg, id)) return;
  if (index < 0 || index >= dlg.ListGetCount(id)) {
    std::fprintf(stderr, "ui: list %d has no line %d; action ignored\n", id, index);
    return;
  }
  dlg.ListSetCurSel(id, index);
  Deliver(dlg, Event::SelChange(id));
}

void CScriptedHost::TypeText(CDialog& dlg, int id, const std::string& text) {
  DeliverSignals();
  if (!Usable(dlg, id)) return;
  if (dlg.Control(id).style & STYLE_READONLY) {
    std::fprintf(stderr, "ui: control %d is read-only; typing ignored\n", id);
    return;
  }
  dlg.SetDlgItemText(id, text);
}

void CScriptedHost::LeaveControl(CDialog& dlg, int id) {
  DeliverSignals();
  if (Usable(dlg, id)) Deliver(dlg, Event::KillFocus(id));
}

void CScriptedHost::DragTrackBar(CDialog& dlg, int id, int pos) {
  DeliverSignals();
  if (!Usable(dlg, id)) return;
  const int from = dlg.TrackGetPos(id);
  const int to = std::clamp(pos, dlg.TrackGetRangeMin(id), dlg.TrackGetRangeMax(id));
  // The thumb passes through a few positions on its way, as a hand moves it.
  constexpr int STEPS = 3;
  int last = from;
  for (int k = 1; k <= STEPS; ++k) {
    const int p = from + (to - from) * k / STEPS;
    if (p == last && k < STEPS) continue;
    last = p;
    dlg.TrackSetPos(id, p);
    Deliver(dlg, Event::VScroll(id, SB_THUMBTRACK, p));
  }
  Deliver(dlg, Event::VScroll(id, SB_THUMBPOSITION, to));
  Deliver(dlg, Event::VScroll(id, SB_ENDSCROLL, dlg.TrackGetPos(id)));
}

void CScriptedHost::ScrollTrackBar(CDialog& dlg, int id, int code, int pos) {
  DeliverSignals();
  if (!Usable(dlg, id)) return;
  dlg.TrackSetPos(id, pos);
  Deliver(dlg, Event::VScroll(id, code, dlg.TrackGetPos(id)));
}

void CScriptedHost::PressEnter(CDialog& dlg) {
  DeliverSignals();
  if (std::optional<Event> e = dlg.EnterEvent()) Deliver(dlg, *e);
}

void CScriptedHost::PressEscape(CDialog& dlg) { Send(dlg, Event::Cancel()); }
void CScriptedHost::CloseWindow(CDialog& dlg) { Send(dlg, Event::Close()); }
void CScriptedHost::SystemCommand(CDialog& dlg, unsigned command) {
  Send(dlg, Event::SysCommand(static_cast<int>(command)));
}
void CScriptedHost::RequestHelp(CDialog& dlg, int contextId) { Send(dlg, Event::HelpInfo(contextId, 1)); }

void CScriptedHost::Send(CDialog& dlg, const Event& e) {
  DeliverSignals();
  Deliver(dlg, e);
}

void CScriptedHost::Deliver(CDialog& dlg, const Event& e) {
  if (const View* view = ViewOf(dlg); view && view->m_Ended) return;
  dlg.Dispatch(e);
  DeliverPaints();
}

bool CScriptedHost::DeliverSignals() {
  if (!DeliverPendingTerminationSignal()) return false;
  DeliverPaints();
  return true;
}

void CScriptedHost::DeliverPaints() {
  // Handlers may open or close dialogs while painting, so the views are looked up again.
  std::vector<const CDialog*> shown;
  shown.reserve(m_Views.size());
  for (const auto& entry : m_Views) shown.push_back(entry.first);
  for (const CDialog* dlg : shown) {
    if (View* view = ViewOf(*dlg)) view->Paint();
  }
}

void CScriptedHost::AdvanceTime(uint64_t ms) {
  const uint64_t target = m_NowMs + ms;
  for (;;) {
    DeliverSignals();
    // The earliest due timer of any shown dialog; handlers may change every timer,
    // so the search starts over after each firing.
    View* next = nullptr;
    int nextId = 0;
    const View::Timer* best = nullptr;
    for (auto& [dlg, view] : m_Views) {
      if (view->m_Ended) continue;
      for (const auto& [id, t] : view->m_Timers) {
        if (t.due > target) continue;
        if (!best || t.due < best->due || (t.due == best->due && t.serial < best->serial)) {
          best = &t;
          next = view.get();
          nextId = id;
        }
      }
    }
    if (!best) break;
    m_NowMs = std::max(m_NowMs, best->due);
    View::Timer& timer = next->m_Timers[nextId];
    timer.due += timer.period;
    timer.serial = ++m_TimerSerial;
    CDialog& dlg = next->m_Dlg;
    dlg.Dispatch(Event::Timer(nextId));
    DeliverPaints();
  }
  m_NowMs = std::max(m_NowMs, target);
  RunPosted();
}

void CScriptedHost::Post(std::function<void()> work, unsigned delayMs) {
  const uint64_t due = delayMs == 0 ? 0 : m_NowMs + delayMs;
  std::lock_guard lock(m_PostedMutex);
  m_Posted.push_back({due, std::move(work)});
}

int CScriptedHost::RunPosted() {
  int ran = 0;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(m_PostedMutex);
      const auto due = std::find_if(m_Posted.begin(), m_Posted.end(), [&](const Posted& p) { return p.due <= m_NowMs; });
      if (due == m_Posted.end()) break;
      work = std::move(due->work);
      m_Posted.erase(due);
    }
    work();
    ++ran;
  }
  DeliverPaints();
  return ran;
}

bool CScriptedHost::Minimized(const CDialog& dlg) const {
  const View* view = ViewOf(dlg);
  return view && view->m_Minimized;
}

bool CScriptedHost::TimerActive(const CDialog& dlg, int id) const {
  const View* view = ViewOf(dlg);
  return view && view->m_Timers.count(id) != 0;
}

void CScriptedHost::SetMessageBoxHandler(std::function<int(const MessageRecord&)> handler) {
  m_MessageHandler = std::move(handler);
}

void CScriptedHost::QueueFileAnswer(std::optional<std::string> path) { m_FileAnswers.push_back(std::move(path)); }

void CScriptedHost::SetWindowOrigin(int templateId, int x, int y) { m_WindowOrigins[templateId] = {x, y}; }

void CScriptedHost::SetWindowSize(int templateId, int width, int height) {
  m_WindowSizes[templateId] = {width, height};
}

COLORREF CScriptedHost::Pixel(const CDialog& dlg, int x, int y) const {
  const View* view = ViewOf(dlg);
  return view ? view->GetPixel(x, y) : CLR_INVALID;
}
