#include "ui/QtHost.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QTextBrowser>
#include <QUrl>
#include <QWhatsThis>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "QtDialogWindow.h"
#include "QtHostPrivate.h"
#include "ui/Host.h"
#include "ui/Signals.h"

namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// The window a dialog opened by owner belongs to: the owner's, else the topmost modal one.
QWidget* ParentFor(const CDialog* owner) {
  if (owner) {
    if (CQtDialogWindow* w = CQtDialogWindow::Of(*owner); w && w->isVisible()) return w;
  }
  return QApplication::activeModalWidget();
}

class CQtHost final : public IHost {
 public:
  ~CQtHost() override {
    delete m_HelpWindow.data();
    delete m_NoHelpBox.data();
  }

  int RunModal(CDialog& dlg) override {
    if (CQtDialogWindow::Of(dlg)) {
      std::fprintf(stderr, "ui: dialog %d is already shown\n", dlg.TemplateId());
      return -1;
    }
    CDialog* parent = dlg.GetParent();
    CQtDialogWindow* parentWindow = parent ? CQtDialogWindow::Of(*parent) : nullptr;
    QPointer<CQtDialogWindow> window =
        new CQtDialogWindow(dlg, parentWindow ? parentWindow : QApplication::activeModalWidget());
    const int result = window->RunModal();
    if (window) window->TakeDown();
    delete window.data();
    return result;
  }

  bool CreateModeless(CDialog& dlg) override {
    if (CQtDialogWindow::Of(dlg)) return false;
    // A window of the modal dialog it belongs to, so that dialog's modality leaves it usable.
    CDialog* parent = dlg.GetParent();
    CQtDialogWindow* parentWindow = parent ? CQtDialogWindow::Of(*parent) : nullptr;
    QWidget* owner = parentWindow ? parentWindow : QApplication::activeModalWidget();
    auto* window = new CQtDialogWindow(dlg, owner);
    window->ShowModeless();
    PlaceBeside(window, owner);
    return true;
  }

  void DestroyModeless(CDialog& dlg) override {
    CQtDialogWindow* window = CQtDialogWindow::Of(dlg);
    if (!window) return;
    window->TakeDown();
    // The dialog may be asking from inside one of the window's own handlers: the window
    // lets go of it now and goes itself once the event loop is back.
    dlg.AttachView(nullptr);
    window->DialogDestroyed();
  }

  int MessageBox(CDialog* owner, const std::string& text, const std::string& caption, MessageIcon icon) override {
    const QMessageBox::Icon qicon = icon == MessageIcon::None ? QMessageBox::NoIcon : QMessageBox::Critical;
    QMessageBox box(qicon, FromStd(caption), FromStd(text), QMessageBox::Ok, ParentFor(owner));
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return IDOK;
  }

  std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& r) override {
    QFileDialog fd(ParentFor(owner), FromStd(r.title), FromStd(r.initialFolder));
    fd.setOption(QFileDialog::DontUseNativeDialog);
    // Only the descriptions show, as the program wrote them; the patterns work behind.
    fd.setOption(QFileDialog::HideNameFilterDetails);
    fd.setAcceptMode(r.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // The program takes one path back, so one file is chosen even where it allows more.
    fd.setFileMode(r.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& [description, patterns] : r.filters) filters << QtNameFilter(description, patterns);
    if (!filters.isEmpty()) fd.setNameFilters(filters);
    QString suffix = FromStd(r.defaultExtension);
    while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    fd.setDefaultSuffix(suffix);
    if (!r.initialFileName.empty()) fd.selectFile(FromStd(r.initialFileName));
    if (fd.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = fd.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    // The framework's FileDialog() holds the answer to the caller's buffer.
    return chosen.front().toStdString();
  }

  void WinHelp(CDialog* owner, unsigned command, unsigned data) override {
    switch (command) {
      case HELP_CONTEXTPOPUP:
        if (!ShowGuide(owner, data)) {
          QWhatsThis::showText(QCursor::pos(), QStringLiteral("No help topic is associated with this item."),
                               ParentFor(owner));
        }
        break;
      case HELP_FINDER:
        if (!ShowGuide(owner, 0)) ShowNoHelp();
        break;
      case HELP_QUIT:
        if (m_HelpWindow) m_HelpWindow->close();
        if (m_NoHelpBox) m_NoHelpBox->close();
        break;
      default:
        break;
    }
  }

  // A window that stays open beside its owner goes to the owner's right where the screen has
  // room, else to the screen's right edge, so it covers as little of the owner as it can.
  // The owner may not show yet (a dialog opening it from its initialisation): it has its
  // place already, only not its frame, which the gap leaves room for.
  static void PlaceBeside(QWidget* window, QWidget* owner) {
    constexpr int GAP = 12;
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!owner || !screen) return;
    const QRect area = screen->availableGeometry();
    const QRect o = owner->frameGeometry();
    const QRect w = window->frameGeometry();
    int x = o.right() + GAP;
    if (x + w.width() > area.right() + 1) x = std::max(area.left(), area.right() + 1 - w.width());
    const int y = std::clamp(o.top(), area.top(), std::max(area.top(), area.bottom() + 1 - w.height()));
    window->move(x, y);
  }

  // The operator's guide in its window, at the part about a control (contextId) when the
  // guide has one, else at its start; false when no guide is installed.
  bool ShowGuide(CDialog* owner, unsigned contextId) {
    const QString file = FromStd(HelpFile());
    QFile guide(file);
    if (file.isEmpty() || !guide.open(QIODevice::ReadOnly)) return false;
    const QString anchor = contextId != 0 ? FromStd(HelpAnchor(contextId)) : QString();
    const bool hasPart = !anchor.isEmpty() && guide.readAll().contains(("name=\"" + anchor + "\"").toUtf8());
    if (!m_HelpWindow) {
      m_HelpWindow = new QTextBrowser;
      m_HelpWindow->setObjectName(QString::fromLatin1(HELP_WINDOW_NAME));
      m_HelpWindow->setWindowTitle(FromStd(ApplicationTitle() + " Help"));
      m_HelpWindow->setAttribute(Qt::WA_DeleteOnClose);
      m_HelpWindow->setOpenExternalLinks(true);
      m_HelpWindow->resize(720, 620);
    }
    // Held by the window that asked, so that window's modality leaves the guide usable.
    QWidget* parent = ParentFor(owner);
    if (m_HelpWindow->parentWidget() != parent) {
      const bool shown = m_HelpWindow->isVisible();
      m_HelpWindow->setParent(parent, Qt::Window);
      if (shown) m_HelpWindow->show();
    }
    QUrl url = QUrl::fromLocalFile(file);
    if (hasPart) url.setFragment(anchor);
    m_HelpWindow->setSource(url);
    if (hasPart) m_HelpWindow->scrollToAnchor(anchor);
    m_HelpWindow->show();
    m_HelpWindow->raise();
    m_HelpWindow->activateWindow();
    return true;
  }

  void ShowNoHelp() {
    if (!m_NoHelpBox) {
      m_NoHelpBox = new QMessageBox(QMessageBox::Information, FromStd(ApplicationTitle() + " Help"),
                                    QStringLiteral("No help file is installed with this copy of ") +
                                        FromStd(ApplicationTitle()) + QLatin1Char('.'),
                                    QMessageBox::Close);
      m_NoHelpBox->setObjectName(QString::fromLatin1(HELP_WINDOW_NAME));
      m_NoHelpBox->setWindowModality(Qt::NonModal);
      m_NoHelpBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_NoHelpBox->show();
    m_NoHelpBox->raise();
  }

  [[noreturn]] void ExitProcess(int status) override {
    // The program ends from inside its handlers, often inside modal loops, with the
    // application object on the stack and other threads (the board's) still running.
    // Exit handlers and static destructors would take Qt and the libraries apart under
    // them (an open help window crashed that way), so buffered output is written and the
    // process ends at once; the window system takes its windows with it.
    std::fflush(nullptr);
    _exit(status);
  }

  void Post(std::function<void()> work, unsigned delayMs) override {
    // Queued to the application object, whose thread is the user-interface thread; the timer
    // for a delay is made there too.
    QMetaObject::invokeMethod(
        qApp,
        [work = std::move(work), delayMs]() mutable {
          if (delayMs == 0) {
            work();
          } else {
            QTimer::singleShot(static_cast<int>(delayMs), qApp, std::move(work));
          }
        },
        Qt::QueuedConnection);
  }

 private:
  QPointer<QTextBrowser> m_HelpWindow;
  QPointer<QMessageBox> m_NoHelpBox;
};

}  // namespace

QString QtNameFilter(const std::string& description, const std::string& patterns) {
  // "*.a;*.b" -> "*.[aA] *.[bB]": names match in any case, as they did where the files
  // come from.
  QStringList globs;
  for (const QString& p : FromStd(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    QString glob;
    for (QChar c : p.trimmed()) {
      if (c.isLetter() && c.toLower() != c.toUpper()) {
        glob += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
      } else {
        glob += c;
      }
    }
    if (!glob.isEmpty()) globs << glob;
  }
  if (globs.isEmpty()) globs << QStringLiteral("*");
  return FromStd(description) + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) + QLatin1Char(')');
}

int RunWithQtHost(int argc, char** argv, const std::function<int()>& body) {
  // One image byte must be one screen pixel, and fonts sized as the dialog-unit rule assumes.
  if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) qputenv("QT_FONT_DPI", "96");
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette = QApplication::style()->standardPalette();
  const QColor face(GetRValue(COLOR_DIALOG_BACKGROUND), GetGValue(COLOR_DIALOG_BACKGROUND),
                    GetBValue(COLOR_DIALOG_BACKGROUND));
  palette.setColor(QPalette::Window, face);
  palette.setColor(QPalette::Button, face);
  QApplication::setPalette(palette);
  QApplication::setWindowIcon(QtIcon(LoadIcon(APPLICATION_ICON)));
  QApplication::setApplicationName(FromStd(ApplicationTitle()));
  // Dialogs end the program by returning from body, never by closing their last window.
  QApplication::setQuitOnLastWindowClosed(false);

  // Termination signals reach the program from whichever event loop runs, modal ones too.
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (const int fd = TerminationSignalFd(); fd >= 0) {
    signalNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [] { DeliverPendingTerminationSignal(); });
  }

  SetHost(std::make_unique<CQtHost>());
  // Nothing may reach the windows once the application object is gone, however body ends.
  struct HostReset {
    ~HostReset() { SetHost(nullptr); }
  } reset;
  return body();
}
