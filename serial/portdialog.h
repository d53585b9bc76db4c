// PortDialog, the port settings dialog: the user of a running script picks a free serial port
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

class QCheckBox;
class QComboBox;
class QPushButton;

namespace nv::serial {

struct PortChoice {
    std::string port, baud, dataBits, parity, stopBits;
    bool reconnect = false; // open the port again when its lost device comes back
};

class PortDialog : public QDialog {
  public:
    // `freePorts` lists the ports that can be opened now: (lower-case name, device path).
    using PortLister = std::function<std::vector<std::pair<std::string, std::string>>()>;
    // `reconnectDefault` gives a port's reconnect setting from the settings (the check box
    // shows it when that port is picked); none: off.
    using ReconnectDefault = std::function<bool(const std::string& port)>;
    explicit PortDialog(PortLister freePorts, QWidget* parent = nullptr,
                        ReconnectDefault reconnectDefault = {});

    // Shows the dialog modally; true with the choices when it was closed with Ok.
    bool choose(PortChoice& out);

    QComboBox* portBox;     // port
    QComboBox* baudBox;     // baud rate
    QComboBox* dataBitsBox; // data bits
    QComboBox* parityBox;   // parity
    QComboBox* stopBitsBox; // stop bits
    QCheckBox* reconnectBox; // reconnect when the device comes back
    QPushButton* okButton;

    // The port list as shown (fillPortList); public so that a test can fill it without showing.
    void fillPortList();

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    PortLister freePorts_;
};

} // namespace nv::serial
