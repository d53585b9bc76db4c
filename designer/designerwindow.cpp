#include "designer/designerwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <cstdio>
#include <map>

#include "baseqt/placement.h"
#include "designer/designcanvas.h"
#include "designer/propertypanel.h"
#include "rack/controls.h"

namespace nv::designer {

namespace {

const char* const kClassMime = "application/x-norvane-rack-class";

// A control's picture of itself, for the palette: the class drawn at its usual size with a
// little content, scaled into an icon.
QIcon classIcon(const std::string& cls) {
    QWidget holder;
    holder.setAttribute(Qt::WA_DontShowOnScreen);
    QPalette pal = holder.palette();
    pal.setColor(QPalette::Window, QColor(40, 40, 40));
    holder.setPalette(pal);
    holder.setAutoFillBackground(true);
    std::string error;
    auto c = rack::createControl(cls, "icon", &holder, error);
    if (!c) return {};
    // Wide controls are drawn short, so that the icon shows more than a line.
    static const std::map<std::string, std::pair<int, int>> squat = {
        {"TLabel", {34, 22}},    {"TEdit", {48, 26}},       {"TMemo", {56, 44}},
        {"TComboBox", {56, 26}}, {"TVrTrackBar", {64, 32}}, {"TVrCheckLed", {64, 28}},
        {"TVrMatrix", {64, 24}}, {"TVrDB", {64, 32}},       {"TVrProgressBar", {64, 24}},
        {"TVrNum", {64, 32}},    {"TLcd", {80, 40}},        {"TVrScope", {64, 48}},
        {"TVrSlider", {24, 64}},
    };
    Rect r = defaultSize(cls);
    if (auto it = squat.find(cls); it != squat.end()) {
        r.w = it->second.first;
        r.h = it->second.second;
    }
    holder.resize(r.w, r.h);
    c->widget->setGeometry(0, 0, r.w, r.h);
    if (cls == "TLabel" || cls == "TEdit" || cls == "TComboBox") rack::setControlText(*c, "Abc");
    if (cls == "TLabel") {
        QPalette lp = c->widget->palette();
        lp.setColor(QPalette::WindowText, Qt::white);
        c->widget->setPalette(lp);
        QFont f = c->widget->font();
        f.setPixelSize(16);
        f.setBold(true);
        c->widget->setFont(f);
    }
    if (cls == "TMemo") rack::setControlText(*c, "Lines\nof\ntext");
    if (cls == "TImage") {
        QImage img(r.w, r.h, QImage::Format_RGB32);
        img.fill(QColor(70, 110, 160));
        QPainter p(&img);
        p.setBrush(QColor(240, 200, 80));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(r.w * 2 / 3, r.h / 3), r.w / 7, r.w / 7);
        p.setBrush(QColor(60, 140, 70));
        const QPoint hill[] = {{0, r.h}, {r.w / 3, r.h / 2}, {r.w, r.h}};
        p.drawPolygon(hill, 3);
        p.end();
        if (auto* l = qobject_cast<QLabel*>(c->widget)) l->setPixmap(QPixmap::fromImage(img));
    }
    for (const char* n : {"Position", "Value"})
        if (c->widget->property(n).isValid()) c->widget->setProperty(n, 60);
    if (cls == "TVrLed" || cls == "TVrPowerButton") c->widget->setProperty("Active", true);
    if (cls == "TVrMatrix" || cls == "TLcd") c->widget->setProperty("Text", QByteArray("12.5"));
    const QPixmap shot = holder.grab(QRect(0, 0, r.w, r.h));
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize fit = shot.size().scaled(32, 32, Qt::KeepAspectRatio);
    p.drawPixmap(QRect(QPoint((32 - fit.width()) / 2, (32 - fit.height()) / 2), fit), shot);
    return QIcon(icon);
}

} // namespace

// The palette: one entry per class; a click arms placing, a drag carries the class name.
class Palette : public QListWidget {
  public:
    Palette() {
        setObjectName(QStringLiteral("palette"));
        setIconSize(QSize(32, 32));
        setDragEnabled(true);
        setDragDropMode(QAbstractItemView::DragOnly);
        for (const rack::ControlClass& c : rack::controlClasses()) {
            const QString name = QString::fromLatin1(c.name.data(), qsizetype(c.name.size()));
            auto* item = new QListWidgetItem(classIcon(std::string(c.name)), name, this);
            item->setData(Qt::UserRole, name);
            item->setToolTip(tr("Click, then click or drag on the rack; or drag onto the rack"));
        }
    }

  protected:
    QStringList mimeTypes() const override { return {QString::fromLatin1(kClassMime)}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        if (items.isEmpty()) return nullptr;
        auto* m = new QMimeData;
        m->setData(kClassMime, items.front()->data(Qt::UserRole).toString().toLatin1());
        return m;
    }
};

QListWidget& DesignerWindow::palette() {
    return *palette_;
}

DesignerWindow::DesignerWindow(QWidget* parent) : QMainWindow(parent) {
    // No object names on the designer's windows (the docks float as windows): a rack's root
    // name never has to give way to the designer.
    setObjectName(QString());
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(1100, 720);

    canvas_ = new DesignCanvas(model_);
    auto* scroll = new QScrollArea;
    scroll->setWidget(canvas_);
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setBackgroundRole(QPalette::Dark);
    setCentralWidget(scroll);
    // A click on the grey around the rack chooses nothing, as a click on the rack's own
    // empty space does.
    scroll->viewport()->installEventFilter(this);
    scroll->viewport()->setObjectName(QStringLiteral("aroundRack"));
    around_ = scroll->viewport();

    palette_ = new Palette;
    auto* paletteDock = new QDockWidget(tr("Controls"), this);
    paletteDock->setWidget(palette_);
    addDockWidget(Qt::LeftDockWidgetArea, paletteDock);

    objects_ = new QListWidget;
    objects_->setObjectName(QStringLiteral("objectList"));
    objects_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    objects_->setDragDropMode(QAbstractItemView::InternalMove);
    objects_->setToolTip(tr("The controls in rack order: a name finds the first control that has "
                            "it. Drag to change the order."));
    auto* objectsDock = new QDockWidget(tr("Objects (rack order)"), this);
    objectsDock->setWidget(objects_);
    addDockWidget(Qt::RightDockWidgetArea, objectsDock);

    props_ = new PropertyPanel(model_, *canvas_);
    auto* propsDock = new QDockWidget(tr("Properties"), this);
    propsDock->setWidget(props_);
    addDockWidget(Qt::RightDockWidgetArea, propsDock);
    resizeDocks({paletteDock}, {190}, Qt::Horizontal);
    resizeDocks({objectsDock, propsDock}, {280, 280}, Qt::Horizontal);
    resizeDocks({objectsDock, propsDock}, {200, 460}, Qt::Vertical);

    connect(palette_, &QListWidget::itemClicked, this, [this](QListWidgetItem* it) {
        canvas_->setPlacing(it->data(Qt::UserRole).toString());
        canvas_->layer()->setFocus();
        statusBar()->showMessage(tr("Click or drag on the rack to place a %1").arg(it->text()));
    });
    connect(canvas_, &DesignCanvas::placed, this, [this] {
        canvas_->layer()->setFocus(Qt::OtherFocusReason);
        palette_->clearSelection();
        statusBar()->clearMessage();
    });
    connect(canvas_, &DesignCanvas::selectionChanged, this, [this] {
        selectionToList();
        const auto& s = canvas_->selection();
        props_->showFor(s.empty() ? -1 : s.size() == 1 ? s.front() : -2);
    });
    connect(objects_, &QListWidget::itemSelectionChanged, this, [this] {
        if (syncingList_) return;
        std::vector<int> s;
        // Keep the order in which the canvas had them where it can.
        for (int i : canvas_->selection())
            if (objects_->item(i) && objects_->item(i)->isSelected()) s.push_back(i);
        for (int i = 0; i < objects_->count(); ++i)
            if (objects_->item(i)->isSelected() && std::find(s.begin(), s.end(), i) == s.end())
                s.push_back(i);
        canvas_->setSelection(s);
    });
    connect(objects_->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int start, int, const QModelIndex&, int row) {
                const int to = row > start ? row - 1 : row;
                QTimer::singleShot(0, this, [this, start, to] {
                    model_.reorder(start, to);
                    canvas_->setSelection({to});
                    refreshObjects();
                });
            });
    connect(&model_, &DesignModel::changed, this, [this] {
        refreshObjects();
        props_->refresh();
    });
    connect(&model_.undoStack(), &QUndoStack::cleanChanged, this, &DesignerWindow::updateTitle);

    buildActions();
    refreshObjects();
    updateTitle();

    // Test mode waits for the end of a running script.
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] {
        const bool running = scriptRunning && scriptRunning();
        testAction_->setEnabled(!running);
        if (running && canvas_->testMode()) setTestMode(false);
    });
    watch->start(400);
}

DesignerWindow::~DesignerWindow() = default;

void DesignerWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    fitWindowToScreen(this);
    if (shownOnce_) return;
    shownOnce_ = true;
    // Once framed, the real frame is known: fit again with it (a loaded desktop may frame
    // the window late, hence a second look).
    for (int ms : {300, 1200})
        QTimer::singleShot(ms, this, [this] {
            if (isVisible()) fitWindowToScreen(this);
        });
}

bool DesignerWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == around_ && e->type() == QEvent::MouseButtonPress && !canvas_->testMode()) {
        canvas_->setPlacing({});
        canvas_->setSelection({});
        canvas_->layer()->setFocus(Qt::MouseFocusReason);
    }
    return QMainWindow::eventFilter(watched, e);
}

void DesignerWindow::buildActions() {
    auto* tools = addToolBar(tr("Designer"));
    tools->setObjectName(QStringLiteral("designerTools"));
    auto add = [this](QMenu* m, const QString& text, QKeySequence key, auto fn) {
        QAction* a = m->addAction(text);
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, fn);
        return a;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    add(file, tr("New rack"), QKeySequence::New, [this] { newRack(); });
    add(file, tr("Open rack for editing..."), QKeySequence::Open, [this] { openRack({}); });
    add(file, tr("Save rack"), QKeySequence::Save, [this] { saveRack({}); });
    add(file, tr("Save rack as..."), QKeySequence::SaveAs, [this] { saveRackAs({}); });
    add(file, tr("Export as text..."), QKeySequence(), [this] { exportText(); });
    file->addSeparator();
    add(file, tr("Close"), QKeySequence::Close, [this] { close(); });

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    editMenu_ = edit;
    QAction* undo = undo_ = model_.undoStack().createUndoAction(this, tr("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = redo_ = model_.undoStack().createRedoAction(this, tr("Redo"));
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit->addActions({undo, redo});
    edit->addSeparator();
    add(edit, tr("Cut"), QKeySequence::Cut, [this] { cut(); });
    add(edit, tr("Copy"), QKeySequence::Copy, [this] { copy(); });
    add(edit, tr("Paste"), QKeySequence::Paste, [this] { paste(); });
    add(edit, tr("Delete"), QKeySequence::Delete, [this] { model_.remove(selected()); });
    add(edit, tr("Select all"), QKeySequence::SelectAll, [this] {
        std::vector<int> all;
        for (int i = 0; i < model_.count(); ++i)
            all.push_back(i);
        canvas_->setSelection(all);
    });
    add(edit, tr("Rack properties"), QKeySequence(), [this] { canvas_->setSelection({}); });

    QMenu* arrange = menuBar()->addMenu(tr("&Arrange"));
    arrangeMenu_ = arrange;
    const struct {
        QString text, brief;
        Align how;
    } aligns[] = {{tr("Align left"), tr("Left"), Align::Left},
                  {tr("Align right"), tr("Right"), Align::Right},
                  {tr("Align top"), tr("Top"), Align::Top},
                  {tr("Align bottom"), tr("Bottom"), Align::Bottom},
                  {tr("Align centres in a column"), tr("Column"), Align::CentreHorizontal},
                  {tr("Align centres in a row"), tr("Row"), Align::CentreVertical}};
    for (const auto& a : aligns) {
        QAction* act = add(arrange, a.text, QKeySequence(),
                           [this, how = a.how] { model_.align(selected(), how); });
        act->setIconText(a.brief);
        act->setToolTip(a.text + tr(" (to the control selected first)"));
        tools->addAction(act);
    }
    arrange->addSeparator();
    add(arrange, tr("Same width"), QKeySequence(),
        [this] { model_.sameSize(selected(), SameSize::Width); });
    add(arrange, tr("Same height"), QKeySequence(),
        [this] { model_.sameSize(selected(), SameSize::Height); });
    QAction* same = add(arrange, tr("Same size"), QKeySequence(),
                        [this] { model_.sameSize(selected(), SameSize::Both); });
    same->setToolTip(tr("Same size as the control selected first"));
    tools->addAction(same);
    arrange->addSeparator();
    QAction* spreadH = add(arrange, tr("Distribute horizontally"), QKeySequence(),
                           [this] { model_.distribute(selected(), Qt::Horizontal); });
    spreadH->setIconText(tr("Space across"));
    QAction* spreadV = add(arrange, tr("Distribute vertically"), QKeySequence(),
                           [this] { model_.distribute(selected(), Qt::Vertical); });
    spreadV->setIconText(tr("Space down"));
    tools->addActions({spreadH, spreadV});
    arrange->addSeparator();
    add(arrange, tr("Bring to front (last in rack order)"), QKeySequence(), [this] {
        const auto s = selected();
        if (s.size() != 1) return;
        model_.reorder(s.front(), model_.count() - 1);
        canvas_->setSelection({model_.count() - 1});
    });
    add(arrange, tr("Send to back (first in rack order)"), QKeySequence(), [this] {
        const auto s = selected();
        if (s.size() != 1) return;
        model_.reorder(s.front(), 0);
        canvas_->setSelection({0});
    });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* grid = view->addAction(tr("Show grid"));
    grid->setIconText(tr("Grid"));
    grid->setCheckable(true);
    grid->setChecked(true);
    connect(grid, &QAction::toggled, canvas_, &DesignCanvas::setGridShown);
    QAction* snap = view->addAction(tr("Snap to grid"));
    snap->setIconText(tr("Snap"));
    snap->setCheckable(true);
    snap->setChecked(true);
    connect(snap, &QAction::toggled, canvas_, &DesignCanvas::setSnapping);
    tools->addSeparator();
    tools->addAction(grid);
    tools->addAction(snap);
    gridSpin_ = new QSpinBox;
    gridSpin_->setObjectName(QStringLiteral("gridSize"));
    gridSpin_->setRange(2, 64);
    gridSpin_->setValue(canvas_->gridSize());
    gridSpin_->setSuffix(tr(" px"));
    gridSpin_->setToolTip(tr("Grid size"));
    connect(gridSpin_, &QSpinBox::valueChanged, canvas_, &DesignCanvas::setGridSize);
    tools->addWidget(gridSpin_);

    QMenu* test = menuBar()->addMenu(tr("&Test"));
    testAction_ = test->addAction(tr("Test mode"));
    testAction_->setObjectName(QStringLiteral("testMode"));
    testAction_->setCheckable(true);
    testAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    testAction_->setToolTip(tr("Make the controls live without leaving the designer"));
    connect(testAction_, &QAction::toggled, this, &DesignerWindow::setTestMode);
    tools->addSeparator();
    tools->addAction(testAction_);
}

void DesignerWindow::setTestMode(bool on) {
    if (on && scriptRunning && scriptRunning()) {
        statusBar()->showMessage(tr("Test mode waits until the script ends."), 4000);
        on = false;
    }
    canvas_->setTestMode(on);
    if (testAction_->isChecked() != on) testAction_->setChecked(on);
    palette_->setEnabled(!on);
    // The rack stays as it is while its controls are tried.
    for (QMenu* m : {editMenu_, arrangeMenu_})
        for (QAction* a : m->actions())
            if (a != undo_ && a != redo_) a->setEnabled(!on);
    undo_->setEnabled(!on && model_.undoStack().canUndo());
    redo_->setEnabled(!on && model_.undoStack().canRedo());
    props_->setEnabled(!on);
    objects_->setEnabled(!on);
    statusBar()->showMessage(on ? tr("Test mode: the controls are live.") : QString());
}

std::vector<int> DesignerWindow::selected() const {
    return canvas_->selection();
}

void DesignerWindow::refreshObjects() {
    syncingList_ = true;
    objects_->clear();
    for (int i = 0; i < model_.count(); ++i) {
        const auto& c = model_.control(i);
        auto* it = new QListWidgetItem(QStringLiteral("%1: %2").arg(
            QString::fromStdString(c.name), QString::fromStdString(c.className)));
        if (!DesignModel::nameWarning(c.name).empty()) {
            it->setForeground(QColor(0xc0, 0x60, 0x00));
            it->setToolTip(QString::fromStdString(DesignModel::nameWarning(c.name)));
        }
        objects_->addItem(it);
    }
    syncingList_ = false;
    selectionToList();
}

void DesignerWindow::selectionToList() {
    syncingList_ = true;
    objects_->clearSelection();
    for (int i : canvas_->selection())
        if (auto* it = objects_->item(i)) it->setSelected(true);
    if (!canvas_->selection().empty())
        if (auto* it = objects_->item(canvas_->selection().front())) objects_->scrollToItem(it);
    syncingList_ = false;
}

void DesignerWindow::updateTitle() {
    const std::string& p = model_.path();
    QString name = p.empty() ? tr("untitled.res") : QFileInfo(QString::fromStdString(p)).fileName();
    if (p.empty() && !source_.isEmpty()) name = tr("%1 (text: saved as a rack file)").arg(source_);
    setWindowTitle(tr("Rack designer - %1[*]").arg(name));
    setWindowModified(model_.modified());
}

void DesignerWindow::tell(const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, tr("Rack designer"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void DesignerWindow::whenMaySwitch(std::function<void()> then, std::function<void()> otherwise) {
    if (!model_.modified()) {
        then();
        return;
    }
    auto* box = new QMessageBox(
        QMessageBox::Question, tr("Rack designer"), tr("The rack has unsaved changes. Save them?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("unsavedQuestion"));
    box->setDefaultButton(QMessageBox::Save);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
            [this, box, then = std::move(then), otherwise = std::move(otherwise)] {
                const auto answer = box->standardButton(box->clickedButton());
                if (answer == QMessageBox::Save)
                    saveRack(then, otherwise);
                else if (answer == QMessageBox::Discard)
                    then();
                else if (otherwise)
                    otherwise();
            });
    box->open();
}

void DesignerWindow::newRack() {
    whenMaySwitch([this] {
        setTestMode(false);
        canvas_->setSelection({});
        model_.newRack();
        source_.clear();
        updateTitle();
    });
}

void DesignerWindow::openRack(const QString& given) {
    whenMaySwitch([this, given] {
        if (!given.isEmpty()) {
            load(given);
            return;
        }
        auto* d = new QFileDialog(this, tr("Open rack for editing"), {},
                                  tr("Rack files (*.res);;Rack text (*.txt);;All files (*)"));
        d->setFileMode(QFileDialog::ExistingFile);
        d->setAttribute(Qt::WA_DeleteOnClose);
        connect(d, &QFileDialog::fileSelected, this, [this](const QString& f) { load(f); });
        d->open();
    });
}

bool DesignerWindow::load(const QString& path) {
    setTestMode(false);
    canvas_->setSelection({});
    std::string error;
    if (!model_.open(path.toStdString(), error)) {
        tell(tr("Cannot open %1:\n%2").arg(path, QString::fromStdString(error)));
        return false;
    }
    source_ = QFileInfo(path).fileName();
    updateTitle();
    return true;
}

void DesignerWindow::saveRack(std::function<void()> then, std::function<void()> otherwise) {
    if (model_.path().empty()) {
        saveRackAs(std::move(then), std::move(otherwise));
        return;
    }
    if (saveTo(QString::fromStdString(model_.path())) && then) then();
}

void DesignerWindow::saveRackAs(std::function<void()> then, std::function<void()> otherwise) {
    auto* d =
        new QFileDialog(this, tr("Save rack as"), {}, tr("Rack files (*.res);;All files (*)"));
    d->setAcceptMode(QFileDialog::AcceptSave);
    d->setDefaultSuffix(QStringLiteral("res"));
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QFileDialog::fileSelected, this, [this, then = std::move(then)](const QString& f) {
        if (saveTo(f) && then) then();
    });
    if (otherwise) connect(d, &QFileDialog::rejected, this, otherwise);
    d->open();
}

bool DesignerWindow::saveTo(const QString& path) {
    std::string error;
    if (!model_.save(path.toStdString(), error)) {
        tell(tr("Cannot save %1:\n%2").arg(path, QString::fromStdString(error)));
        return false;
    }
    updateTitle();
    statusBar()->showMessage(tr("Saved %1").arg(path), 4000);
    return true;
}

void DesignerWindow::exportText() {
    auto* d =
        new QFileDialog(this, tr("Export as text"), {}, tr("Rack text (*.txt);;All files (*)"));
    d->setAcceptMode(QFileDialog::AcceptSave);
    d->setDefaultSuffix(QStringLiteral("txt"));
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QFileDialog::fileSelected, this, [this](const QString& f) { exportTo(f); });
    d->open();
}

bool DesignerWindow::exportTo(const QString& path) {
    std::string text;
    try {
        text = model_.text();
    } catch (const std::exception& e) {
        tell(QString::fromUtf8(e.what()));
        return false;
    }
    const std::string error = rack::saveFile(path.toStdString(), text);
    if (!error.empty()) {
        tell(tr("Cannot save %1:\n%2").arg(path, QString::fromStdString(error)));
        return false;
    }
    return true;
}

void DesignerWindow::copy() {
    if (selected().empty()) return;
    QApplication::clipboard()->setText(QString::fromStdString(model_.copyText(selected())));
}

void DesignerWindow::cut() {
    if (selected().empty()) return;
    copy();
    model_.remove(selected());
}

void DesignerWindow::paste() {
    const QString text = QApplication::clipboard()->text();
    std::string error;
    std::vector<int> added;
    if (!model_.paste(text.toUtf8().toStdString(), error, &added, canvas_->gridSize())) {
        statusBar()->showMessage(tr("Nothing to paste: %1").arg(QString::fromStdString(error)),
                                 5000);
        return;
    }
    canvas_->setSelection(added);
}

// The program ends without questions (on a signal): the main window says so by its
// "closeWithoutQuestions" property. A question now would hold the end for ever, since
// nobody is there to answer it.
bool DesignerWindow::programEnding() const {
    const QWidget* main = parentWidget();
    return main && main->property("closeWithoutQuestions").toBool();
}

void DesignerWindow::keepUnsaved() {
    std::string error;
    const std::string written = model_.writeRecovery(error);
    if (written.empty())
        std::fprintf(stderr, "Rack designer: the unsaved rack could not be kept: %s\n",
                     error.c_str());
    else
        std::fprintf(stderr, "Rack designer: the unsaved rack was written to %s\n",
                     written.c_str());
    std::fflush(stderr);
}

void DesignerWindow::closeEvent(QCloseEvent* e) {
    if (model_.modified() && !closing_ && programEnding()) {
        keepUnsaved();
    } else if (model_.modified() && !closing_) {
        // Asked without blocking: a script may be running on this thread.
        e->ignore();
        whenMaySwitch(
            [this] {
                closing_ = true;
                close();
                closing_ = false;
            },
            [this] { emit closeCancelled(); });
        return;
    }
    setTestMode(false);
    e->accept();
    emit closed();
}

namespace {

// Closing the main window (its frame, File > Quit, Ctrl+Q) first closes the designer, which
// asks about unsaved changes without blocking; while it asks, the main window stays open, so
// that nothing is lost unasked. Closes the program makes itself (ending on a signal, marked by
// the main window's "closeWithoutQuestions" property) are never held.
class CloseGuard : public QObject {
  public:
    CloseGuard(QObject* parent, std::shared_ptr<QPointer<DesignerWindow>> window)
        : QObject(parent), window_(std::move(window)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Close && !watched->property("closeWithoutQuestions").toBool() &&
            !window_->isNull() && (*window_)->isVisible() && !(*window_)->close()) {
            // Asked now; the main window closes once the designer has.
            auto* main = qobject_cast<QWidget*>(watched);
            disconnect(pending_);
            disconnect(kept_);
            pending_ = connect(
                *window_, &DesignerWindow::closed, main,
                [this, main] {
                    disconnect(kept_);
                    main->close();
                },
                Qt::SingleShotConnection);
            kept_ = connect(*window_, &DesignerWindow::closeCancelled, this, [this] {
                disconnect(pending_);
                disconnect(kept_);
            });
            e->ignore();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    std::shared_ptr<QPointer<DesignerWindow>> window_;
    QMetaObject::Connection pending_, kept_;
};

} // namespace

QMenu* createRackMenu(QWidget* mainWindow, std::function<bool()> scriptRunning) {
    auto* menu = new QMenu(QObject::tr("&Rack"), mainWindow);
    menu->menuAction()->setObjectName(QStringLiteral("rackMenu"));
    auto window = std::make_shared<QPointer<DesignerWindow>>();
    auto designer = [=]() -> DesignerWindow* {
        if (!*window) {
            *window = new DesignerWindow(mainWindow);
            (*window)->scriptRunning = scriptRunning;
        }
        return *window;
    };
    auto showing = [](DesignerWindow* w) {
        w->show();
        w->raise();
        w->activateWindow();
    };
    auto add = [&](const char* name, const QString& text, auto fn) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        QObject::connect(a, &QAction::triggered, menu, fn);
        return a;
    };
    add("newRackAction", QObject::tr("New rack"), [=] {
        DesignerWindow* w = designer();
        showing(w);
        w->newRack();
    });
    add("openRackAction", QObject::tr("Open rack for editing..."), [=] {
        DesignerWindow* w = designer();
        showing(w);
        w->openRack({});
    });
    QAction* save = add("saveRackAction", QObject::tr("Save rack"), [=] {
        if (*window) (*window)->saveRack({});
    });
    QAction* saveAs = add("saveRackAsAction", QObject::tr("Save rack as..."), [=] {
        if (*window) (*window)->saveRackAs({});
    });
    menu->addSeparator();
    QAction* text = add("exportRackTextAction", QObject::tr("Export as text..."), [=] {
        if (*window) (*window)->exportText();
    });
    mainWindow->installEventFilter(new CloseGuard(menu, window));
    QObject::connect(menu, &QMenu::aboutToShow, menu, [=] {
        for (QAction* a : {save, saveAs, text})
            a->setEnabled(!window->isNull());
    });
    return menu;
}

} // namespace nv::designer
