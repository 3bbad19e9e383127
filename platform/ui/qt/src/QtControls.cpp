#include "QtControls.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>

#include "QtDialogWindow.h"
#include "ui/DialogTemplate.h"

namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// Tab stops when a list sets none: every 32 dialog units.
constexpr int DEFAULT_TAB_DU = 32;
// Text in a list line starts this far into the line.
constexpr int LIST_TEXT_INDENT = 2;
// An icon control shows the application icon at its natural size.
constexpr int ICON_SIZE = 32;

// Forwards one event type of a widget to a function.
class CEventTap final : public QObject {
 public:
  CEventTap(QObject* target, QEvent::Type type, std::function<void()> fn)
      : QObject(target), m_Type(type), m_Fn(std::move(fn)) {
    target->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == m_Type) m_Fn();
    return false;
  }

 private:
  QEvent::Type m_Type;
  std::function<void()> m_Fn;
};

// A caption that wraps inside its control (multi-line buttons and check boxes).
QLabel* AddWrappingCaption(QWidget* owner, Qt::Alignment align) {
  auto* label = new QLabel(owner);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(align);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

// ---- push button ----

class CButtonControl final : public CQtControl {
 public:
  CButtonControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    auto* button = new QPushButton(&w);
    // The default button is the window's to choose (the dialog's default id).
    button->setAutoDefault(true);
    if (s.style & STYLE_MULTILINE) m_pCaption = AddWrappingCaption(button, Qt::AlignCenter);
    QObject::connect(button, &QPushButton::clicked, button, [this] {
      if (InputDialog()) Send(Event::Click(m_Id));
    });
    m_pButton = button;
    SetWidget(button);
    if (m_pCaption) m_pCaption->setGeometry(button->rect().adjusted(3, 3, -3, -3));
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    const QString text = FromStd(s.text);
    if (m_pCaption) {
      m_pCaption->setText(text);
    } else {
      m_pButton->setText(text);
    }
    m_pButton->setDown(s.pressed);
  }

  QString ShownText() const override { return m_pCaption ? m_pCaption->text() : m_pButton->text(); }

 private:
  QPushButton* m_pButton = nullptr;
  QLabel* m_pCaption = nullptr;
};

// ---- check box ----

// A check box whose caption is a wrapping label: the whole control takes the click.
class CWrappingCheckBox final : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

class CCheckControl final : public CQtControl {
 public:
  CCheckControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    const bool wrap = (s.style & STYLE_MULTILINE) != 0;
    m_pBox = wrap ? new CWrappingCheckBox(&w) : new QCheckBox(&w);
    if (wrap) m_pCaption = AddWrappingCaption(m_pBox, Qt::AlignLeft | Qt::AlignVCenter);
    QObject::connect(m_pBox, &QCheckBox::clicked, m_pBox, [this](bool checked) {
      CDialog* dlg = InputDialog();
      if (!dlg) return;
      dlg->CheckDlgButton(m_Id, checked ? 1 : 0);
      Send(Event::Click(m_Id));
    });
    SetWidget(m_pBox);
    if (m_pCaption) {
      const int indicator = m_pBox->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, m_pBox) +
                            m_pBox->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, m_pBox);
      m_pCaption->setGeometry(m_pBox->rect().adjusted(indicator, 0, 0, 0));
    }
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    const QString text = FromStd(s.text);
    if (m_pCaption) {
      m_pCaption->setText(text);
    } else {
      m_pBox->setText(text);
    }
    m_pBox->setChecked(s.checked != 0);
  }

  QString ShownText() const override { return m_pCaption ? m_pCaption->text() : m_pBox->text(); }
  bool Checked() const { return m_pBox->isChecked(); }

 private:
  QCheckBox* m_pBox = nullptr;
  QLabel* m_pCaption = nullptr;
};

// ---- edit boxes ----

void StyleReadOnly(QWidget* w) {
  // Read-only boxes show the dialog's face, as on the original platform.
  QPalette p = w->palette();
  p.setColor(QPalette::Base, p.color(QPalette::Window));
  w->setPalette(p);
}

class CLineEditControl final : public CQtControl {
 public:
  CLineEditControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pEdit = new QLineEdit(&w);
    m_pEdit->setReadOnly((s.style & STYLE_READONLY) != 0);
    if (s.style & STYLE_READONLY) StyleReadOnly(m_pEdit);
    m_pEdit->setAlignment((s.style & STYLE_CENTRED) ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
    m_pEdit->setTextMargins(0, 0, 0, 0);
    // Typing changes the text without an event; leaving the box is the event.
    QObject::connect(m_pEdit, &QLineEdit::textEdited, m_pEdit, [this](const QString& text) {
      if (CDialog* dlg = InputDialog()) dlg->SetDlgItemText(m_Id, text.toStdString());
    });
    new CEventTap(m_pEdit, QEvent::FocusOut, [this] {
      if (InputDialog()) Send(Event::KillFocus(m_Id));
    });
    SetWidget(m_pEdit);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    const QString text = FromStd(s.text);
    if (m_pEdit->text() != text) {
      m_pEdit->setText(text);
      m_pEdit->setCursorPosition(0);
    }
  }

  QString ShownText() const override { return m_pEdit->text(); }

 private:
  QLineEdit* m_pEdit = nullptr;
};

class CTextEditControl final : public CQtControl {
 public:
  CTextEditControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pEdit = new QPlainTextEdit(&w);
    m_pEdit->setReadOnly((s.style & STYLE_READONLY) != 0);
    if (s.style & STYLE_READONLY) StyleReadOnly(m_pEdit);
    m_pEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pEdit->document()->setDocumentMargin(1);
    m_pEdit->setTabChangesFocus(true);
    QObject::connect(m_pEdit, &QPlainTextEdit::textChanged, m_pEdit, [this] {
      if (CDialog* dlg = InputDialog()) dlg->SetDlgItemText(m_Id, m_pEdit->toPlainText().toStdString());
    });
    new CEventTap(m_pEdit, QEvent::FocusOut, [this] {
      if (InputDialog()) Send(Event::KillFocus(m_Id));
    });
    SetWidget(m_pEdit);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    const QString text = FromStd(s.text);
    if (m_pEdit->toPlainText() != text) m_pEdit->setPlainText(text);
  }

  QString ShownText() const override { return m_pEdit->toPlainText(); }

 private:
  QPlainTextEdit* m_pEdit = nullptr;
};

// ---- static label, icon, group box, frame ----

class CStaticControl final : public CQtControl {
 public:
  CStaticControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pLabel = new QLabel(&w);
    m_pLabel->setTextFormat(Qt::PlainText);
    // Words wrap where the label has room for a second line; a one-line label keeps its
    // text on the line, where a font a little wider than the original's still fits.
    m_pLabel->setWordWrap(PixelRect(s.rectDu).height() >= 2 * m_pLabel->fontMetrics().height());
    m_pLabel->setAlignment(((s.style & STYLE_CENTRED) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    if (s.style & STYLE_SUNKEN) m_pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SetWidget(m_pLabel);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    m_pLabel->setText(FromStd(s.text));
  }

  QString ShownText() const override { return m_pLabel->text(); }

 private:
  QLabel* m_pLabel = nullptr;
};

class CIconControl final : public CQtControl {
 public:
  CIconControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    auto* label = new QLabel(&w);
    label->setPixmap(ApplicationIconPixmap(ICON_SIZE));
    SetWidget(label);
    // The control takes the icon's size, whatever the template says.
    label->resize(ICON_SIZE, ICON_SIZE);
  }
};

class CGroupControl final : public CQtControl {
 public:
  CGroupControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pBox = new QGroupBox(&w);
    // Controls inside the frame are the dialog's, drawn over it.
    m_pBox->setAttribute(Qt::WA_TransparentForMouseEvents);
    SetWidget(m_pBox);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    m_pBox->setTitle(FromStd(s.text));
  }

  QString ShownText() const override { return m_pBox->title(); }

 private:
  QGroupBox* m_pBox = nullptr;
};

class CFrameControl final : public CQtControl {
 public:
  CFrameControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    auto* frame = new QFrame(&w);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
    QPalette p = frame->palette();
    p.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    frame->setPalette(p);
    // Only the outline is drawn: what the dialog paints inside stays visible.
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    SetWidget(frame);
  }
};

// ---- list box ----

int NextTabStop(int x, const std::vector<int>& stopsPx) {
  for (int s : stopsPx) {
    if (s > x) return s;
  }
  // One stop sets an interval; past the last of several, the default interval goes on.
  const int step = stopsPx.size() == 1 ? stopsPx[0] : PixelRect(CRect{0, 0, DEFAULT_TAB_DU, 0}).width();
  return step > 0 ? (x / step + 1) * step : x;
}

class CTabbedLineDelegate final : public QStyledItemDelegate {
 public:
  explicit CTabbedLineDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

  std::vector<int> m_TabStopsPx;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(option.rect.width(), option.fontMetrics.height());
  }

  // Where each field of a line is drawn, in the item's coordinates.
  std::vector<QRect> FieldRects(const QRect& item, const QString& line, const QFontMetrics& fm) const {
    std::vector<QRect> rects;
    for (const TabField& f : LayoutTabbedLine(line, fm, m_TabStopsPx)) {
      rects.emplace_back(item.left() + LIST_TEXT_INDENT + f.x, item.top(), fm.horizontalAdvance(f.text), item.height());
    }
    return rects;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString line = opt.text;
    opt.text.clear();
    const QWidget* w = option.widget;
    QStyle* style = w ? w->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, w);
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const std::vector<TabField> fields = LayoutTabbedLine(line, opt.fontMetrics, m_TabStopsPx);
    const std::vector<QRect> rects = FieldRects(opt.rect, line, opt.fontMetrics);
    for (size_t i = 0; i < fields.size(); ++i) {
      painter->drawText(rects[i], Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, fields[i].text);
    }
    painter->restore();
  }
};

class CListControl final : public CQtControl {
 public:
  CListControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pList = new QListWidget(&w);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setUniformItemSizes(true);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pList->setVerticalScrollBarPolicy((s.style & STYLE_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_pDelegate = new CTabbedLineDelegate(m_pList);
    m_pList->setItemDelegate(m_pDelegate);
    QObject::connect(m_pList, &QListWidget::itemSelectionChanged, m_pList, [this] { OnSelectionChanged(); });
    QObject::connect(m_pList, &QListWidget::itemDoubleClicked, m_pList, [this](QListWidgetItem*) {
      if (InputDialog() && (m_Style & STYLE_NOTIFY)) Send(Event::DoubleClick(m_Id));
    });
    SetWidget(m_pList);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    if (s.tabStops != m_TabStopsDu) {
      m_TabStopsDu = s.tabStops;
      m_pDelegate->m_TabStopsPx.clear();
      for (int du : s.tabStops) m_pDelegate->m_TabStopsPx.push_back(PixelRect(CRect{0, 0, du, 0}).width());
      m_pList->viewport()->update();
    }
    if (s.lines != m_Lines) {
      m_Lines = s.lines;
      m_pList->clear();
      for (const std::string& line : s.lines) m_pList->addItem(FromStd(line));
    }
    if (SelectedRow() != s.curSel) {
      if (s.curSel < 0) {
        m_pList->clearSelection();
        m_pList->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
      } else {
        m_pList->setCurrentRow(s.curSel, QItemSelectionModel::ClearAndSelect);
      }
    }
  }

  void SyncLine(const ControlState& s, int index, bool added) override {
    const size_t at = static_cast<size_t>(index);
    if (index < 0 || at >= s.lines.size() || m_Lines.size() + (added ? 1 : 0) != s.lines.size()) {
      Sync(s);
      return;
    }
    const QString text = FromStd(s.lines[at]);
    if (added) {
      m_Lines.insert(m_Lines.begin() + index, s.lines[at]);
      m_pList->insertItem(index, text);
    } else {
      m_Lines[at] = s.lines[at];
      m_pList->item(index)->setText(text);
    }
  }

  int SelectedRow() const {
    const QList<QListWidgetItem*> items = m_pList->selectedItems();
    return items.isEmpty() ? -1 : m_pList->row(items.front());
  }

  std::vector<QRect> FieldRects(int row) const {
    QListWidgetItem* item = m_pList->item(row);
    if (!item) return {};
    const QRect r = m_pList->visualItemRect(item);
    std::vector<QRect> rects = m_pDelegate->FieldRects(r, item->text(), QFontMetrics(m_pList->font()));
    // To the dialog's client pixels.
    const QPoint origin = m_pList->viewport()->mapTo(m_pList->window(), QPoint(0, 0));
    for (QRect& f : rects) f.translate(origin);
    return rects;
  }

 private:
  void OnSelectionChanged() {
    CDialog* dlg = InputDialog();
    if (!dlg) return;
    const int row = SelectedRow();
    const int before = dlg->ListGetCurSel(m_Id);
    if (row < 0) {
      // A click beside the lines leaves the selection where it was.
      if (before >= 0) m_pList->setCurrentRow(before, QItemSelectionModel::ClearAndSelect);
      return;
    }
    if (row == before) return;
    dlg->ListSetCurSel(m_Id, row);
    if (m_Style & STYLE_NOTIFY) Send(Event::SelChange(m_Id));
  }

  QListWidget* m_pList = nullptr;
  CTabbedLineDelegate* m_pDelegate = nullptr;
  std::vector<std::string> m_Lines;
  std::vector<int> m_TabStopsDu;
};

// ---- track bar ----

// Scroll codes by slider action. The minimum is at the top, so "up" lowers the position.
int ScrollCodeOf(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return SB_LINEUP;
    case QAbstractSlider::SliderSingleStepAdd: return SB_LINEDOWN;
    case QAbstractSlider::SliderPageStepSub: return SB_PAGEUP;
    case QAbstractSlider::SliderPageStepAdd: return SB_PAGEDOWN;
    case QAbstractSlider::SliderToMinimum: return SB_TOP;
    case QAbstractSlider::SliderToMaximum: return SB_BOTTOM;
    default: return -1;
  }
}

class CTrackSlider final : public QSlider {
 public:
  using QSlider::QSlider;

  bool InWheel() const { return m_InWheel; }

  QRect ThumbRect() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
  }

 protected:
  void wheelEvent(QWheelEvent* e) override {
    m_InWheel = true;
    QSlider::wheelEvent(e);
    m_InWheel = false;
  }

 private:
  bool m_InWheel = false;
};

class CTrackControl final : public CQtControl {
 public:
  CTrackControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pSlider = new CTrackSlider(Qt::Vertical, &w);
    m_pSlider->setInvertedAppearance(true);
    m_pSlider->setInvertedControls(true);
    m_pSlider->setSingleStep(1);
    if (!(s.style & STYLE_NOTICKS)) {
      m_pSlider->setTickPosition(QSlider::TicksRight);
      m_pSlider->setTickInterval(1);
    }
    QObject::connect(m_pSlider, &QSlider::sliderMoved, m_pSlider, [this](int pos) {
      Report(SB_THUMBTRACK, pos);
    });
    QObject::connect(m_pSlider, &QSlider::sliderReleased, m_pSlider, [this] {
      const int pos = m_pSlider->sliderPosition();
      if (Report(SB_THUMBPOSITION, pos)) Report(SB_ENDSCROLL, pos);
    });
    QObject::connect(m_pSlider, &QSlider::actionTriggered, m_pSlider, [this](int action) {
      // The slider has moved its position already; its value follows after this signal.
      const int pos = m_pSlider->sliderPosition();
      const int code = action == QAbstractSlider::SliderMove ? MoveCode(pos) : ScrollCodeOf(action);
      if (code < 0) return;
      if (Report(code, pos)) Report(SB_ENDSCROLL, pos);
    });
    SetWidget(m_pSlider);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    if (m_pSlider->minimum() != s.rangeMin || m_pSlider->maximum() != s.rangeMax) {
      m_pSlider->setRange(s.rangeMin, s.rangeMax);
      m_pSlider->setPageStep(std::max(1, (s.rangeMax - s.rangeMin) / 5));
    }
    if (m_pSlider->value() != s.pos) m_pSlider->setValue(s.pos);
  }

  QRect ThumbRect() const { return m_pSlider->ThumbRect().translated(m_pSlider->pos()); }

 private:
  // A position set without a held thumb: the wheel steps by lines as the arrow keys do, a
  // click that places the thumb sets its position in one go. A held thumb reports through
  // sliderMoved; a move that changes nothing reports nothing.
  int MoveCode(int pos) const {
    const CDialog* dlg = InputDialog();
    if (!dlg || m_pSlider->isSliderDown() || pos == dlg->TrackGetPos(m_Id)) return -1;
    if (!m_pSlider->InWheel()) return SB_THUMBPOSITION;
    return pos < dlg->TrackGetPos(m_Id) ? SB_LINEUP : SB_LINEDOWN;
  }

  // The position first, then the event; false when the dialog no longer takes input.
  bool Report(int code, int pos) {
    CDialog* dlg = InputDialog();
    if (!dlg) return false;
    dlg->TrackSetPos(m_Id, pos);
    Send(Event::VScroll(m_Id, code, dlg->TrackGetPos(m_Id)));
    return true;
  }

  CTrackSlider* m_pSlider = nullptr;
};

// ---- picture ----

// Draws the dialog's grey picture by the framework's placement rule. The scaled image is
// made once per change, so repaints cost a copy.
class CPictureWidget final : public QWidget {
 public:
  explicit CPictureWidget(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

  void Show(const std::shared_ptr<const GreyPicture>& picture, bool oneToOne) {
    m_Image = QImage();
    m_Origin = QPoint();
    if (picture && picture->width > 0 && picture->height > 0 &&
        picture->pixels.size() >= static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height)) {
      const CRect place = PlacePicture(width(), height(), picture->width, picture->height, oneToOne);
      // Only the part inside the control is made.
      const int left = std::max(0, place.left), top = std::max(0, place.top);
      const int right = std::min(width(), place.right), bottom = std::min(height(), place.bottom);
      if (right > left && bottom > top) {
        m_Image = QImage(right - left, bottom - top, QImage::Format_Grayscale8);
        std::vector<int> columns(static_cast<size_t>(right - left));
        for (int x = left; x < right; ++x) {
          columns[static_cast<size_t>(x - left)] = PictureSource(x - place.left, place.Width(), picture->width);
        }
        for (int y = top; y < bottom; ++y) {
          const uint8_t* row = picture->pixels.data() + static_cast<size_t>(PictureSource(y - place.top, place.Height(),
                                                                                          picture->height)) *
                                                            static_cast<size_t>(picture->width);
          uchar* out = m_Image.scanLine(y - top);
          for (size_t i = 0; i < columns.size(); ++i) out[i] = row[columns[i]];
        }
        m_Origin = QPoint(left, top);
      }
    }
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!m_Image.isNull()) p.drawImage(m_Origin, m_Image);
  }

 private:
  QImage m_Image;
  QPoint m_Origin;
};

class CPictureControl final : public CQtControl {
 public:
  CPictureControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pPicture = new CPictureWidget(&w);
    SetWidget(m_pPicture);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    if (s.picture != m_Shown || s.oneToOne != m_OneToOne) {
      m_Shown = s.picture;
      m_OneToOne = s.oneToOne;
      m_pPicture->Show(m_Shown, m_OneToOne);
    }
  }

 private:
  CPictureWidget* m_pPicture = nullptr;
  std::shared_ptr<const GreyPicture> m_Shown;
  bool m_OneToOne = false;
};

// ---- progress bar ----

class CProgressControl final : public CQtControl {
 public:
  CProgressControl(CQtDialogWindow& w, const ControlState& s) : CQtControl(w, s) {
    m_pBar = new QProgressBar(&w);
    m_pBar->setTextVisible(false);
    SetWidget(m_pBar);
  }

  void Sync(const ControlState& s) override {
    CQtControl::Sync(s);
    if (m_pBar->minimum() != s.rangeMin || m_pBar->maximum() != s.rangeMax) m_pBar->setRange(s.rangeMin, s.rangeMax);
    m_pBar->setValue(s.pos);
  }

 private:
  QProgressBar* m_pBar = nullptr;
};

}  // namespace

QRect PixelRect(const CRect& du) {
  const int left = DialogUnitsToPixelsX(du.left);
  const int top = DialogUnitsToPixelsY(du.top);
  return QRect(left, top, DialogUnitsToPixelsX(du.right) - left, DialogUnitsToPixelsY(du.bottom) - top);
}

std::vector<TabField> LayoutTabbedLine(const QString& line, const QFontMetrics& fm,
                                       const std::vector<int>& tabStopsPx) {
  std::vector<TabField> fields;
  int x = 0;
  const QStringList parts = line.split(QLatin1Char('\t'));
  for (qsizetype i = 0; i < parts.size(); ++i) {
    if (i > 0) x = NextTabStop(x, tabStopsPx);
    fields.push_back(TabField{parts[i], x});
    x += fm.horizontalAdvance(parts[i]);
  }
  return fields;
}

std::vector<QRect> ListFieldRects(const CQtControl& c, int row) {
  const auto* list = dynamic_cast<const CListControl*>(&c);
  return list ? list->FieldRects(row) : std::vector<QRect>{};
}

QRect TrackThumbRect(const CQtControl& c) {
  const auto* track = dynamic_cast<const CTrackControl*>(&c);
  return track ? track->ThumbRect() : QRect();
}

CQtControl::CQtControl(CQtDialogWindow& window, const ControlState& state)
    : m_Window(window), m_Id(state.id), m_Style(state.style), m_RectDu(state.rectDu) {}

void CQtControl::SetWidget(QWidget* w) {
  m_pWidget = w;
  w->setGeometry(PixelRect(m_RectDu));
}

void CQtControl::Sync(const ControlState& s) {
  m_pWidget->setEnabled(s.enabled);
  m_pWidget->setHidden(!s.visible);
}

void CQtControl::SyncLine(const ControlState& s, int, bool) { Sync(s); }

CDialog* CQtControl::InputDialog() const { return m_Window.Syncing() ? nullptr : m_Window.InputDialog(); }

void CQtControl::Send(const Event& e) const { m_Window.Send(e); }

std::unique_ptr<CQtControl> CreateQtControl(CQtDialogWindow& window, const ControlState& s) {
  switch (s.kind) {
    case ControlKind::PushButton: return std::make_unique<CButtonControl>(window, s);
    case ControlKind::CheckBox: return std::make_unique<CCheckControl>(window, s);
    case ControlKind::Edit:
      if (s.style & STYLE_MULTILINE) return std::make_unique<CTextEditControl>(window, s);
      return std::make_unique<CLineEditControl>(window, s);
    case ControlKind::Static:
      if (s.style & STYLE_ICON) return std::make_unique<CIconControl>(window, s);
      return std::make_unique<CStaticControl>(window, s);
    case ControlKind::GroupBox: return std::make_unique<CGroupControl>(window, s);
    case ControlKind::GreyFrame: return std::make_unique<CFrameControl>(window, s);
    case ControlKind::ListBox: return std::make_unique<CListControl>(window, s);
    case ControlKind::TrackBar: return std::make_unique<CTrackControl>(window, s);
    case ControlKind::ProgressBar: return std::make_unique<CProgressControl>(window, s);
    case ControlKind::Picture: return std::make_unique<CPictureControl>(window, s);
  }
  return std::make_unique<CStaticControl>(window, s);
}

QIcon QtIcon(HICON icon) {
  if (!icon || icon->id != APPLICATION_ICON) return QIcon();
  QIcon drawn;
  for (int size : {16, 32}) drawn.addPixmap(ApplicationIconPixmap(size));
  return drawn;
}

QPixmap ApplicationIconPixmap(int size) {
  // A modulator face: a rounded panel carrying a grey phase ramp under a blue glass edge.
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF panel(1.5, 1.5, size - 3.0, size - 3.0);
  QPainterPath path;
  path.addRoundedRect(panel, size / 8.0, size / 8.0);
  QLinearGradient ramp(panel.topLeft(), panel.topRight());
  // Stripes of a blazed grating: each ramps dark to light.
  constexpr int STRIPES = 3;
  for (int i = 0; i < STRIPES; ++i) {
    const qreal a = static_cast<qreal>(i) / STRIPES;
    const qreal b = static_cast<qreal>(i + 1) / STRIPES;
    ramp.setColorAt(a, QColor(40, 40, 40));
    ramp.setColorAt(b - 0.001, QColor(235, 235, 235));
  }
  p.fillPath(path, ramp);
  p.setPen(QPen(QColor(30, 70, 140), size / 16.0));
  p.drawPath(path);
  return pixmap;
}
