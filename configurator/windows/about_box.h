// The about box: a component that holds what the box shows, and the window that shows it.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <optional>
#include <string>

#include "configurator/about_info.h"

namespace platform {
class MessageService;
}

namespace configurator::windows {

class TShell;

class TAboutBox {
 public:
  TAboutBox();

  std::string AppName;
  std::string Copyright;
  std::string Url;
  std::string Warning;
  const QImage& Picture() const { return picture_; }
  // Keeps a copy of picture.
  void SetPicture(const QImage& picture) { picture_ = picture.copy(); }

  // Shows the box modally.
  void Execute(QWidget* parent, TShell& shell, platform::MessageService& boxes,
               const std::optional<TFileVersion>& version = ProgramFileVersion());

 private:
  QImage picture_;
};

class TAboutWnd : public QDialog {
 public:
  TAboutWnd(QWidget* parent, const TAboutBox& box, TShell& shell, platform::MessageService& boxes,
            const std::optional<TFileVersion>& version);

  QFrame* bvlOuter;
  QLabel* imgApp;
  QLabel* lblAppName;
  QLabel* lblVersionInfo;
  QLabel* lblVersion;
  QLabel* lblCopyright;
  QLabel* lblUrl;
  QFrame* bvlSep;
  QLabel* lblWarning;
  QPushButton* btnSysInfo;
  QPushButton* btnOk;

 private:
  void SysInfoClick();
  void UrlClick();

  TShell& shell_;
  platform::MessageService& boxes_;
};

}  // namespace configurator::windows
