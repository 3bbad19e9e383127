#include "QtDialogWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "ui/DialogTemplate.h"

namespace {

QRgb ToQRgb(COLORREF c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

Qt::WindowFlags FlagsFor(uint32_t style) {
  Qt::WindowFlags f = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (style & DS_SYSMENU) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (style & DS_MINIMIZEBOX) f |= Qt::WindowMinimizeButtonHint;
  if (style & DS_CONTEXTHELP) f |= Qt::WindowContextHelpButtonHint;
  return f;
}

// Average letter width as the original platform measures a dialog font: the 52 letters,
// rounded to whole pixels.
int AverageLetterWidth(const QFontMetrics& fm) {
  return (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
}

// The template names a font of the original platform; a metric-alike sans serif stands in.
// The templates were laid out for that font's character cell, four by eight dialog units,
// which the fixed rule makes the cell of the template's font at 96 dpi. The stand-in is
// sized to that cell: the largest pixel size, not above the template's size, whose height
// and average letter width stay inside it. The layout, and all the program draws into it,
// stays where it is, and every caption has the room the layout gave it.
QFont FontFor(const DialogTemplate& t) {
  QFont font;
  font.setFamilies({QString::fromStdString(t.font), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(t.pointSize > 0 ? t.pointSize : 8);
  const int cellWidth = DialogUnitsToPixelsX(4);
  const int cellHeight = DialogUnitsToPixelsY(8);
  for (int px = QFontInfo(font).pixelSize(); px > 1; --px) {
    font.setPixelSize(px);
    const QFontMetrics fm(font);
    if (fm.height() <= cellHeight && AverageLetterWidth(fm) <= cellWidth) break;
  }
  return font;
}

}  // namespace

CQtDialogWindow::CQtDialogWindow(CDialog& dlg, QWidget* parent)
    : QDialog(parent, FlagsFor(dlg.Template().style)), m_pDlg(&dlg) {
  const CRect client = dlg.GetClientRect();
  setFixedSize(client.Width(), client.Height());
  setFont(FontFor(dlg.Template()));
  setWindowTitle(QString::fromStdString(dlg.GetWindowText()));
  setSizeGripEnabled(false);

  m_Image = QImage(client.Width(), client.Height(), QImage::Format_RGB32);
  m_Image.fill(ToQRgb(COLOR_DIALOG_BACKGROUND));

  m_Controls.reserve(dlg.Controls().size());
  for (const ControlState& s : dlg.Controls()) {
    m_Controls.push_back(CreateQtControl(*this, s));
    SyncControl(*m_Controls.back(), s);
  }
  DefIdChanged();
  IconChanged();
  dlg.AttachView(this);
}

CQtDialogWindow::~CQtDialogWindow() {
  m_Ended = true;
  StopTimers();
  if (m_pDlg) m_pDlg->AttachView(nullptr);
  m_pDlg = nullptr;
  // The widgets go while their controls still exist: taking a widget down can move the
  // focus, and its handlers belong to the control.
  for (const auto& c : m_Controls) delete c->Widget();
  m_Controls.clear();
}

CQtDialogWindow* CQtDialogWindow::Of(const CDialog& dlg) { return dynamic_cast<CQtDialogWindow*>(dlg.View()); }

void CQtDialogWindow::PlaceOnScreen() {
  // Placed before OnInitDialog, so the dialog can measure its window there: centred on
  // the owner, or on the screen without one.
  QRect area;
  if (QWidget* owner = parentWidget(); owner && owner->isVisible()) {
    area = owner->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  const QPoint topLeft = area.center() - QPoint(width() / 2, height() / 2);
  move(std::max(topLeft.x(), area.left()), std::max(topLeft.y(), area.top()));
}

int CQtDialogWindow::RunModal() {
  PlaceOnScreen();
  m_ModalRun = true;
  Initialise();
  if (m_Ended) return m_Result;
  m_InModalLoop = true;
  exec();
  m_InModalLoop = false;
  // A dialog destroyed or closed some other way counts as cancelled.
  return m_Ended ? m_Result : IDCANCEL;
}

void CQtDialogWindow::ShowModeless() {
  PlaceOnScreen();
  Initialise();
  if (!m_Ended) show();
}

void CQtDialogWindow::Initialise() {
  m_Initialising = true;
  m_pDlg->OnInitDialog();
  m_Initialising = false;
}

void CQtDialogWindow::TakeDown() {
  if (m_TakenDown || !m_pDlg) return;
  m_TakenDown = true;
  m_Ended = true;
  StopTimers();
  hide();
  m_pDlg->Dispatch(Event::Destroy());
}

CQtControl* CQtDialogWindow::Control(int id) const {
  if (id == IDC_STATIC) return nullptr;
  for (const auto& c : m_Controls) {
    if (c->Id() == id) return c.get();
  }
  return nullptr;
}

int CQtDialogWindow::ControlIdOf(const QWidget* w) const {
  for (; w && w != this; w = w->parentWidget()) {
    for (const auto& c : m_Controls) {
      if (c->Widget() == w && c->Id() != IDC_STATIC) return c->Id();
    }
  }
  return 0;
}

void CQtDialogWindow::Send(const Event& e) {
  if (CDialog* dlg = InputDialog()) dlg->Dispatch(e);
}

void CQtDialogWindow::SyncControl(CQtControl& c, const ControlState& s) {
  // State set by the program must not come back to it as a person's input.
  const bool was = m_Syncing;
  m_Syncing = true;
  c.Sync(s);
  m_Syncing = was;
}

void CQtDialogWindow::ControlChanged(int id) {
  if (!m_pDlg) return;
  if (CQtControl* c = Control(id)) SyncControl(*c, m_pDlg->Control(id));
}

void CQtDialogWindow::SyncLine(int id, int index, bool added) {
  if (!m_pDlg) return;
  CQtControl* c = Control(id);
  if (!c) return;
  const bool was = m_Syncing;
  m_Syncing = true;
  c->SyncLine(m_pDlg->Control(id), index, added);
  m_Syncing = was;
}

void CQtDialogWindow::ListLineAdded(int id, int index) { SyncLine(id, index, true); }
void CQtDialogWindow::ListLineReplaced(int id, int index) { SyncLine(id, index, false); }

void CQtDialogWindow::UpdateNow() {
  if (m_Ended) return;
  if (!isVisible()) {
    // Long work in the initialisation shows its progress in the window it prepares.
    if (!m_Initialising) return;
    if (m_ModalRun) setAttribute(Qt::WA_ShowModal, true);
    show();
  }
  // The window's pending paints, at once; no other event is handled.
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(this, &request);
}

void CQtDialogWindow::CaptionChanged() {
  if (m_pDlg) setWindowTitle(QString::fromStdString(m_pDlg->GetWindowText()));
}

void CQtDialogWindow::IconChanged() {
  // The window system shows one icon per window: the large one, scaled where it must.
  if (m_pDlg) setWindowIcon(QtIcon(m_pDlg->GetIcon(true)));
}

void CQtDialogWindow::DefIdChanged() {
  if (!m_pDlg) return;
  for (const auto& c : m_Controls) {
    if (auto* button = qobject_cast<QPushButton*>(c->Widget())) button->setDefault(c->Id() == m_pDlg->GetDefID());
  }
}

// The menu is built from the dialog's items each time it opens.
void CQtDialogWindow::SystemMenuChanged() {}

std::unique_ptr<QMenu> CQtDialogWindow::BuildContextMenu() {
  if (!m_pDlg || !m_pDlg->HasSystemMenu() || m_pDlg->SystemMenu().empty()) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  for (const SystemMenuItem& item : m_pDlg->SystemMenu()) {
    if (item.command == 0) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(QString::fromStdString(item.text));
    a->setData(item.command);
  }
  return menu;
}

void CQtDialogWindow::contextMenuEvent(QContextMenuEvent* e) {
  // The window manager owns the real system menu here; the dialog's own items are offered
  // on its context menu instead.
  std::unique_ptr<QMenu> menu = BuildContextMenu();
  if (!menu || !InputDialog()) return;
  if (QAction* chosen = menu->exec(e->globalPos())) {
    Send(Event::SysCommand(static_cast<int>(chosen->data().toUInt())));
  }
}

void CQtDialogWindow::Invalidate(const CRect& r, bool erase) {
  const QRect rect = QRect(r.left, r.top, r.Width(), r.Height()).intersected(m_Image.rect());
  if (rect.isEmpty()) return;
  if (erase) {
    QPainter p(&m_Image);
    p.fillRect(rect, QColor(ToQRgb(COLOR_DIALOG_BACKGROUND)));
  }
  update(rect);
}

void CQtDialogWindow::SetPixel(int x, int y, COLORREF colour) {
  if (!m_Image.valid(x, y)) return;
  reinterpret_cast<QRgb*>(m_Image.scanLine(y))[x] = ToQRgb(colour);
  if (m_InPaint) return;
  // Drawn outside a paint: shown at the next pass of the event loop, once for all pixels.
  const bool first = m_PendingPixels.isNull();
  m_PendingPixels |= QRect(x, y, 1, 1);
  if (first) QTimer::singleShot(0, this, &CQtDialogWindow::FlushPixelUpdates);
}

void CQtDialogWindow::FlushPixelUpdates() {
  update(m_PendingPixels);
  m_PendingPixels = QRect();
}

COLORREF CQtDialogWindow::GetPixel(int x, int y) const {
  if (!m_Image.valid(x, y)) return CLR_INVALID;
  const QRgb c = reinterpret_cast<const QRgb*>(m_Image.constScanLine(y))[x];
  return RGB(static_cast<uint8_t>(qRed(c)), static_cast<uint8_t>(qGreen(c)), static_cast<uint8_t>(qBlue(c)));
}

void CQtDialogWindow::paintEvent(QPaintEvent* e) {
  // The dialog draws first (its pixels land in the image), then the image is shown 1:1.
  m_InPaint = true;
  Send(Event::Paint());
  m_InPaint = false;
  QPainter p(this);
  p.drawImage(e->rect().topLeft(), m_Image, e->rect());
}

CRect CQtDialogWindow::WindowRect() const {
  const QRect r = frameGeometry();
  return CRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void CQtDialogWindow::SetTimer(int id, unsigned ms) {
  QTimer*& timer = m_Timers[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { Send(Event::Timer(id)); });
  }
  timer->start(static_cast<int>(std::min<unsigned>(ms, INT32_MAX)));
}

void CQtDialogWindow::KillTimer(int id) {
  auto it = m_Timers.find(id);
  if (it == m_Timers.end()) return;
  delete it->second;
  m_Timers.erase(it);
}

void CQtDialogWindow::StopTimers() {
  for (auto& [id, timer] : m_Timers) delete timer;
  m_Timers.clear();
}

void CQtDialogWindow::EndModal(int result) {
  if (m_Ended) return;
  m_Ended = true;
  m_Result = result;
  StopTimers();
  if (m_InModalLoop) {
    QDialog::done(result);
  } else {
    hide();
  }
}

void CQtDialogWindow::ShowMinimized(bool minimized) {
  setWindowState(minimized ? (windowState() | Qt::WindowMinimized) : (windowState() & ~Qt::WindowMinimized));
}

void CQtDialogWindow::DialogDestroyed() {
  // The dialog is going away under a window that may still be on the call stack.
  m_pDlg = nullptr;
  m_Ended = true;
  StopTimers();
  if (m_InModalLoop) QDialog::done(IDCANCEL);
  hide();
  deleteLater();
}

void CQtDialogWindow::accept() { Send(Event::Ok()); }
void CQtDialogWindow::reject() { Send(Event::Cancel()); }

void CQtDialogWindow::keyPressEvent(QKeyEvent* e) {
  // Keys the focused control left alone. A focused push button takes Enter itself.
  switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier) {
        if (CDialog* dlg = InputDialog()) {
          if (std::optional<Event> enter = dlg->EnterEvent()) Send(*enter);
        }
        return;
      }
      break;
    case Qt::Key_Escape:
      if (e->modifiers() == Qt::NoModifier) {
        Send(Event::Cancel());
        return;
      }
      break;
    case Qt::Key_F1:
      Send(Event::HelpInfo(ControlIdOf(focusWidget()), 1));
      return;
    default:
      break;
  }
  QDialog::keyPressEvent(e);
}

void CQtDialogWindow::closeEvent(QCloseEvent* e) {
  // The window goes only when the dialog ends.
  if (m_Ended) {
    e->accept();
    return;
  }
  e->ignore();
  Send(Event::Close());
}
