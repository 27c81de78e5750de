#include "ConsoleWindow.h"

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

namespace {
const int COLUMNS = 5;
}

ConsoleWindow::ConsoleWindow(Console* console, QWidget* parent) : QMainWindow(parent), console_(console)
{
    setWindowTitle("Tavlo console");
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);
    auto* bar = new QHBoxLayout;
    auto* teacherAll = new QPushButton("Teacher to all", central);
    auto* stopAll = new QPushButton("Stop all", central);
    status_ = new QLabel("Waiting for groups to announce themselves", central);
    bar->addWidget(teacherAll);
    bar->addWidget(stopAll);
    bar->addWidget(status_, 1);
    v->addLayout(bar);

    auto* scroll = new QScrollArea(central);
    scroll->setWidgetResizable(true);
    auto* holder = new QWidget(scroll);
    grid_ = new QGridLayout(holder);
    grid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll->setWidget(holder);
    v->addWidget(scroll, 1);
    setCentralWidget(central);
    resize(1320, 760);

    connect(teacherAll, &QPushButton::clicked, this, [this] { report(console_->showToAll(0)); });
    connect(stopAll, &QPushButton::clicked, this, [this] { report(console_->stopAll()); });
    connect(console_, &Console::changed, this, &ConsoleWindow::refresh);
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

void ConsoleWindow::report(const QString& result)
{
    status_->setText(result);
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

    // Tiles in the table's order; the tiles of forgotten pairs go.
    while (grid_->count() > 0)
        grid_->takeAt(0);
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
        grid_->addWidget(t, i / COLUMNS, i % COLUMNS);
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
