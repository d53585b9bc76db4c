#include "serial/portdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace nv::serial {

namespace {

struct BoxSetup {
    const char* label;
    QStringList choices;
    const char* initial;
};

} // namespace

PortDialog::PortDialog(PortLister freePorts, QWidget* parent, ReconnectDefault reconnectDefault)
    // A title and a close button only: the dialog has one size, so a maximise or minimise
    // button would only mislead.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      freePorts_(std::move(freePorts)) {
    // The window name the rack's root-name rule compares against.
    setObjectName("TFrmSet");
    setWindowTitle("Port settings");
    setModal(true);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(6);

    const BoxSetup setups[] = {
        {"Serial port :", {}, ""},
        {"Baudrate :",
         {"110", "300", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600",
          "115200"},
         "9600"},
        {"Databits :", {"8", "7"}, "8"},
        {"Parity :", {"none", "even", "odd", "mark", "space"}, "none"},
        {"Stopbits :", {"1", "1.5", "2"}, "1"},
    };
    QComboBox** boxes[] = {&portBox, &baudBox, &dataBitsBox, &parityBox, &stopBitsBox};
    for (int i = 0; i < 5; ++i) {
        auto* box = new QComboBox(panel);
        box->setObjectName(QString("ComboBox%1").arg(i + 1));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(setups[i].choices);
        box->setCurrentText(setups[i].initial);
        grid->addWidget(new QLabel(setups[i].label, panel), i, 0);
        grid->addWidget(box, i, 1);
        *boxes[i] = box;
    }

    // The port list shows each port's device path beside its name; the box itself keeps the
    // name alone, which is what the script receives.
    auto* model = new QStandardItemModel(0, 2, portBox);
    portBox->setModel(model);
    auto* view = new QTreeView(portBox);
    view->setRootIsDecorated(false);
    view->setHeaderHidden(true);
    view->setAllColumnsShowFocus(true);
    portBox->setView(view);
    portBox->setModelColumn(0);

    reconnectBox = new QCheckBox("Reconnect when the device comes back", panel);
    reconnectBox->setObjectName("CheckBox1");
    grid->addWidget(reconnectBox, 5, 0, 1, 2);
    if (reconnectDefault) {
        connect(portBox, &QComboBox::currentTextChanged, this,
                [this, reconnectDefault](const QString& port) {
                    reconnectBox->setChecked(reconnectDefault(port.toStdString()));
                });
    }

    okButton = new QPushButton("Ok", this);
    okButton->setObjectName("Button1");
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(panel);
    outer->addWidget(okButton, 0, Qt::AlignHCenter);
    // 230 x 210 is wide enough for the window manager to show the whole title next to its
    // buttons; the dialog grows past it only as far as its captions need (the reconnect
    // check box's text is wider), so none is cut.
    setFixedSize(QSize(230, 210).expandedTo(sizeHint()));
}

void PortDialog::fillPortList() {
    auto* model = static_cast<QStandardItemModel*>(portBox->model());
    model->removeRows(0, model->rowCount());
    for (const auto& [name, path] : freePorts_()) {
        model->appendRow({new QStandardItem(QString::fromStdString(name)),
                          new QStandardItem(QString::fromLocal8Bit(path.c_str()))});
    }
    if (auto* view = qobject_cast<QTreeView*>(portBox->view())) {
        view->resizeColumnToContents(0);
        view->resizeColumnToContents(1);
        view->setMinimumWidth(view->columnWidth(0) + view->columnWidth(1) + 24);
    }
    portBox->setCurrentIndex(model->rowCount() > 0 ? 0 : -1);
    if (model->rowCount() == 0) portBox->setEditText(QString());
}

void PortDialog::showEvent(QShowEvent* e) {
    fillPortList();
    QDialog::showEvent(e);
}

bool PortDialog::choose(PortChoice& out) {
    if (exec() != QDialog::Accepted) return false;
    const auto text = [](QComboBox* b) { return b->currentText().toStdString(); };
    out = {text(portBox),   text(baudBox),     text(dataBitsBox),
           text(parityBox), text(stopBitsBox), reconnectBox->isChecked()};
    return true;
}

} // namespace nv::serial
