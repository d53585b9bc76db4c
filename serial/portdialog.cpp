#include "serial/portdialog.h"

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

struct BoxSpec {
    const char* label;
    QStringList choices;
    const char* initial;
};

} // namespace

TFrmSet::TFrmSet(PortLister freePorts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      freePorts_(std::move(freePorts)) {
    setWindowTitle("Port settings");
    setFixedSize(178, 210);
    setModal(true);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(6);

    const BoxSpec specs[] = {
        {"Serial port :", {}, ""},
        {"Baudrate :",
         {"110", "300", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600",
          "115200"},
         "9600"},
        {"Databits :", {"8", "7"}, "8"},
        {"Parity :", {"none", "even", "odd", "mark", "space"}, "none"},
        {"Stopbits :", {"1", "1.5", "2"}, "1"},
    };
    QComboBox** boxes[] = {&ComboBox1, &ComboBox2, &ComboBox3, &ComboBox4, &ComboBox5};
    for (int i = 0; i < 5; ++i) {
        auto* box = new QComboBox(panel);
        box->setObjectName(QString("ComboBox%1").arg(i + 1));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(specs[i].choices);
        box->setCurrentText(specs[i].initial);
        grid->addWidget(new QLabel(specs[i].label, panel), i, 0);
        grid->addWidget(box, i, 1);
        *boxes[i] = box;
    }

    // The port list shows each port's device path beside its name; the box itself keeps the
    // name alone, which is what the script receives.
    auto* model = new QStandardItemModel(0, 2, ComboBox1);
    ComboBox1->setModel(model);
    auto* view = new QTreeView(ComboBox1);
    view->setRootIsDecorated(false);
    view->setHeaderHidden(true);
    view->setAllColumnsShowFocus(true);
    ComboBox1->setView(view);
    ComboBox1->setModelColumn(0);

    Button1 = new QPushButton("Ok", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(panel);
    outer->addWidget(Button1, 0, Qt::AlignHCenter);
}

void TFrmSet::FormShow() {
    auto* model = static_cast<QStandardItemModel*>(ComboBox1->model());
    model->removeRows(0, model->rowCount());
    for (const auto& [name, path] : freePorts_()) {
        model->appendRow({new QStandardItem(QString::fromStdString(name)),
                          new QStandardItem(QString::fromLocal8Bit(path.c_str()))});
    }
    if (auto* view = qobject_cast<QTreeView*>(ComboBox1->view())) {
        view->resizeColumnToContents(0);
        view->resizeColumnToContents(1);
        view->setMinimumWidth(view->columnWidth(0) + view->columnWidth(1) + 24);
    }
    ComboBox1->setCurrentIndex(model->rowCount() > 0 ? 0 : -1);
    if (model->rowCount() == 0) ComboBox1->setEditText(QString());
}

void TFrmSet::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

bool TFrmSet::choose(PortChoice& out) {
    if (exec() != QDialog::Accepted) return false;
    const auto text = [](QComboBox* b) { return b->currentText().toStdString(); };
    out = {text(ComboBox1), text(ComboBox2), text(ComboBox3), text(ComboBox4), text(ComboBox5)};
    return true;
}

} // namespace nv::serial
