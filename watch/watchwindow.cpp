#include "watch/watchwindow.h"

#include "baseqt/displaytext.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

namespace nv {

WatchWindow::WatchWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool), memo_(new QPlainTextEdit(this)), note_(new QLabel(this)) {
    setObjectName(QStringLiteral("TFrmWatch"));
    setWindowTitle(QStringLiteral("Watch"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    memo_->setObjectName(QStringLiteral("Memo1"));
    // Read-only while the script runs: an edit would be overwritten at the next step.
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memo_->installEventFilter(this);
    note_->setObjectName(QStringLiteral("WatchNote"));
    note_->setWordWrap(true);
    note_->setContentsMargins(3, 2, 3, 2);
    note_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(memo_, 1);
    layout->addWidget(note_);
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

QString WatchWindow::note() const {
    return note_->isVisible() || !note_->text().isEmpty() ? note_->text() : QString();
}

void WatchWindow::setEditable(bool editable, const QString& reason) {
    editable_ = editable;
    reason_ = reason;
    memo_->setReadOnly(!editable);
    if (editable) {
        note_->setText(QStringLiteral("Change a value and press Enter."));
        note_->show();
    } else {
        note_->clear();
        note_->hide();
    }
}

void WatchWindow::commitLine() {
    const int lineNo = memo_->textCursor().blockNumber();
    const QString line = memo_->textCursor().block().text();
    QString answer;
    const int eq = line.indexOf(QLatin1Char('='));
    const QString name = eq < 0 ? QString() : line.left(eq).trimmed();
    if (!editable_)
        answer = reason_;
    else if (eq < 0 || name.isEmpty())
        answer = QStringLiteral("Write the line as name=value.");
    else if (changeVariable)
        answer = changeVariable(encodeText(name, TextEncoding::Utf8),
                                encodeText(line.mid(eq + 1), TextEncoding::Utf8));
    note_->setText(answer.isEmpty() ? QStringLiteral("%1 changed.").arg(name) : answer);
    note_->show();
    // The store's text came back: the caret goes back to the line that was edited.
    QTextCursor c(memo_->document()->findBlockByNumber(
        std::min(lineNo, memo_->document()->blockCount() - 1)));
    c.movePosition(QTextCursor::EndOfBlock);
    memo_->setTextCursor(c);
}

bool WatchWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == memo_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            commitLine();
            return true;
        }
        // Typing while the run goes on: say why nothing changes.
        if (!editable_ && !k->text().isEmpty() && k->text().at(0).isPrint()) {
            note_->setText(reason_);
            note_->show();
        }
    }
    return QWidget::eventFilter(watched, e);
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
