#include "configurator/windows/about_box.h"

#include <QMouseEvent>

#include "configurator/windows/controls.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/shell.h"
#include "platform/message_service.h"
#include "platform/text_format.h"

namespace configurator::windows {

namespace {

// Runs a function when the watched label is clicked.
class ClickFilter : public QObject {
 public:
  ClickFilter(QObject* parent, std::function<void()> onClick) : QObject(parent), on_click_(std::move(onClick)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      on_click_();
      return true;
    }
    return false;
  }

 private:
  std::function<void()> on_click_;
};

}  // namespace

TAboutBox::TAboutBox()
    : Copyright("Copyright \xA9 ____________"),
      Url("http://www.example.com/"),
      Warning("This program is protected by copyright. Whoever copies or passes on this program or parts of it "
              "without permission will be prosecuted.") {}

void TAboutBox::Execute(QWidget* parent, TShell& shell, platform::MessageService& boxes,
                        const std::optional<TFileVersion>& version) {
  TAboutWnd wnd(parent, *this, shell, boxes, version);
  wnd.exec();
}

TAboutWnd::TAboutWnd(QWidget* parent, const TAboutBox& box, TShell& shell, platform::MessageService& boxes,
                     const std::optional<TFileVersion>& version)
    : QDialog(parent), shell_(shell), boxes_(boxes) {
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  const QImage& picture = box.Picture();
  const TAboutLayout l =
      AboutLayout(picture.isNull() ? std::nullopt : std::optional(std::pair{picture.width(), picture.height()}));
  setFixedSize(l.Width, l.Height);
  setWindowTitle(Q(platform::FormatText("About %s \xAE", {box.AppName})));

  bvlOuter = new QFrame(this);
  bvlOuter->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bvlOuter->setGeometry(8, 8, l.ImageWidth + 2, l.ImageHeight + 2);
  bvlOuter->setVisible(l.FrameShown);
  imgApp = new QLabel(this);
  imgApp->setAlignment(Qt::AlignCenter);
  imgApp->setGeometry(9, 9, l.ImageWidth, l.ImageHeight);
  if (!picture.isNull()) imgApp->setPixmap(QPixmap::fromImage(picture));

  const int x = l.FrameShown ? 8 + l.ImageWidth + 2 + 8 : 8;
  const int textWidth = l.Width - x - 8;
  lblAppName = NewLabel(this, platform::FormatText("%s \xAE", {box.AppName}), {x, 8, textWidth, 20});
  QFont bold = lblAppName->font();
  bold.setBold(true);
  lblAppName->setFont(bold);
  lblVersionInfo = NewLabel(this, "Version:", {x, 32, 54, 17});
  lblVersion = NewLabel(this, ProgramVersionText(version), {x + 56, 32, textWidth - 56, 17});
  lblVersion->setFont(bold);
  lblVersionInfo->setVisible(!lblVersion->text().isEmpty());
  lblCopyright = NewLabel(this, box.Copyright, {x, 52, textWidth, 28});
  lblCopyright->setWordWrap(true);
  lblUrl = NewLabel(this, box.Url, {x, 84, textWidth, 17});
  lblUrl->setToolTip(Q(box.Url));
  lblUrl->setCursor(Qt::PointingHandCursor);
  QPalette blue = lblUrl->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  lblUrl->setPalette(blue);
  lblUrl->installEventFilter(new ClickFilter(lblUrl, [this] { UrlClick(); }));

  const int below = l.Height - 321 + 200;  // the top part's height
  bvlSep = new QFrame(this);
  bvlSep->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  bvlSep->setGeometry(8, 8 + below + 8, l.Width - 16, 2);
  lblWarning = NewLabel(this, box.Warning, {8, 8 + below + 16, l.Width - 16, 56});
  lblWarning->setWordWrap(true);
  QFont small(QStringLiteral("Arial"));
  small.setPixelSize(9);
  lblWarning->setFont(small);

  btnSysInfo = new QPushButton(QStringLiteral("System Info..."), this);
  btnSysInfo->setGeometry(8, l.Height - 34, 100, 26);
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setGeometry(l.Width - 88, l.Height - 34, 80, 26);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, [this] { accept(); });
  connect(btnSysInfo, &QPushButton::clicked, this, [this] { SysInfoClick(); });
  CentreOnScreen(this);
}

void TAboutWnd::SysInfoClick() {
  if (!shell_.Open("MSInfo32.EXE"))
    boxes_.Show(platform::MessageKind::Error, "Could not execute system information!", platform::MessageButtons::Ok);
}

void TAboutWnd::UrlClick() {
  platform::WaitCursor wait(boxes_);
  shell_.Open(Cp(lblUrl->toolTip()));  // a failure here is not reported
}

}  // namespace configurator::windows
