// The watch window (`WatchWindow`) of debug mode, which shows the running script's variables
// as name=value lines before each stepped line, and the about box (`AboutBox`).
//
// The watch window exists for the whole life of the program: hidden at start, shown at the
// remembered watch position by `debugon`, hidden by `debugoff`; closing it only hides it and
// reports where it stood so that the next `debugon` shows it there again. Its text stays as
// last set; the end of a run neither clears nor hides it.
//
// Threading: user-interface thread. Errors: none; the text is bytes and every byte is shown
// (UTF-8 where valid, Latin-1 otherwise).
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string_view>

class QPlainTextEdit;
class QLabel;

namespace nv {

class WatchWindow : public QWidget {
    Q_OBJECT
  public:
    explicit WatchWindow(QWidget* parent = nullptr);

    void showAt(QPoint topLeft);
    void setWatchText(std::string_view bytes);
    QString text() const;

    // Called with the window's place whenever it is closed or hidden by `debugoff`.
    std::function<void(QPoint)> positionChanged;

  protected:
    void hideEvent(QHideEvent* e) override;

  private:
    QPlainTextEdit* memo_;
};

class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);
    // The product and version line, set each time the box is shown.
    QString productLine() const;

  protected:
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    QLabel* product_;
};

} // namespace nv
