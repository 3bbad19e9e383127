#pragma once
// A dialog: the retained state of its controls, addressed by control id, the routing
// of events to handler members, data exchange on demand and modal runs through the host.
// The system's code changes controls only through these operations; a host mirrors them.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/DialogTemplate.h"
#include "ui/Picture.h"
#include "ui/Types.h"

class CDialog;
class IDialogView;

enum class EventKind {
  Click,        // id: button or check box (check boxes are toggled by the host first)
  DoubleClick,  // id: list box
  SelChange,    // id: list box (selection already moved by the host)
  KillFocus,    // id: control that lost the keyboard focus
  VScroll,      // id: track bar; code: scroll code; pos: position
  Timer,        // id: timer id
  Paint,        // id 0; the update region was already validated and erased
  Close,        // id 0: the window's close box or Alt+F4
  SysCommand,   // id: command id from the system menu
  HelpInfo,     // id: context id of the control; code: context type (1 = window)
  Ok,           // Enter, or a click on the button with id IDOK
  Cancel,       // Escape, or a click on the button with id IDCANCEL
  Destroy,      // id 0: the window goes away (after the modal run, before DoModal returns)
};

struct Event {
  EventKind kind = EventKind::Click;
  int id = 0;
  int code = 0;
  int pos = 0;

  static Event Click(int id) { return {EventKind::Click, id, 0, 0}; }
  static Event DoubleClick(int id) { return {EventKind::DoubleClick, id, 0, 0}; }
  static Event SelChange(int id) { return {EventKind::SelChange, id, 0, 0}; }
  static Event KillFocus(int id) { return {EventKind::KillFocus, id, 0, 0}; }
  static Event VScroll(int id, int code, int pos) { return {EventKind::VScroll, id, code, pos}; }
  static Event Timer(int id) { return {EventKind::Timer, id, 0, 0}; }
  static Event Paint() { return {EventKind::Paint, 0, 0, 0}; }
  static Event Close() { return {EventKind::Close, 0, 0, 0}; }
  static Event SysCommand(int command) { return {EventKind::SysCommand, command, 0, 0}; }
  static Event HelpInfo(int contextId, int contextType) { return {EventKind::HelpInfo, contextId, contextType, 0}; }
  static Event Ok() { return {EventKind::Ok, IDOK, 0, 0}; }
  static Event Cancel() { return {EventKind::Cancel, IDCANCEL, 0, 0}; }
  static Event Destroy() { return {EventKind::Destroy, 0, 0, 0}; }
};

// Everything a control shows. Hosts read it to draw; the dialog's operations write it.
struct ControlState {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::Static;
  uint32_t style = STYLE_NONE;
  CRect rectDu;              // x, y, x + cx, y + cy in dialog units
  std::string text;          // caption of buttons and labels, text of edits
  bool enabled = true;
  bool visible = true;
  int checked = 0;           // check boxes
  bool pressed = false;      // push buttons shown pressed
  std::vector<std::string> lines;  // list box
  int curSel = -1;
  std::vector<int> tabStops; // dialog units
  int rangeMin = 0, rangeMax = 100, pos = 0;  // track bar and progress bar
  std::shared_ptr<const GreyPicture> picture;  // picture control; null shows nothing
  bool oneToOne = false;                       // picture control: 1:1 instead of fitted
};

struct SystemMenuItem {
  unsigned command = 0;  // 0 for a separator
  std::string text;
};

// Member exchange with controls, in the direction m_bSaveAndValidate says.
class UI_API CDataExchange {
 public:
  CDataExchange(CDialog& dlg, bool bSaveAndValidate) : m_pDlg(&dlg), m_bSaveAndValidate(bSaveAndValidate) {}
  CDialog* m_pDlg;
  bool m_bSaveAndValidate;  // true: controls -> members
};

UI_API void DDX_Text(CDataExchange& dx, int id, std::string& value);
UI_API void DDX_Text(CDataExchange& dx, int id, int& value);      // decimal; text without digits reads 0
UI_API void DDX_Text(CDataExchange& dx, int id, float& value);
UI_API void DDX_Check(CDataExchange& dx, int id, int& value);

// A device context of a dialog's client area: per-pixel colour writes in client pixels.
class UI_API CDC {
 public:
  explicit CDC(IDialogView* view = nullptr) : m_pView(view) {}
  bool IsValid() const { return m_pView != nullptr; }
  void SetPixel(int x, int y, COLORREF colour);
  COLORREF GetPixel(int x, int y) const;

 private:
  IDialogView* m_pView;
};

// The host's side of one shown dialog.
class UI_API IDialogView {
 public:
  virtual ~IDialogView() = default;
  virtual void ControlChanged(int id) = 0;  // any state of control id changed
  // Only line index of list id changed (added or its text replaced): a host that keeps the
  // lines itself changes that line alone.
  virtual void ListLineAdded(int id, int) { ControlChanged(id); }
  virtual void ListLineReplaced(int id, int) { ControlChanged(id); }
  // Paints now what waits for a paint, as long work on the user-interface thread needs to
  // show its progress; nothing else of the event loop runs. A window still in its
  // initialisation is shown for it.
  virtual void UpdateNow() {}
  virtual void CaptionChanged() = 0;
  virtual void IconChanged() = 0;
  virtual void DefIdChanged() = 0;
  virtual void SystemMenuChanged() = 0;
  virtual void Invalidate(const CRect& clientRect, bool erase) = 0;
  virtual void SetPixel(int x, int y, COLORREF colour) = 0;
  virtual COLORREF GetPixel(int x, int y) const = 0;
  virtual CRect WindowRect() const = 0;  // screen pixels
  virtual void SetTimer(int id, unsigned ms) = 0;  // one timer per id: setting it again restarts it
  virtual void KillTimer(int id) = 0;
  virtual void EndModal(int result) = 0;
  virtual void ShowMinimized(bool minimized) = 0;  // where the host can
  // The dialog is being destroyed while this view is attached; the host lets go of it.
  virtual void DialogDestroyed() {}
};

// The icon of a resource id, or a null icon when the program has no such icon. Icons are
// the program's resources: they live as long as the process.
UI_API HICON LoadIcon(int resourceId);

class UI_API CDialog {
 public:
  using Handler = std::function<void(const Event&)>;

  explicit CDialog(int templateId, CDialog* pParent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally through the host; returns IDOK, IDCANCEL or EndDialog's value.
  int DoModal();
  void EndDialog(int result);
  // Shows the dialog beside the others, without a modal run (OnInitDialog runs first); it
  // stays until DestroyWindow. False when the host cannot show it (or it is shown already).
  bool Create();
  // Takes a dialog shown by Create down (its Destroy event, then the window goes); safe from
  // the dialog's own handlers.
  void DestroyWindow();

  virtual bool OnInitDialog();                     // default: UpdateData(false), true
  virtual void DoDataExchange(CDataExchange& dx);  // default: nothing
  virtual void OnOK();                             // default: UpdateData(true), EndDialog(IDOK)
  virtual void OnCancel();                         // default: EndDialog(IDCANCEL)
  virtual HICON OnQueryDragIcon();                 // default: the large icon (null without one)
  bool UpdateData(bool bSaveAndValidate = true);

  // Entry point for events from hosts and tests. A route for (kind, id) wins; otherwise a
  // route for (kind, 0) catches every id of that kind. A click on IDOK or IDCANCEL that no
  // route names exactly becomes Ok or Cancel. Unrouted: Ok -> OnOK(), Cancel and Close ->
  // OnCancel(), SysCommand -> DefaultSysCommand(); everything else is ignored.
  void Dispatch(const Event& e);

  // What the framework does with a system command the dialog leaves to it: SC_CLOSE is the
  // close box (a Close event), SC_MINIMIZE and SC_RESTORE minimise and restore the window
  // where the host can; anything else is ignored. The low four bits are not compared.
  void DefaultSysCommand(unsigned command);

  // The command Enter gives: initially the control with STYLE_DEFAULT, else IDOK.
  void SetDefID(int id);
  int GetDefID() const { return m_DefId; }
  // The event Enter sends: Ok for IDOK, Cancel for IDCANCEL, else a click on the default
  // id; nothing while that control is disabled.
  std::optional<Event> EnterEvent() const;

  // The value EndDialog was given since the last DoModal; empty while the dialog runs.
  std::optional<int> ModalResult() const { return m_ModalResult; }

  int TemplateId() const { return m_TemplateId; }
  const DialogTemplate& Template() const { return *m_pTemplate; }
  CDialog* GetParent() const { return m_pParent; }

  // Controls by id.
  bool HasControl(int id) const;
  const ControlState& Control(int id) const;
  const std::vector<ControlState>& Controls() const { return m_Controls; }
  void SetDlgItemText(int id, std::string_view text);
  std::string GetDlgItemText(int id) const;
  void EnableDlgItem(int id, bool enable);
  bool IsDlgItemEnabled(int id) const;
  void ShowDlgItem(int id, bool show);
  bool IsDlgItemVisible(int id) const;
  void CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;
  void SetButtonState(int id, bool pressed);
  bool GetButtonState(int id) const;

  int ListAddString(int id, std::string_view line);  // returns the new line's index
  void ListReplaceString(int id, int index, std::string_view line);  // the selection stays
  void ListDeleteString(int id, int index);
  void ListResetContent(int id);
  int ListGetCount(int id) const;
  std::string ListGetText(int id, int index) const;
  int ListGetCurSel(int id) const;  // -1 when nothing is selected
  void ListSetCurSel(int id, int index);  // -1 or out of range clears the selection
  void ListSetTabStops(int id, std::vector<int> tabStopsDu);

  void TrackSetRange(int id, int min, int max, bool redraw = true);
  void TrackSetPos(int id, int pos);  // held to the range
  int TrackGetPos(int id) const;
  int TrackGetRangeMin(int id) const;
  int TrackGetRangeMax(int id) const;

  void ProgressSetRange(int id, int min, int max);
  void ProgressSetPos(int id, int pos);
  int ProgressGetPos(int id) const;

  // Picture controls: the picture is shared with the host, never changed once handed over.
  void SetPicture(int id, std::shared_ptr<const GreyPicture> picture);
  void SetPictureOneToOne(int id, bool oneToOne);

  void SetWindowText(std::string_view caption);
  const std::string& GetWindowText() const { return m_Caption; }

  // The window's large and small icons; returns the icon it replaces.
  HICON SetIcon(HICON icon, bool bigIcon);
  HICON GetIcon(bool bigIcon) const { return bigIcon ? m_hBigIcon : m_hSmallIcon; }

  // System menu: present when the template asks for DS_SYSMENU.
  bool HasSystemMenu() const;
  void AppendSystemMenuSeparator();
  void AppendSystemMenuItem(unsigned command, std::string_view text);
  const std::vector<SystemMenuItem>& SystemMenu() const { return m_SystemMenu; }

  void SetTimer(int id, unsigned ms);
  void KillTimer(int id);

  CDC GetDC();  // invalid while the dialog is not shown
  void InvalidateRect(const CRect& clientRect, bool erase = true);
  void UpdateWindow();  // see IDialogView::UpdateNow
  void Invalidate(bool erase = true);
  CRect GetWindowRect() const;   // screen pixels; empty while not shown
  CRect GetClientRect() const;   // 0, 0, width, height in pixels by the host's rule

  void WinHelp(unsigned command, unsigned data = 0);

  // Hosts attach their view for the time the dialog is shown.
  void AttachView(IDialogView* view) { m_pView = view; }
  IDialogView* View() const { return m_pView; }

 protected:
  void Route(EventKind kind, int id, Handler handler);
  template <class D>
  void Route(EventKind kind, int id, void (D::*member)()) {
    D* self = static_cast<D*>(this);
    Route(kind, id, [self, member](const Event&) { (self->*member)(); });
  }
  template <class D>
  void Route(EventKind kind, int id, void (D::*member)(const Event&)) {
    D* self = static_cast<D*>(this);
    Route(kind, id, [self, member](const Event& e) { (self->*member)(e); });
  }

  // Direct access for derived dialogs; call Changed(id) after writing. An unknown id
  // yields a scratch state that nothing reads.
  ControlState& MutableControl(int id);
  void Changed(int id);

 private:
  ControlState* Find(int id);
  const ControlState* Find(int id) const;

  int m_TemplateId;
  const DialogTemplate* m_pTemplate;
  CDialog* m_pParent;
  IDialogView* m_pView = nullptr;
  std::string m_Caption;
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  int m_DefId = IDOK;
  std::vector<ControlState> m_Controls;
  std::vector<SystemMenuItem> m_SystemMenu;
  std::map<std::pair<EventKind, int>, Handler> m_Routes;
  std::optional<int> m_ModalResult;
  ControlState m_NoControl;
};
