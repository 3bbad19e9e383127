#pragma once
// A shown dialog: a QDialog with one widget per control, an image of the client area for
// the dialog's own per-pixel drawing, and the dialog's timers.

#include <QDialog>
#include <QImage>
#include <QRect>
#include <map>
#include <memory>
#include <vector>

#include "QtControls.h"
#include "ui/Dialog.h"

class QMenu;
class QTimer;

class CQtDialogWindow final : public QDialog, public IDialogView {
  Q_OBJECT

 public:
  CQtDialogWindow(CDialog& dlg, QWidget* parent);
  ~CQtDialogWindow() override;

  // The window a dialog is shown in, or nullptr.
  static CQtDialogWindow* Of(const CDialog& dlg);

  // Modal run: OnInitDialog, then the window until the dialog ends; returns its result.
  int RunModal();
  // Shown without a modal run, for tests that drive the window themselves.
  void ShowModeless();
  // The window goes away: it hides, then the dialog gets its one Destroy event.
  void TakeDown();

  // The dialog while it takes input: attached and not ended.
  CDialog* InputDialog() const { return m_Ended ? nullptr : m_pDlg; }
  CDialog* Dialog() const { return m_pDlg; }
  CQtControl* Control(int id) const;
  const std::vector<std::unique_ptr<CQtControl>>& Controls() const { return m_Controls; }
  int ControlIdOf(const QWidget* w) const;  // 0 for none
  // The system-menu items the dialog appended, or nullptr when it has none.
  std::unique_ptr<QMenu> BuildContextMenu();
  void Send(const Event& e);
  bool Syncing() const { return m_Syncing; }

  // IDialogView
  void ControlChanged(int id) override;
  void ListLineAdded(int id, int index) override;
  void ListLineReplaced(int id, int index) override;
  void UpdateNow() override;
  void CaptionChanged() override;
  void IconChanged() override;
  void DefIdChanged() override;
  void SystemMenuChanged() override;
  void Invalidate(const CRect& clientRect, bool erase) override;
  void SetPixel(int x, int y, COLORREF colour) override;
  COLORREF GetPixel(int x, int y) const override;
  CRect WindowRect() const override;
  void SetTimer(int id, unsigned ms) override;
  void KillTimer(int id) override;
  void EndModal(int result) override;
  void ShowMinimized(bool minimized) override;
  void DialogDestroyed() override;

  // The framework decides how Enter, Escape and the close box end a dialog.
  void accept() override;
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void PlaceOnScreen();
  void SyncControl(CQtControl& c, const ControlState& s);
  void SyncLine(int id, int index, bool added);
  void Initialise();  // OnInitDialog, during which UpdateNow may show the window early
  void StopTimers();
  void FlushPixelUpdates();

  CDialog* m_pDlg;
  std::vector<std::unique_ptr<CQtControl>> m_Controls;  // in template order
  std::map<int, QTimer*> m_Timers;
  QImage m_Image;
  QRect m_PendingPixels;  // written outside a paint, not yet shown
  bool m_InPaint = false;
  bool m_Syncing = false;
  bool m_Ended = false;
  bool m_TakenDown = false;
  bool m_InModalLoop = false;
  bool m_Initialising = false;  // OnInitDialog runs
  bool m_ModalRun = false;
  int m_Result = IDCANCEL;
};
