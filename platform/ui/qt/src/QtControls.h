#pragma once
// One widget per control of a dialog template. A control mirrors its ControlState into
// its widget (Sync) and turns what a person does to the widget into the dialog's state
// change followed by the dialog's event.

#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

#include "ui/Dialog.h"

class QIcon;
class QPixmap;
class QWidget;
class CQtDialogWindow;

// Client pixels of a rectangle in dialog units: each edge by the fixed rule.
QRect PixelRect(const CRect& du);

// A tab-separated list line laid out at tab stops (pixels from the text origin).
struct TabField {
  QString text;
  int x = 0;  // from the text origin
};
std::vector<TabField> LayoutTabbedLine(const QString& line, const QFontMetrics& fm,
                                       const std::vector<int>& tabStopsPx);

class CQtControl {
 public:
  CQtControl(CQtDialogWindow& window, const ControlState& state);
  virtual ~CQtControl() = default;
  CQtControl(const CQtControl&) = delete;
  CQtControl& operator=(const CQtControl&) = delete;

  int Id() const { return m_Id; }
  QWidget* Widget() const { return m_pWidget; }

  // Shows the state; never raises events.
  virtual void Sync(const ControlState& s);
  // Shows a list line that was added (or replaced) while the rest stayed as it was.
  virtual void SyncLine(const ControlState& s, int index, bool added);
  // The text the widget shows to a person.
  virtual QString ShownText() const { return {}; }

 protected:
  void SetWidget(QWidget* w);
  // The window while it can take input from this control, else nullptr.
  CDialog* InputDialog() const;
  void Send(const Event& e) const;

  CQtDialogWindow& m_Window;
  const int m_Id;
  const uint32_t m_Style;
  const CRect m_RectDu;

 private:
  QWidget* m_pWidget = nullptr;
};

std::unique_ptr<CQtControl> CreateQtControl(CQtDialogWindow& window, const ControlState& state);

// Where each field of a list line is drawn, in the dialog's client pixels (empty for
// anything but a list box).
std::vector<QRect> ListFieldRects(const CQtControl& c, int row);
// Where a track bar draws its thumb, in client pixels (empty for anything else).
QRect TrackThumbRect(const CQtControl& c);

// The application icon, drawn rather than shipped.
QPixmap ApplicationIconPixmap(int size);
// A program icon as the window system takes it: the application icon or none.
QIcon QtIcon(HICON icon);
