#pragma once
// The host carries out the framework: modal runs, message boxes, file dialogs, help and
// process exit. It is chosen once per process; without a choice the scripted host runs.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/Dialog.h"
#include "ui/Types.h"

struct FileDialogRequest {
  bool open = true;  // false: a save dialog
  std::string title;
  std::vector<std::pair<std::string, std::string>> filters;  // (description, patterns "*.a;*.b")
  std::string initialFolder;
  std::string initialFileName;
  size_t bufferSize = 260;  // characters including the terminating NUL; at least PATH_MAX
  std::string defaultExtension;
  bool multiSelect = false;
};

class UI_API IHost {
 public:
  virtual ~IHost() = default;
  virtual int RunModal(CDialog& dlg) = 0;
  virtual bool CreateModeless(CDialog& dlg) = 0;
  virtual void DestroyModeless(CDialog& dlg) = 0;
  virtual int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                         MessageIcon icon) = 0;
  virtual std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& request) = 0;
  virtual void WinHelp(CDialog* owner, unsigned command, unsigned data) = 0;
  [[noreturn]] virtual void ExitProcess(int status) = 0;
  // Runs work on the user-interface thread from its event loop (any nested modal loop
  // included), delayMs later; may be called from any thread. Work still waiting when the
  // host goes never runs.
  virtual void Post(std::function<void()> work, unsigned delayMs) = 0;
};

// Replaces the host; not while a modal run of the current one is in progress.
UI_API void SetHost(std::unique_ptr<IHost> host);
UI_API IHost& Host();

// Modal runs (dialogs, message boxes, file dialogs) in progress on the user-interface thread.
UI_API int ModalRuns();

// A modal message box with one OK button (see TranscriptLine). Returns IDOK.
UI_API int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                      MessageIcon icon = MessageIcon::None);
// For test scripts that drive the program from outside: while SORREL_UI_TRANSCRIPT names a
// file, message boxes are not shown; each is appended to that file as its TranscriptLine
// and counts as answered OK.
// "CAPTION: text", line breaks in the text written as \n: one line per message box.
UI_API std::string TranscriptLine(const std::string& caption, const std::string& text);

// A box asked for on a worker thread, kept until the user-interface thread shows it.
struct HeldMessage {
  CDialog* owner;
  std::string text;
  std::string caption;
  MessageIcon icon;
};
// While a thread holds boxes (into not null), each box it asks for is appended to into and
// counts as answered OK; null shows them again. Work done ahead on another thread keeps its
// boxes so that the operator meets them where the work is taken up, in order.
UI_API void HoldMessagesOnThisThread(std::vector<HeldMessage>* into);
// Shows the held boxes in order on this (the user-interface) thread and empties the list.
UI_API void ShowHeldMessages(std::vector<HeldMessage>& held);

// The application's message box: its caption is the application title.
UI_API int AppMessageBox(const std::string& text, MessageIcon icon = MessageIcon::None);
UI_API void SetApplicationTitle(const std::string& title);
UI_API const std::string& ApplicationTitle();

// The operator's guide WinHelp shows: an HTML file whose sections for a control carry the
// anchor HelpAnchor(id). Empty: none is installed.
UI_API void SetHelpFile(const std::string& path);
UI_API const std::string& HelpFile();
UI_API std::string HelpAnchor(unsigned contextId);

// A path chosen by the operator, or nothing on cancel. The request's buffer holds at least
// PATH_MAX characters with the terminating NUL; a path that does not fit is refused with a
// message box ("Path too long: " and the path, caption "FILE ERROR", owned by owner) and
// counts as a cancel.
UI_API std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& request);
