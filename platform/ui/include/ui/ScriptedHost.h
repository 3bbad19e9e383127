#pragma once
// The scripted host: everything in memory, for tests and headless use. Modal dialogs run
// the script registered for their template id, message boxes are recorded and answered,
// file dialogs answer from a queue, timers fire on a virtual clock, paints render into an
// in-memory client area per dialog, and ending the process is observable.
//
// Rules a test can rely on:
// - A shown dialog starts with its whole client area pending a paint (COLOR_DIALOG_BACKGROUND);
//   paints are delivered after OnInitDialog, after each action and timer firing, and when a
//   modal script returns: one Paint event per dialog with a pending region, erased first
//   where the invalidation asked for it.
// - Actions on a control that is missing, disabled or hidden (and typing into a read-only
//   edit) are ignored with a note on stderr, as a person could not do them. A dialog that
//   has ended takes no more actions, timers or paints.
// - Timers due at the same moment fire in the order they were last armed.
// - Views go when the run ends, Close is called, the dialog is destroyed or the host is
//   replaced; Pixel, TimerActive and Minimized then report nothing. When the run ends or
//   Close is called the dialog gets one Destroy event first, its view still attached and
//   taking no more actions; a run ended by CProcessExit, a destroyed dialog and a replaced
//   host get none.
// - Enter sends what the dialog's default id gives (EnterEvent): Ok for IDOK.
// - SC_MINIMIZE and SC_RESTORE handled by the framework only mark the view (Minimized).
// - Termination signals are delivered (the watched handler runs) when the test calls
//   DeliverSignals, and before each action below and each timer firing, as a signal
//   reaches a person's program between two things it does. Never inside the signal
//   handler.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/Host.h"

// Thrown by the scripted host's ExitProcess so a test sees the status and the code that
// ran before it. Only the scripted host throws it.
struct CProcessExit {
  int status;
};

class UI_API CScriptedHost : public IHost {
 public:
  using Script = std::function<void(CDialog& dlg, CScriptedHost& host)>;

  struct MessageRecord {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    int ownerTemplateId = 0;  // 0: no owner
  };
  struct HelpRecord {
    int ownerTemplateId = 0;
    unsigned command = 0;
    unsigned data = 0;
  };

  CScriptedHost();
  ~CScriptedHost() override;

  // Makes a new scripted host the process's host and returns it. Not while a modal run of
  // the current host is in progress: that host is destroyed.
  static CScriptedHost& Install();

  // IHost
  int RunModal(CDialog& dlg) override;
  bool CreateModeless(CDialog& dlg) override;  // Open
  void DestroyModeless(CDialog& dlg) override;  // Close
  int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                 MessageIcon icon) override;
  std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& request) override;
  void WinHelp(CDialog* owner, unsigned command, unsigned data) override;
  [[noreturn]] void ExitProcess(int status) override;
  // Kept until the test runs it (RunPosted, AdvanceTime); a delay counts on the virtual
  // clock, and only the user-interface thread gives one.
  void Post(std::function<void()> work, unsigned delayMs) override;

  // Modal runs: the script registered for a template runs each time a dialog of that
  // template is run; when the script returns without ending the dialog it ends with
  // IDCANCEL. A dialog without a script ends at once with IDCANCEL and is recorded. A
  // dialog that is already shown is not run again: -1.
  void SetScript(int templateId, Script script);
  void ClearScript(int templateId);
  const std::vector<int>& UnscriptedRuns() const { return m_UnscriptedRuns; }
  const std::vector<int>& ModalRuns() const { return m_ModalRuns; }  // template ids, in order

  // Shows a dialog without a modal run (OnInitDialog runs), so a test can drive it. Close
  // (Destroy, then the view goes) does not apply to a dialog in a modal run: end that one
  // instead.
  void Open(CDialog& dlg);
  void Close(CDialog& dlg);

  // What a person does: the control changes as it would on screen, then the event is
  // dispatched, then pending paints are delivered.
  void Click(CDialog& dlg, int id);  // check boxes toggle first
  void DoubleClick(CDialog& dlg, int id);
  void SelectListLine(CDialog& dlg, int id, int index);
  void TypeText(CDialog& dlg, int id, const std::string& text);  // no event, as typing
  void LeaveControl(CDialog& dlg, int id);                         // KillFocus
  // A few SB_THUMBTRACK steps on the way to pos (held to the range), then SB_THUMBPOSITION
  // and SB_ENDSCROLL at pos.
  void DragTrackBar(CDialog& dlg, int id, int pos);
  void ScrollTrackBar(CDialog& dlg, int id, int code, int pos);  // one event, as given
  void PressEnter(CDialog& dlg);  // the dialog's EnterEvent, if any
  void PressEscape(CDialog& dlg);
  void CloseWindow(CDialog& dlg);
  void SystemCommand(CDialog& dlg, unsigned command);
  void RequestHelp(CDialog& dlg, int contextId);
  void Send(CDialog& dlg, const Event& e);
  void DeliverPaints();
  // Runs the termination-signal handler if a signal is pending, then pending paints; true
  // when it ran.
  bool DeliverSignals();

  // Runs the posted work that is due, in the order it was posted (work it posts without a
  // delay too), then pending paints; how many ran.
  int RunPosted();

  // Virtual clock: fires every due timer of every shown dialog, in time order, then the
  // posted work that is due.
  void AdvanceTime(uint64_t ms);
  uint64_t Now() const { return m_NowMs; }
  bool TimerActive(const CDialog& dlg, int id) const;

  // A shown dialog minimised by the framework's system-command handling.
  bool Minimized(const CDialog& dlg) const;

  // Message boxes: recorded; answered by the handler (default: IDOK).
  const std::vector<MessageRecord>& Messages() const { return m_Messages; }
  void ClearMessages() { m_Messages.clear(); }
  void SetMessageBoxHandler(std::function<int(const MessageRecord&)> handler);

  // File dialogs: answered from the queue (an empty optional is a cancel; an empty queue
  // cancels too); every request is recorded.
  void QueueFileAnswer(std::optional<std::string> path);
  const std::vector<FileDialogRequest>& FileRequests() const { return m_FileRequests; }

  const std::vector<HelpRecord>& HelpCalls() const { return m_HelpCalls; }

  // Window placement: screen position of a template's window (default 0, 0). The window
  // is the client area plus a 3-pixel border and a 23-pixel caption.
  void SetWindowOrigin(int templateId, int x, int y);
  void SetWindowSize(int templateId, int width, int height);  // overrides the computed size

  // Client-area pixels of a shown dialog, as the last paint left them.
  COLORREF Pixel(const CDialog& dlg, int x, int y) const;

  std::optional<int> ExitStatus() const { return m_ExitStatus; }

  // List lines the dialogs added or replaced one by one since the host was installed: what
  // keeping the lists up to date costs a host.
  uint64_t ListLineWrites() const { return m_ListLineWrites; }

  // Every text a control of a template showed while a dialog of that template was shown,
  // in order, starting with its template text (a change to the same text is not repeated):
  // the captions a long operation shows on a button, for instance.
  std::vector<std::string> TextHistory(int templateId, int id) const;
  // Forgets the texts shown so far, as a long run that keeps no record of them needs; each
  // control's history starts again at its next text.
  void ClearTextHistory() { m_TextHistory.clear(); }

 private:
  class View;
  View* ViewOf(const CDialog& dlg) const;
  View& Show(CDialog& dlg, bool modal);
  void Hide(CDialog& dlg);
  void TakeDown(CDialog& dlg);  // Destroy, then Hide
  // The event to a dialog that has not ended, then paints; no signals first.
  void Deliver(CDialog& dlg, const Event& e);
  bool Usable(const CDialog& dlg, int id) const;
  void RecordText(const CDialog& dlg, int id);

  std::map<int, Script> m_Scripts;
  std::vector<int> m_UnscriptedRuns;
  std::vector<int> m_ModalRuns;
  std::map<const CDialog*, std::unique_ptr<View>> m_Views;
  std::vector<MessageRecord> m_Messages;
  std::function<int(const MessageRecord&)> m_MessageHandler;
  std::deque<std::optional<std::string>> m_FileAnswers;
  std::vector<FileDialogRequest> m_FileRequests;
  std::vector<HelpRecord> m_HelpCalls;
  std::map<int, std::pair<int, int>> m_WindowOrigins;
  std::map<int, std::pair<int, int>> m_WindowSizes;
  std::map<std::pair<int, int>, std::vector<std::string>> m_TextHistory;
  std::optional<int> m_ExitStatus;
  struct Posted {
    uint64_t due;
    std::function<void()> work;
  };
  std::mutex m_PostedMutex;
  std::deque<Posted> m_Posted;
  uint64_t m_NowMs = 0;
  uint64_t m_ListLineWrites = 0;
  uint64_t m_TimerSerial = 0;  // orders timers due at the same moment
};
