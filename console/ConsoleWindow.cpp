#include "ConsoleWindow.h"

#include "ClassroomKeyWindow.h"
#include "Console.h"
#include "GroupTile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cstdio>
#include <set>

#include <QResizeEvent>
#include <algorithm>

ConsoleWindow::ConsoleWindow(Console* console, QWidget* parent) : QMainWindow(parent), console_(console)
{
    setWindowTitle("Tavlo console");
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);
    auto* bar = new QHBoxLayout;
    auto* teacherAll = new QPushButton("Teacher to all", central);
    auto* stopAll = new QPushButton("Stop all", central);
    auto* keyButton = new QPushButton("Classroom key…", central);
    keyButton->setToolTip("The public key that terminals trust, its fingerprint, export and import");
    status_ = new QLabel("Waiting for groups to announce themselves", central);
    // A long result is cut at the window's edge (whole in the tooltip)
    // rather than widening the window.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(teacherAll);
    bar->addWidget(stopAll);
    bar->addWidget(status_, 1);
    bar->addWidget(keyButton);
    v->addLayout(bar);

    scroll_ = new QScrollArea(central);
    scroll_->setWidgetResizable(true);
    auto* holder = new QWidget(scroll_);
    grid_ = new QGridLayout(holder);
    grid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll_->setWidget(holder);
    v->addWidget(scroll_, 1);
    setCentralWidget(central);
    resize(1240, 760);

    connect(teacherAll, &QPushButton::clicked, this, [this] { report(console_->showToAll(0)); });
    connect(stopAll, &QPushButton::clicked, this, [this] { report(console_->stopAll()); });
    connect(keyButton, &QPushButton::clicked, this, [this] {
        ClassroomKeyWindow window(console_, this);
        window.exec();
    });
    connect(console_, &Console::changed, this, &ConsoleWindow::refresh);
    connect(console_, &Console::commandDone, this, [this](const QString& result) {
        status_->setText(result);
        status_->setToolTip(result);
    });
    // Pictures come about once a second from each puller; a quarter-second
    // look keeps the tiles within that.
    connect(&thumbTimer_, &QTimer::timeout, this, &ConsoleWindow::refreshThumbnails);
    thumbTimer_.start(250);
}

void ConsoleWindow::refreshThumbnails()
{
    for (auto it = tiles_.begin(); it != tiles_.end(); ++it) {
        const ThumbnailPuller::State s = console_->thumbnail(it.key());
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
            tiles_.insert(key, t);
        }
        t->setRow(r, groups);
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
}
