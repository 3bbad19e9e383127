#include "ui/QtHostTesting.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOption>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QTextBrowser>
#include <QTimer>

#include "QtDialogWindow.h"
#include "QtHostPrivate.h"

namespace {

CRect ToCRect(const QRect& r) { return CRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

CQtDialogWindow& WindowOf(const CDialog& dlg) {
  CQtDialogWindow* w = CQtDialogWindow::Of(dlg);
  if (!w) qFatal("dialog %d is not shown by the Qt host", dlg.TemplateId());
  return *w;
}

CQtControl& ControlOf(const CDialog& dlg, int id) {
  CQtControl* c = WindowOf(dlg).Control(id);
  if (!c) qFatal("dialog %d has no control %d", dlg.TemplateId(), id);
  return *c;
}

template <class W>
W* WidgetOf(const CDialog& dlg, int id) {
  W* w = qobject_cast<W*>(ControlOf(dlg, id).Widget());
  if (!w) qFatal("control %d is not a %s", id, W::staticMetaObject.className());
  return w;
}

void SendMouse(QWidget* w, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, const QPoint& pos) {
  SendMouse(w, QEvent::MouseButtonPress, pos);
  SendMouse(w, QEvent::MouseButtonRelease, pos);
}

QPoint ClickPoint(QWidget* w) {
  // A check box takes clicks on its box and caption, not on the empty rest of its control.
  if (qobject_cast<QCheckBox*>(w)) {
    return QPoint(w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) / 2 + 1, w->height() / 2);
  }
  return w->rect().center();
}

// Where a slider draws its thumb at a position, in its own pixels.
QRect ThumbIn(const QSlider& slider, int position) {
  QStyleOptionSlider opt;
  opt.initFrom(&slider);
  opt.subControls = QStyle::SC_None;
  opt.activeSubControls = QStyle::SC_None;
  opt.orientation = slider.orientation();
  opt.maximum = slider.maximum();
  opt.minimum = slider.minimum();
  opt.tickPosition = slider.tickPosition();
  opt.tickInterval = slider.tickInterval();
  opt.upsideDown = slider.orientation() == Qt::Horizontal ? slider.invertedAppearance() : !slider.invertedAppearance();
  opt.direction = slider.layoutDirection();
  opt.sliderPosition = position;
  opt.sliderValue = position;
  opt.singleStep = slider.singleStep();
  opt.pageStep = slider.pageStep();
  return slider.style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, &slider);
}

QPoint ListLineCentre(QListWidget* list, int row) {
  QListWidgetItem* item = list->item(row);
  if (!item) qFatal("list has no line %d", row);
  list->scrollToItem(item);
  return list->visualItemRect(item).center();
}

void SendKey(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

QtHostTesting::ClientImage ToClientImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  QtHostTesting::ClientImage out;
  out.width = image.width();
  out.height = image.height();
  out.pixels.reserve(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      out.pixels.push_back(RGB(static_cast<uint8_t>(qRed(line[x])), static_cast<uint8_t>(qGreen(line[x])),
                               static_cast<uint8_t>(qBlue(line[x]))));
    }
  }
  return out;
}

class CRowCounter final : public QObject {
 public:
  using QObject::QObject;
  int rows = 0;
};

// What reached some controls: their paints with the text they showed, and their input.
class CEventLog final : public QObject {
 public:
  std::vector<std::pair<QPointer<QWidget>, const CQtControl*>> watched;
  std::vector<std::string> entries;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    for (const auto& [widget, control] : watched) {
      if (o != widget) continue;
      const std::string id = std::to_string(control->Id());
      if (e->type() == QEvent::Paint) entries.push_back("paint " + id + " " + control->ShownText().toStdString());
      if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress) entries.push_back("input " + id);
    }
    return false;
  }
};

CEventLog& TheEventLog() {
  static CEventLog* log = [] {
    auto* l = new CEventLog;
    l->setParent(qApp);
    return l;
  }();
  return *log;
}

// Counts the show events of dialog windows.
class CShowCounter final : public QObject {
 public:
  int shown = 0;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && dynamic_cast<CQtDialogWindow*>(o)) ++shown;
    return false;
  }
};

int QtKey(QtHostTesting::Key key) {
  using K = QtHostTesting::Key;
  switch (key) {
    case K::Enter: return Qt::Key_Return;
    case K::Escape: return Qt::Key_Escape;
    case K::Up: return Qt::Key_Up;
    case K::Down: return Qt::Key_Down;
    case K::PageUp: return Qt::Key_PageUp;
    case K::PageDown: return Qt::Key_PageDown;
    case K::Home: return Qt::Key_Home;
    case K::End: return Qt::Key_End;
    case K::Tab: return Qt::Key_Tab;
    case K::F1: return Qt::Key_F1;
  }
  return 0;
}

// Text on one line, or wrapped where the widget wraps it, inside a rectangle.
bool TextFitsIn(const QString& text, const QFontMetrics& fm, const QRect& room, bool wrap) {
  if (text.isEmpty()) return true;
  if (!wrap) return fm.horizontalAdvance(text) <= room.width() && fm.height() <= room.height();
  const QRect need = fm.boundingRect(QRect(0, 0, room.width(), 1 << 16), Qt::TextWordWrap, text);
  return need.width() <= room.width() && need.height() <= room.height();
}

bool LabelFits(const QLabel* label) {
  return TextFitsIn(label->text(), label->fontMetrics(), label->contentsRect(), label->wordWrap());
}

// The wrapping caption a multi-line button or check box carries, if any.
const QLabel* CaptionOf(const QWidget* w) { return w->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly); }

bool ButtonFits(const QAbstractButton* b, QStyle::SubElement contents) {
  if (const QLabel* caption = CaptionOf(b)) return LabelFits(caption);
  QStyleOptionButton opt;
  opt.initFrom(b);
  opt.text = b->text();
  return TextFitsIn(b->text(), b->fontMetrics(), b->style()->subElementRect(contents, &opt, b), false);
}

bool LineEditFits(const QLineEdit* e) {
  // Inside the frame, the box keeps a margin of its own: two pixels across, one down.
  const int frame = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, e) : 0;
  const QMargins m = e->textMargins();
  const QRect room = e->rect().adjusted(frame + m.left() + 2, frame + m.top() + 1, -(frame + m.right() + 2),
                                        -(frame + m.bottom() + 1));
  return TextFitsIn(e->text(), e->fontMetrics(), room, false);
}

bool TextEditFits(const QPlainTextEdit* e) {
  const int margin = static_cast<int>(e->document()->documentMargin());
  return TextFitsIn(e->toPlainText(), e->fontMetrics(), e->viewport()->rect().adjusted(margin, margin, -margin, -margin),
                    true);
}

bool GroupFits(const QGroupBox* g) {
  QStyleOptionGroupBox opt;
  opt.initFrom(g);
  opt.text = g->title();
  opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  opt.textAlignment = g->alignment();
  const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
  return g->title().isEmpty() || (g->rect().contains(label) && label.width() >= g->fontMetrics().horizontalAdvance(g->title()));
}

// A list shows its lines whole when each field lies inside the list and keeps its column:
// it starts where the same field of the first line starts.
std::vector<int> ListRowsCut(const CQtControl& c, const QListWidget* list) {
  std::vector<int> cut;
  const QRect inside(list->viewport()->mapTo(list->window(), QPoint(0, 0)), list->viewport()->size());
  const std::vector<QRect> first = ListFieldRects(c, 0);
  for (int row = 0; row < list->count(); ++row) {
    const std::vector<QRect> fields = ListFieldRects(c, row);
    bool whole = fields.size() == first.size();
    for (size_t i = 0; whole && i < fields.size(); ++i) {
      whole = fields[i].left() == first[i].left() && (fields[i].width() == 0 || inside.contains(fields[i]));
    }
    if (!whole) cut.push_back(row);
  }
  return cut;
}

}  // namespace

namespace QtHostTesting {

void Open(CDialog& dlg) {
  if (CQtDialogWindow::Of(dlg)) return;
  auto* window = new CQtDialogWindow(dlg, QApplication::activeModalWidget());
  window->ShowModeless();
  ProcessEvents();
}

void Close(CDialog& dlg) {
  QPointer<CQtDialogWindow> window = CQtDialogWindow::Of(dlg);
  if (!window) return;
  window->TakeDown();
  delete window.data();
}

void Post(std::function<void()> fn) { QTimer::singleShot(0, qApp, std::move(fn)); }

void ProcessEvents() {
  QApplication::sendPostedEvents();
  QApplication::processEvents();
}

CDialog* ActiveModalDialog() {
  auto* w = dynamic_cast<CQtDialogWindow*>(QApplication::activeModalWidget());
  return w ? w->Dialog() : nullptr;
}

std::string WindowTitle(const CDialog& dlg) { return WindowOf(dlg).windowTitle().toStdString(); }

bool WindowMinimized(const CDialog& dlg) { return WindowOf(dlg).isMinimized(); }

int DialogWindowsShown() {
  static CShowCounter* counter = [] {
    auto* c = new CShowCounter;
    c->setParent(qApp);
    qApp->installEventFilter(c);
    return c;
  }();
  return counter->shown;
}

CRect ClientGeometry(const CDialog& dlg) { return ToCRect(WindowOf(dlg).geometry()); }

CRect ControlGeometry(const CDialog& dlg, int id) { return ToCRect(ControlOf(dlg, id).Widget()->geometry()); }

std::string ControlText(const CDialog& dlg, int id) { return ControlOf(dlg, id).ShownText().toStdString(); }

bool ControlChecked(const CDialog& dlg, int id) { return WidgetOf<QAbstractButton>(dlg, id)->isChecked(); }

bool ControlEnabled(const CDialog& dlg, int id) { return ControlOf(dlg, id).Widget()->isEnabled(); }

bool ControlVisible(const CDialog& dlg, int id) { return !ControlOf(dlg, id).Widget()->isHidden(); }

bool ButtonIsDefault(const CDialog& dlg, int id) { return WidgetOf<QPushButton>(dlg, id)->isDefault(); }

int ControlValue(const CDialog& dlg, int id) {
  QWidget* w = ControlOf(dlg, id).Widget();
  if (auto* slider = qobject_cast<QAbstractSlider*>(w)) return slider->value();
  if (auto* bar = qobject_cast<QProgressBar*>(w)) return bar->value();
  qFatal("control %d has no value", id);
}

std::vector<std::string> ListLines(const CDialog& dlg, int id) {
  auto* list = WidgetOf<QListWidget>(dlg, id);
  std::vector<std::string> lines;
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

int ListCurrentRow(const CDialog& dlg, int id) {
  const QList<QListWidgetItem*> selected = WidgetOf<QListWidget>(dlg, id)->selectedItems();
  return selected.isEmpty() ? -1 : WidgetOf<QListWidget>(dlg, id)->row(selected.front());
}

int ListRowsInserted(const CDialog& dlg, int id) {
  auto* list = WidgetOf<QListWidget>(dlg, id);
  CRowCounter* counter = nullptr;
  for (QObject* child : list->children()) {
    if (auto* c = dynamic_cast<CRowCounter*>(child)) counter = c;
  }
  if (!counter) {
    counter = new CRowCounter(list);
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, counter,
                     [counter](const QModelIndex&, int first, int last) { counter->rows += last - first + 1; });
  }
  return counter->rows;
}

std::vector<CRect> ListFieldRects(const CDialog& dlg, int id, int row) {
  std::vector<CRect> rects;
  for (const QRect& r : ::ListFieldRects(ControlOf(dlg, id), row)) rects.push_back(ToCRect(r));
  return rects;
}

CRect TrackThumbGeometry(const CDialog& dlg, int id) { return ToCRect(TrackThumbRect(ControlOf(dlg, id))); }

std::vector<std::string> TextsCutOff(const CDialog& dlg) {
  std::vector<std::string> cut;
  for (const auto& c : WindowOf(dlg).Controls()) {
    QWidget* w = c->Widget();
    const std::string id = std::to_string(c->Id()) + ": ";
    if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int row : ListRowsCut(*c, list)) cut.push_back(id + list->item(row)->text().toStdString());
      continue;
    }
    bool fits = true;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      fits = LabelFits(label);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      fits = ButtonFits(box, QStyle::SE_CheckBoxContents);
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      fits = ButtonFits(button, QStyle::SE_PushButtonContents);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      fits = LineEditFits(edit);
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(w)) {
      fits = TextEditFits(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      fits = GroupFits(group);
    }
    if (!fits) cut.push_back(id + c->ShownText().toStdString());
  }
  return cut;
}

void ClickControl(CDialog& dlg, int id) {
  QWidget* w = ControlOf(dlg, id).Widget();
  Click(w, ClickPoint(w));
}

void ClickListLine(CDialog& dlg, int id, int row) {
  auto* list = WidgetOf<QListWidget>(dlg, id);
  Click(list->viewport(), ListLineCentre(list, row));
}

void DoubleClickListLine(CDialog& dlg, int id, int row) {
  auto* list = WidgetOf<QListWidget>(dlg, id);
  const QPoint at = ListLineCentre(list, row);
  // The sequence the windowing system delivers for a double click.
  SendMouse(list->viewport(), QEvent::MouseButtonPress, at);
  SendMouse(list->viewport(), QEvent::MouseButtonRelease, at);
  SendMouse(list->viewport(), QEvent::MouseButtonPress, at);
  SendMouse(list->viewport(), QEvent::MouseButtonDblClick, at);
  SendMouse(list->viewport(), QEvent::MouseButtonRelease, at);
}

std::vector<int> DragTrackBar(CDialog& dlg, int id, const std::vector<int>& positions) {
  auto* slider = WidgetOf<QSlider>(dlg, id);
  const QRect start = ThumbIn(*slider, slider->sliderPosition());
  const QPoint grab = start.center();
  SendMouse(slider, QEvent::MouseButtonPress, grab);
  QPoint at = grab;
  std::vector<int> reached;
  for (int p : positions) {
    at = grab + (ThumbIn(*slider, p).topLeft() - start.topLeft());
    SendMouse(slider, QEvent::MouseMove, at);
    reached.push_back(slider->sliderPosition());
  }
  SendMouse(slider, QEvent::MouseButtonRelease, at);
  return reached;
}

void WheelTrackBar(CDialog& dlg, int id, int notches) {
  auto* slider = WidgetOf<QSlider>(dlg, id);
  const QPoint at = slider->rect().center();
  const int step = notches > 0 ? QWheelEvent::DefaultDeltasPerStep : -QWheelEvent::DefaultDeltasPerStep;
  for (int i = 0; i < std::abs(notches); ++i) {
    QWheelEvent e(QPointF(at), QPointF(slider->mapToGlobal(at)), QPoint(), QPoint(0, step), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(slider, &e);
  }
}

void ClickTrackBarChannel(CDialog& dlg, int id, bool above) {
  auto* slider = WidgetOf<QSlider>(dlg, id);
  const QRect thumb = ThumbIn(*slider, slider->sliderPosition());
  const QPoint at(thumb.center().x(), above ? thumb.top() - 2 : thumb.bottom() + 2);
  Click(slider, at);
}

void FocusControl(CDialog& dlg, int id) {
  CQtDialogWindow& window = WindowOf(dlg);
  window.activateWindow();
  ProcessEvents();
  ControlOf(dlg, id).Widget()->setFocus(Qt::OtherFocusReason);
  ProcessEvents();
}

void PressKey(CDialog& dlg, Key key, int id) {
  CQtDialogWindow& window = WindowOf(dlg);
  QWidget* target = id ? ControlOf(dlg, id).Widget() : window.focusWidget();
  SendKey(target ? target : &window, QtKey(key));
}

void TypeText(CDialog& dlg, int id, const std::string& text) {
  FocusControl(dlg, id);
  QWidget* target = ControlOf(dlg, id).Widget();
  for (QChar c : QString::fromStdString(text)) SendKey(target, Qt::Key_unknown, QString(c));
}

void CloseWindow(CDialog& dlg) { WindowOf(dlg).close(); }

void PostClick(CDialog& dlg, int id) {
  QWidget* w = ControlOf(dlg, id).Widget();
  const QPoint at = ClickPoint(w);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QCoreApplication::postEvent(w, new QMouseEvent(type, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::LeftButton,
                                                   held, Qt::NoModifier));
  }
}

void StartEventLog(CDialog& dlg, const std::vector<int>& ids) {
  CEventLog& log = TheEventLog();
  for (const auto& [widget, control] : log.watched) {
    if (widget) widget->removeEventFilter(&log);
  }
  log.watched.clear();
  log.entries.clear();
  for (int id : ids) {
    CQtControl& c = ControlOf(dlg, id);
    c.Widget()->installEventFilter(&log);
    log.watched.emplace_back(c.Widget(), &c);
  }
}

std::vector<std::string> EventLog() { return TheEventLog().entries; }

ClientImage GrabClient(const CDialog& dlg) { return ToClientImage(WindowOf(dlg).grab().toImage()); }

ClientImage WindowIcon(const CDialog& dlg, int size) {
  const CQtDialogWindow& window = WindowOf(dlg);
  // Without an icon of its own a window falls back on the application's.
  if (!window.testAttribute(Qt::WA_SetWindowIcon)) return {};
  return ToClientImage(window.windowIcon().pixmap(size, size).toImage());
}

std::optional<MessageBoxInfo> ActiveMessageBox() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box) return std::nullopt;
  MessageBoxInfo info;
  info.caption = box->windowTitle().toStdString();
  info.text = box->text().toStdString();
  info.critical = box->icon() == QMessageBox::Critical;
  for (QAbstractButton* b : box->buttons()) info.buttons.push_back(b->text().toStdString());
  return info;
}

void DismissActiveMessageBox() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box) qFatal("no message box is showing");
  QAbstractButton* ok = box->button(QMessageBox::Ok);
  Click(ok, ok->rect().center());
}

std::optional<FileDialogInfo> ActiveFileDialog() {
  auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
  if (!fd) return std::nullopt;
  FileDialogInfo info;
  info.save = fd->acceptMode() == QFileDialog::AcceptSave;
  info.title = fd->windowTitle().toStdString();
  for (const QString& f : fd->nameFilters()) info.filters.push_back(f.toStdString());
  info.folder = fd->directory().absolutePath().toStdString();
  if (auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) info.fileName = name->text().toStdString();
  info.defaultSuffix = fd->defaultSuffix().toStdString();
  return info;
}

void AcceptActiveFileDialog(const std::string& path) {
  auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
  if (!fd) qFatal("no file dialog is showing");
  fd->selectFile(QString::fromStdString(path));
  // As the dialog's own accept button does.
  QMetaObject::invokeMethod(fd, "accept");
  // A name the dialog refuses cancels it, so no test waits on a dialog nobody answers.
  if (fd->isVisible()) fd->reject();
}

void CancelActiveFileDialog() {
  auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
  if (!fd) qFatal("no file dialog is showing");
  fd->reject();
}

void OpenContextMenu(CDialog& dlg) {
  CQtDialogWindow& window = WindowOf(dlg);
  const QPoint at(4, 4);
  QContextMenuEvent e(QContextMenuEvent::Mouse, at, window.mapToGlobal(at));
  QApplication::sendEvent(&window, &e);
}

std::vector<std::string> ActiveMenuItems() {
  std::vector<std::string> items;
  if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
    for (QAction* a : menu->actions()) items.push_back(a->isSeparator() ? std::string() : a->text().toStdString());
  }
  return items;
}

bool ChooseActiveMenuItem(const std::string& text) {
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (!menu) return false;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a->text().toStdString() == text) {
      menu->setActiveAction(a);
      SendKey(menu, Qt::Key_Return);
      return true;
    }
  }
  // Nothing to choose: the menu goes, so no test waits on it.
  menu->close();
  return false;
}

bool HelpWindowShown() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String(HELP_WINDOW_NAME) && w->isVisible()) return true;
  }
  return false;
}

std::string HelpWindowLocation() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* browser = qobject_cast<QTextBrowser*>(w);
    if (browser && w->objectName() == QLatin1String(HELP_WINDOW_NAME) && w->isVisible()) {
      return browser->source().toString().toStdString();
    }
  }
  return {};
}

}  // namespace QtHostTesting
