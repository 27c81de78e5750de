#include "GroupTile.h"

#include "Console.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

GroupTile::GroupTile(Console* console, QWidget* parent) : QFrame(parent), console_(console)
{
    setFrameShape(QFrame::StyledPanel);
    auto* v = new QVBoxLayout(this);
    thumb_ = new QLabel(this);
    thumb_->setFixedSize(Console::THUMB_W, Console::THUMB_H);
    thumb_->setAlignment(Qt::AlignCenter);
    thumb_->setWordWrap(true);
    thumb_->setStyleSheet("background: #202020; color: #c0c0c0;");
    thumb_->setText("no picture yet");
    title_ = new QLabel(this);
    QFont f = title_->font();
    f.setBold(true);
    title_->setFont(f);
    info_ = new QLabel(this);
    showing_ = new QLabel(this);
    trust_ = new QLabel(this);
    conflict_ = new QLabel(this);
    conflict_->setStyleSheet("color: #c00000;");
    conflict_->hide();
    v->addWidget(thumb_);
    v->addWidget(title_);
    v->addWidget(conflict_);
    v->addWidget(info_);
    v->addWidget(showing_);
    v->addWidget(trust_);

    auto* buttons = new QHBoxLayout;
    auto* teacher = new QPushButton("Teacher", this);
    auto* stop = new QPushButton("Stop", this);
    auto* toAll = new QPushButton("To all", this);
    teacher->setToolTip("Show the teacher's screen on this group");
    stop->setToolTip("Stop showing on this group");
    toAll->setToolTip("Show this group's screen on every other group");
    buttons->addWidget(teacher);
    buttons->addWidget(stop);
    buttons->addWidget(toAll);
    v->addLayout(buttons);
    source_ = new QComboBox(this);
    source_->setToolTip("Show another group's screen on this group");
    v->addWidget(source_);

    connect(teacher, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->showTo(row_.group, 0)); });
    connect(stop, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->stop(row_.group)); });
    connect(toAll, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->showToAll(row_.group)); });
    connect(source_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const QVariant g = source_->itemData(index);
        if (g.isValid())
            Q_EMIT commandDone(console_->showTo(row_.group, g.toInt()));
        source_->setCurrentIndex(0);
    });
}

QString GroupTile::showingText(std::optional<int> showing)
{
    if (!showing)
        return "shows nothing";
    if (*showing == 0)
        return "shows the teacher";
    return QString("shows group %1").arg(*showing);
}

void GroupTile::setRow(const GroupRow& row, const std::vector<int>& groups)
{
    row_ = row;
    QString title = QString("Group %1").arg(row.group);
    if (row.gone)
        title += "  (gone)";
    if (row.conflict)
        title += "  CONFLICT";
    title_->setText(title);
    title_->setStyleSheet(row.conflict ? "color: #c00000;" : row.gone ? "color: #808080;" : "");
    // The other address on a line of its own, so the tile keeps its width.
    conflict_->setVisible(row.conflict.has_value());
    conflict_->setText(row.conflict ? "also announced by " + row.conflict->toString() + ": ignored" : QString());
    conflict_->setToolTip(row.conflict ? "Another computer announces this group's number. Commands and the "
                                         "thumbnail keep to the address heard first, " +
                                             row.address.toString() + "."
                                       : QString());
    info_->setText(QString("%1:%2, %3 s ago").arg(row.address.toString()).arg(row.livePort).arg(row.ageMs / 1000));
    showing_->setText(showingText(row.showing));
    trust_->setText(row.nonce.isEmpty() ? "commands not authenticated" : "commands signed");
    setEnabled(!row.gone);

    // The menu of other groups to show here; rebuilt only when they change.
    std::vector<int> others;
    for (int g : groups)
        if (g != row.group)
            others.push_back(g);
    bool same = source_->count() == static_cast<int>(others.size()) + 1;
    for (size_t i = 0; same && i < others.size(); ++i)
        same = source_->itemData(static_cast<int>(i) + 1).toInt() == others[i];
    if (!same) {
        source_->clear();
        source_->addItem("Show group…");
        for (int g : others)
            source_->addItem(QString("Show group %1").arg(g), g);
    }
}

void GroupTile::setThumbnail(const QImage& picture, const QString& error)
{
    if (!error.isEmpty() || picture.isNull()) {
        thumb_->setPixmap(QPixmap());
        thumb_->setText(error.isEmpty() ? "no picture yet" : error);
        return;
    }
    thumb_->setPixmap(QPixmap::fromImage(picture));
}
