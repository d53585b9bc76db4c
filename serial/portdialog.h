// TFrmSet, the port settings dialog: the user of a running script picks a free serial port
// (each shown with its device path) and its baud rate, data bits, parity and stop bits. Ok
// hands the five texts back; closing the dialog by its frame hands back nothing. The lists
// are editable, so any typed text comes back as typed; the last line settings stay for the
// next showing, the port list is refilled each time.
//
// Threading: user-interface thread. Error policy: none; the texts are checked where they are
// used.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QPushButton;

namespace nv::serial {

struct PortChoice {
    std::string port, baud, dataBits, parity, stopBits;
};

class TFrmSet : public QDialog {
  public:
    // `freePorts` lists the ports that can be opened now: (lower-case name, device path).
    using PortLister = std::function<std::vector<std::pair<std::string, std::string>>()>;
    explicit TFrmSet(PortLister freePorts, QWidget* parent = nullptr);

    // Shows the dialog modally; true with the choices when it was closed with Ok.
    bool choose(PortChoice& out);

    QComboBox* ComboBox1; // port
    QComboBox* ComboBox2; // baud rate
    QComboBox* ComboBox3; // data bits
    QComboBox* ComboBox4; // parity
    QComboBox* ComboBox5; // stop bits
    QPushButton* Button1;

    // The port list as shown (FormShow); public so that a test can fill it without showing.
    void FormShow();

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    PortLister freePorts_;
};

} // namespace nv::serial
