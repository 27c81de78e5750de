#include "ConsoleWindow.h"

#include "Classroom.h"
#include "ClassroomKeyWindow.h"
#include "Console.h"
#include "GroupNames.h"
#include "GroupTile.h"
#include "LookCloserWindow.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

ConsoleWindow::ConsoleWindow(Console* console, QWidget* parent) : QMainWindow(parent), console_(console)
{
    setWindowTitle(tr("Tavlo console"));
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);

    // Commands for every group.
    auto* bar = new QHBoxLayout;
    auto* teacherAll = new QPushButton(tr("Teacher to all"), central);
    teacherAll->setToolTip(tr("Show the teacher's screen on every group"));
    auto* stopAll = new QPushButton(tr("Stop all"), central);
    stopAll->setToolTip(tr("Stop showing on every group"));
    auto* lockAll = new QPushButton(tr("Lock all"), central);
    lockAll->setToolTip(tr("Cover every group's screen with a card and take its keyboard and mouse"));
    auto* unlockAll = new QPushButton(tr("Unlock all"), central);
    unlockAll->setToolTip(tr("Give every group its desktop back"));
    lockText_ = new QLineEdit(central);
    lockText_->setMaxLength(Classroom::LOCK_TEXT_MAX);
    lockText_->setPlaceholderText(QString::fromUtf8(Classroom::LOCK_TEXT_DEFAULT));
    lockText_->setToolTip(tr("What a locked screen says (empty: \"%1\")")
                              .arg(QString::fromUtf8(Classroom::LOCK_TEXT_DEFAULT)));
    lockText_->setMaximumWidth(220);
    auto* keyButton = new QPushButton(tr("Classroom key…"), central);
    keyButton->setToolTip(tr("The public key that terminals trust, its fingerprint, export and import"));
    bar->addWidget(teacherAll);
    bar->addWidget(stopAll);
    bar->addWidget(lockAll);
    bar->addWidget(unlockAll);
    bar->addWidget(new QLabel(tr("Lock card:"), central));
    bar->addWidget(lockText_);
    bar->addStretch(1);
    bar->addWidget(keyButton);
    v->addLayout(bar);

    // Commands for the selected groups.
    auto* sel = new QHBoxLayout;
    selectionLabel_ = new QLabel(central);
    auto* selTeacher = new QPushButton(tr("Show the teacher"), central);
    selectionSource_ = new QComboBox(central);
    selectionSource_->setToolTip(tr("Show a group's screen on the selected groups"));
    auto* selStop = new QPushButton(tr("Stop"), central);
    auto* selLock = new QPushButton(tr("Lock"), central);
    auto* selUnlock = new QPushButton(tr("Unlock"), central);
    auto* selClear = new QPushButton(tr("Clear selection"), central);
    selTeacher->setToolTip(tr("Show the teacher's screen on the selected groups"));
    selStop->setToolTip(tr("Stop showing on the selected groups"));
    selLock->setToolTip(tr("Lock the selected groups"));
    selUnlock->setToolTip(tr("Unlock the selected groups"));
    sel->addWidget(selectionLabel_);
    for (QWidget* w : std::initializer_list<QWidget*>{selTeacher, selectionSource_, selStop, selLock, selUnlock,
                                                      selClear}) {
        sel->addWidget(w);
        selectionControls_.push_back(w);
    }
    sel->addStretch(1);
    v->addLayout(sel);

    status_ = new QLabel(tr("Waiting for groups to announce themselves"), central);
    // A long result is cut at the window's edge (whole in the tooltip)
    // rather than widening the window.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    v->addWidget(status_);

    scroll_ = new QScrollArea(central);
    scroll_->setWidgetResizable(true);
    auto* holder = new QWidget(scroll_);
    grid_ = new QGridLayout(holder);
    grid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll_->setWidget(holder);
    v->addWidget(scroll_, 1);
    setCentralWidget(central);
    resize(1240, 760);

    // One action per command, with its key; the buttons trigger them.
    auto action = [this](QPushButton* button, const QKeySequence& key, auto&& run) {
        auto* a = new QAction(button->text(), this);
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        connect(a, &QAction::triggered, this, run);
        connect(button, &QPushButton::clicked, a, &QAction::trigger);
        button->setToolTip(QString("%1 (%2)").arg(button->toolTip().isEmpty() ? button->text() : button->toolTip(),
                                                  key.toString(QKeySequence::NativeText)));
        return a;
    };
    action(teacherAll, QKeySequence("Ctrl+Shift+T"), [this] { report(console_->showToAll(0)); });
    action(stopAll, QKeySequence("Ctrl+Shift+S"), [this] {
        if (confirm(tr("Stop showing on every group?"), tr("Stop all")))
            report(console_->stopAll());
    });
    action(lockAll, QKeySequence("Ctrl+Shift+L"), [this] {
        if (confirm(tr("Lock every group's screen? The students cannot use their computers until you unlock them."),
                    tr("Lock all")))
            report(console_->lock({}, lockText()));
    });
    action(unlockAll, QKeySequence("Ctrl+Shift+U"), [this] { report(console_->unlock({})); });
    // The selection's commands do nothing without a selection.
    auto onSelection = [this](auto&& run) {
        return [this, run] {
            if (!selected_.empty())
                run();
        };
    };
    action(selTeacher, QKeySequence("Ctrl+T"),
           onSelection([this] { report(console_->showToGroups(selection(), 0)); }));
    action(selStop, QKeySequence("Ctrl+E"), onSelection([this] { report(console_->stopGroups(selection())); }));
    action(selLock, QKeySequence("Ctrl+L"), onSelection([this] { report(console_->lock(selection(), lockText())); }));
    action(selUnlock, QKeySequence("Ctrl+U"), onSelection([this] { report(console_->unlock(selection())); }));
    action(selClear, QKeySequence(Qt::Key_Escape), [this] { clearSelection(); });
    auto* selectAll = new QAction(tr("Select all"), this);
    selectAll->setShortcut(QKeySequence::SelectAll);
    addAction(selectAll);
    connect(selectAll, &QAction::triggered, this, [this] {
        for (const GroupRow& r : console_->rows())
            if (!r.gone)
                selected_.insert(r.group);
        refreshSelection();
    });
    connect(selectionSource_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const QVariant g = selectionSource_->itemData(index);
        if (g.isValid())
            report(console_->showToGroups(selection(), g.toInt()));
        selectionSource_->setCurrentIndex(0);
    });
    connect(keyButton, &QPushButton::clicked, this, [this] {
        ClassroomKeyWindow window(console_, this);
        window.exec();
    });
    connect(console_, &Console::changed, this, &ConsoleWindow::refresh);
    connect(console_, &Console::commandDone, this, [this](const QString&, const QString& summary) {
        status_->setText(summary);
        status_->setToolTip(summary);
    });
    connect(console_, &Console::teacherAboutToShow, this, &ConsoleWindow::stepAside);
    // Pictures come about once a second from each puller; a quarter-second
    // look keeps the tiles within that.
    connect(&thumbTimer_, &QTimer::timeout, this, &ConsoleWindow::refreshThumbnails);
    thumbTimer_.start(250);
    refreshSelection();
}

QString ConsoleWindow::lockText() const
{
    return lockText_->text().trimmed();
}

void ConsoleWindow::stepAside()
{
    // The class is about to see this desktop: the console goes first.
    for (const QPointer<LookCloserWindow>& look : looks_)
        if (look)
            look->showMinimized();
    showMinimized();
}

bool ConsoleWindow::confirm(const QString& question, const QString& action)
{
    QMessageBox box(QMessageBox::Question, windowTitle(), question, QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(action, QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

void ConsoleWindow::askName(int group)
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Name group %1").arg(group),
                                               tr("Name of group %1 (empty: no name):").arg(group), QLineEdit::Normal,
                                               console_->name(group), &ok);
    if (ok)
        report(console_->setName(group, name));
}

void ConsoleWindow::refreshThumbnails()
{
    for (auto it = tiles_.begin(); it != tiles_.end(); ++it) {
        const StreamPuller::State s = console_->thumbnail(it.key());
        // -1: an error is shown; the count of the picture otherwise.
        const qint64 shown = s.error.isEmpty() ? s.pictures : -1;
        if (shownPictures_.value(it.key(), -2) == shown && shown >= 0)
            continue;
        it.value()->setThumbnail(s.picture, s.error);
        shownPictures_[it.key()] = shown;
    }
}

void ConsoleWindow::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    refresh();
}

// A button's command: its result (already in the status line) as a
// diagnostic line.
void ConsoleWindow::report(const QString& result)
{
    std::printf("%s\n", qPrintable(result));
    std::fflush(stdout);
}

LookCloserWindow* ConsoleWindow::lookCloser(int group) const
{
    return looks_.value(group);
}

LookCloserWindow* ConsoleWindow::openLookCloser(int group)
{
    if (LookCloserWindow* open = looks_.value(group)) {
        open->showNormal();
        open->raise();
        open->activateWindow();
        return open;
    }
    const std::optional<GroupRow> r = console_->table().current(group, console_->now());
    if (!r)
        return nullptr;
    auto* look = new LookCloserWindow(console_, group, r->address, r->livePort, this);
    look->setName(console_->name(group));
    connect(look, &LookCloserWindow::commandDone, this, &ConsoleWindow::report);
    looks_[group] = look;
    look->show();
    std::printf("closer look at group %d: %s\n", group, qPrintable(look->url()));
    std::fflush(stdout);
    return look;
}

void ConsoleWindow::onTileClicked(int group, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ShiftModifier) {
        // From the last tile clicked to this one, in the window's order.
        std::vector<int> order;
        for (const GroupRow& r : console_->rows())
            if (!r.gone && (order.empty() || order.back() != r.group))
                order.push_back(r.group);
        const auto to = std::find(order.begin(), order.end(), group);
        auto from = std::find(order.begin(), order.end(), anchor_);
        if (from == order.end())
            from = to;
        if (to != order.end())
            for (auto it = std::min(from, to); it <= std::max(from, to); ++it)
                selected_.insert(*it);
        anchor_ = group;
        refreshSelection();
    } else if (modifiers & Qt::ControlModifier) {
        setSelected(group, selected_.count(group) == 0);
        anchor_ = group;
    } else {
        anchor_ = group;
        openLookCloser(group);
    }
}

void ConsoleWindow::setSelected(int group, bool selected)
{
    if (selected)
        selected_.insert(group);
    else
        selected_.erase(group);
    refreshSelection();
}

void ConsoleWindow::clearSelection()
{
    selected_.clear();
    refreshSelection();
}

void ConsoleWindow::refreshSelection()
{
    // Only present groups stay selected.
    std::vector<int> present;
    for (const GroupRow& r : console_->rows())
        if (!r.gone)
            present.push_back(r.group);
    for (auto it = selected_.begin(); it != selected_.end();)
        it = std::find(present.begin(), present.end(), *it) == present.end() ? selected_.erase(it) : std::next(it);
    for (GroupTile* t : tiles_)
        t->setSelected(selected_.count(t->group()) > 0 && std::find(present.begin(), present.end(), t->group()) !=
                                                                 present.end());
    QStringList names;
    for (int g : selected_)
        names << QString::number(g);
    selectionLabel_->setText(selected_.empty() ? tr("No group selected (Ctrl+click or \"Select\" on a tile)")
                                               : tr("Selected: group %1").arg(names.join(", ")));
    for (QWidget* w : selectionControls_)
        w->setEnabled(!selected_.empty());
    // The groups whose screen can be shown on the selection.
    std::vector<int> sources;
    for (int g : present)
        if (sources.empty() || sources.back() != g)
            sources.push_back(g);
    bool same = selectionSource_->count() == static_cast<int>(sources.size()) + 1;
    for (size_t i = 0; same && i < sources.size(); ++i)
        same = selectionSource_->itemData(static_cast<int>(i) + 1).toInt() == sources[i];
    if (same)
        return;  // rebuilt only when they change, so an open menu stays
    selectionSource_->clear();
    selectionSource_->addItem(tr("Show group…"));
    for (int g : sources)
        selectionSource_->addItem(tr("Show group %1").arg(g), g);
}

QString ConsoleWindow::describeTiles() const
{
    QStringList out;
    for (const GroupRow& r : console_->rows()) {
        const GroupTile* t = tiles_.value(Console::key(r.group, r.address), nullptr);
        if (!t)
            continue;
        const QRect p = t->pictureRect();
        out << QString("tile %1 %2 %3 %4 %5%6")
                   .arg(r.group)
                   .arg(p.x())
                   .arg(p.y())
                   .arg(p.width())
                   .arg(p.height())
                   .arg(t->selected() ? " selected" : "");
    }
    out << "end";
    return out.join('\n');
}

void ConsoleWindow::refresh()
{
    const std::vector<GroupRow> rows = console_->rows();
    std::vector<int> groups;
    for (const GroupRow& r : rows)
        if (!r.gone && (groups.empty() || groups.back() != r.group))
            groups.push_back(r.group);

    // As many tiles a row as the width takes.
    const int tileWidth = (tiles_.isEmpty() ? Console::THUMB_W + 40 : tiles_.first()->sizeHint().width()) +
                          std::max(0, grid_->horizontalSpacing());
    const int margins = grid_->contentsMargins().left() + grid_->contentsMargins().right();
    const int columns = std::max(1, (scroll_->viewport()->width() - margins) / tileWidth);

    // Tiles in the table's order; the tiles of forgotten pairs go.
    while (grid_->count() > 0)
        delete grid_->takeAt(0);
    std::set<QString> keep;
    int i = 0;
    for (const GroupRow& r : rows) {
        const QString key = Console::key(r.group, r.address);
        keep.insert(key);
        GroupTile* t = tiles_.value(key, nullptr);
        if (!t) {
            t = new GroupTile(console_, grid_->parentWidget());
            connect(t, &GroupTile::commandDone, this, &ConsoleWindow::report);
            // Queued: what they open runs after the tile's own handler.
            connect(t, &GroupTile::clicked, this, &ConsoleWindow::onTileClicked, Qt::QueuedConnection);
            connect(t, &GroupTile::nameRequested, this, &ConsoleWindow::askName, Qt::QueuedConnection);
            connect(t, &GroupTile::selectToggled, this, [this](int group, bool on) {
                setSelected(group, on);
                anchor_ = group;
            });
            connect(t, &GroupTile::lockRequested, this,
                    [this](int group) { report(console_->lock({group}, lockText())); });
            tiles_.insert(key, t);
        }
        t->setRow(r, console_->name(r.group), groups);
        grid_->addWidget(t, i / columns, i % columns);
        t->show();
        ++i;
    }
    for (auto it = tiles_.begin(); it != tiles_.end();) {
        if (keep.count(it.key()) == 0) {
            shownPictures_.remove(it.key());
            delete it.value();
            it = tiles_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = looks_.begin(); it != looks_.end();) {
        if (!it.value()) {
            it = looks_.erase(it);
            continue;
        }
        it.value()->setName(console_->name(it.key()));
        ++it;
    }
    refreshSelection();
}
