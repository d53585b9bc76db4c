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

    // While the run waits (paused, or stopped before a line) the variables can be edited: a
    // line changed to name=value and ended with Enter is handed to changeVariable, which
    // returns why it was refused or an empty text. `reason` tells why no edit is possible now.
    void setEditable(bool editable, const QString& reason);
    bool editable() const { return editable_; }
    std::function<QString(const std::string& name, const std::string& value)> changeVariable;
    // Ends the edit of the caret's line as Enter does.
    void commitLine();
    // The last answer shown under the variables (a refusal, or what was changed).
    QString note() const;

    // Called with the window's place whenever it is closed or hidden by `debugoff`.
    std::function<void(QPoint)> positionChanged;

  protected:
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    QPlainTextEdit* memo_;
    QLabel* note_;
    bool editable_ = false;
    QString reason_;
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
