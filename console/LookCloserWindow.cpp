#include "LookCloserWindow.h"

#include "Classroom.h"
#include "Console.h"
#include "GroupTile.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// A look a frame interval apart keeps up with a 30 frames/s stream.
const int REFRESH_MS = 33;
}  // namespace

LookCloserWindow::LookCloserWindow(Console* console, int group, const QHostAddress& address, int livePort,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window), console_(console), group_(group)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setName(QString());
    auto* v = new QVBoxLayout(this);
    picture_ = new QLabel(this);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMinimumSize(320, 180);
    picture_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture_->setStyleSheet("background: black; color: #c0c0c0;");
    picture_->setText(tr("connecting"));
    v->addWidget(picture_, 1);
    auto* bar = new QHBoxLayout;
    status_ = new QLabel(this);
    auto* toAll = new QPushButton(tr("Show this to all"), this);
    toAll->setToolTip(tr("Show this group's screen on every other group"));
    auto* close = new QPushButton(tr("Close"), this);
    bar->addWidget(status_, 1);
    bar->addWidget(toAll);
    bar->addWidget(close);
    v->addLayout(bar);
    resize(1024, 640);

    puller_ = std::make_unique<StreamPuller>(
        std::vector<StreamPuller::Source>{{Console::streamUrl(address, livePort, Classroom::STREAM_NAME), false}},
        picture_->size(), 0, true);
    puller_->start();

    connect(toAll, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->showToAll(group_)); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    addAction(escape);
    connect(escape, &QAction::triggered, this, &QWidget::close);
    close->setToolTip(tr("Close (Esc)"));
    connect(&timer_, &QTimer::timeout, this, &LookCloserWindow::refresh);
    timer_.start(REFRESH_MS);
}

LookCloserWindow::~LookCloserWindow()
{
    puller_->requestStop();
}

void LookCloserWindow::setName(const QString& name)
{
    setWindowTitle(name.isEmpty() ? tr("Group %1 (closer look)").arg(group_)
                                  : tr("Group %1: %2 (closer look)").arg(group_).arg(name));
}

void LookCloserWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    puller_->setBox(picture_->size());
}

void LookCloserWindow::refresh()
{
    const StreamPuller::State s = puller_->state();
    if (!s.error.isEmpty()) {
        status_->setText(GroupTile::errorLabel(s.error));
        if (s.picture.isNull())
            picture_->setText(GroupTile::errorLabel(s.error));
        return;
    }
    if (s.pictures == shownPictures_)
        return;
    shownPictures_ = s.pictures;
    status_->setText(tr("live"));
    picture_->setPixmap(QPixmap::fromImage(s.picture));
}
