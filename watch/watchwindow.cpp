#include "watch/watchwindow.h"

#include "baseqt/displaytext.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace nv {

WatchWindow::WatchWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool), memo_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("TFrmWatch"));
    setWindowTitle(QStringLiteral("Watch"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    memo_->setObjectName(QStringLiteral("Memo1"));
    // Edits here would be overwritten at the next step and never reach the script.
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo_);
    resize(212, 348);
}

void WatchWindow::showAt(QPoint topLeft) {
    move(topLeft);
    show();
    raise();
}

void WatchWindow::setWatchText(std::string_view bytes) {
    memo_->clear();
    memo_->setPlainText(displayText(bytes));
}

QString WatchWindow::text() const {
    return memo_->toPlainText();
}

void WatchWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (positionChanged && !e->spontaneous()) positionChanged(pos());
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog), product_(new QLabel(this)) {
    setObjectName(QStringLiteral("TFrmAbout"));
    setModal(true);
    setFixedSize(254, 90);

    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    product_->setFont(big);
    product_->setStyleSheet(QStringLiteral("color: white;"));
    auto* built = new QLabel(QStringLiteral("Built %1").arg(QStringLiteral(__DATE__)), this);
    built->setStyleSheet(QStringLiteral("color: #eaffea;"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("CloseButton"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(product_);
    text->addWidget(built);
    text->addStretch();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 12, 10);
    row->addLayout(text, 1);
    row->addWidget(close, 0, Qt::AlignBottom);
}

QString AboutBox::productLine() const {
    return product_->text();
}

void AboutBox::showEvent(QShowEvent* e) {
    product_->setText(QStringLiteral("Norvane 2.0"));
    QDialog::showEvent(e);
}

void AboutBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(46, 160, 67));
    g.setColorAt(1, QColor(16, 92, 38));
    p.fillRect(rect(), g);
    p.setPen(QColor(10, 60, 24));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace nv
