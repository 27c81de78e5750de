#include "GroupTile.h"

#include "Console.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

GroupTile::GroupTile(Console* console, QWidget* parent) : QFrame(parent), console_(console)
{
    setFrameShape(QFrame::StyledPanel);
    setLineWidth(2);
    auto* v = new QVBoxLayout(this);
    thumb_ = new QLabel(this);
    thumb_->setFixedSize(Console::THUMB_W, Console::THUMB_H);
    thumb_->setAlignment(Qt::AlignCenter);
    thumb_->setWordWrap(true);
    thumb_->setStyleSheet("background: #202020; color: #c0c0c0;");
    thumb_->setText(tr("no picture yet"));
    thumb_->setToolTip(tr("Click for a closer look; Ctrl+click or Shift+click to select"));
    thumb_->setCursor(Qt::PointingHandCursor);
    title_ = new QLabel(this);
    title_->setTextFormat(Qt::PlainText);
    QFont f = title_->font();
    f.setBold(true);
    title_->setFont(f);
    select_ = new QCheckBox(tr("Select"), this);
    select_->setFocusPolicy(Qt::NoFocus);
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
    auto* teacher = new QPushButton(tr("Teacher"), this);
    auto* stop = new QPushButton(tr("Stop"), this);
    auto* toAll = new QPushButton(tr("To all"), this);
    teacher->setToolTip(tr("Show the teacher's screen on this group"));
    stop->setToolTip(tr("Stop showing on this group"));
    toAll->setToolTip(tr("Show this group's screen on every other group"));
    buttons->addWidget(teacher);
    buttons->addWidget(stop);
    buttons->addWidget(toAll);
    v->addLayout(buttons);
    auto* more = new QHBoxLayout;
    lock_ = new QPushButton(tr("Lock"), this);
    auto* name = new QPushButton(tr("Name…"), this);
    name->setToolTip(tr("Give this group a name"));
    more->addWidget(lock_);
    more->addWidget(name);
    more->addWidget(select_);
    v->addLayout(more);
    source_ = new QComboBox(this);
    source_->setToolTip(tr("Show another group's screen on this group"));
    v->addWidget(source_);

    connect(teacher, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->showTo(row_.group, 0)); });
    connect(stop, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->stop(row_.group)); });
    connect(toAll, &QPushButton::clicked, this, [this] { Q_EMIT commandDone(console_->showToAll(row_.group)); });
    connect(lock_, &QPushButton::clicked, this, [this] {
        if (row_.locked)
            Q_EMIT commandDone(console_->unlock({row_.group}));
        else
            Q_EMIT lockRequested(row_.group);
    });
    connect(name, &QPushButton::clicked, this, [this] { Q_EMIT nameRequested(row_.group); });
    connect(select_, &QCheckBox::clicked, this, [this](bool on) { Q_EMIT selectToggled(row_.group, on); });
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

QString GroupTile::showingLabel(std::optional<int> showing, bool locked)
{
    const QString shows = !showing        ? tr("shows nothing")
                          : *showing == 0 ? tr("shows the teacher")
                                          : tr("shows group %1").arg(*showing);
    return locked ? tr("%1, locked").arg(shows) : shows;
}

void GroupTile::setRow(const GroupRow& row, const QString& name, const std::vector<int>& groups)
{
    row_ = row;
    QString title = name.isEmpty() ? tr("Group %1").arg(row.group) : tr("Group %1: %2").arg(row.group).arg(name);
    title_->setToolTip(title);
    if (row.gone)
        title += "  " + tr("(gone)");
    if (row.conflict)
        title += "  " + tr("CONFLICT");
    // A long name is cut at the tile's width (whole in the tooltip).
    title_->setText(title_->fontMetrics().elidedText(title, Qt::ElideRight, Console::THUMB_W));
    title_->setStyleSheet(row.conflict ? "color: #c00000;" : row.gone ? "color: #808080;" : "");
    // The other address on a line of its own, so the tile keeps its width.
    conflict_->setVisible(row.conflict.has_value());
    conflict_->setText(row.conflict ? tr("also announced by %1: ignored").arg(row.conflict->toString()) : QString());
    conflict_->setToolTip(row.conflict ? tr("Another computer announces this group's number. Commands and the "
                                            "thumbnail keep to the address heard first, %1.")
                                             .arg(row.address.toString())
                                       : QString());
    info_->setText(tr("%1:%2, %3 s ago").arg(row.address.toString()).arg(row.livePort).arg(row.ageMs / 1000));
    showing_->setText(showingLabel(row.showing, row.locked));
    trust_->setText(row.nonce.isEmpty() ? tr("commands not authenticated") : tr("commands signed"));
    lock_->setText(row.locked ? tr("Unlock") : tr("Lock"));
    lock_->setToolTip(row.locked ? tr("Give this group its desktop back")
                                 : tr("Cover this group's screen with a card and take its keyboard and mouse"));
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
        source_->addItem(tr("Show group…"));
        for (int g : others)
            source_->addItem(tr("Show group %1").arg(g), g);
    }
}

void GroupTile::setThumbnail(const QImage& picture, const QString& error)
{
    if (!error.isEmpty() || picture.isNull()) {
        thumb_->setPixmap(QPixmap());
        thumb_->setText(error.isEmpty() ? tr("no picture yet") : errorLabel(error));
        return;
    }
    thumb_->setPixmap(QPixmap::fromImage(picture));
}

void GroupTile::setSelected(bool selected)
{
    selected_ = selected;
    select_->setChecked(selected);
    setStyleSheet(selected ? "GroupTile { border: 2px solid #2a7de1; background: #dde9f8; }" : QString());
}

QRect GroupTile::pictureRect() const
{
    return QRect(thumb_->mapToGlobal(QPoint(0, 0)), thumb_->size());
}

QString GroupTile::errorLabel(const QString& error)
{
    const QString retrying = ", retrying";
    if (error.endsWith(retrying))
        return tr("%1, retrying").arg(errorLabel(error.left(error.size() - retrying.size())));
    struct Prefix {
        const char* english;
        QString translated;
    };
    const Prefix prefixes[] = {
        {"cannot open: ", tr("cannot open: %1")},
        {"stream ended: ", tr("stream ended: %1")},
        {"no stream information: ", tr("no stream information: %1")},
        {"cannot open the decoder: ", tr("cannot open the decoder: %1")},
    };
    for (const Prefix& p : prefixes)
        if (error.startsWith(p.english))
            return p.translated.arg(error.mid(static_cast<int>(qstrlen(p.english))));
    const Prefix whole[] = {
        {"connecting", tr("connecting")},
        {"no answer", tr("no answer")},
        {"stream stalled", tr("stream stalled")},
        {"no video stream", tr("no video stream")},
        {"no decoder for the stream", tr("no decoder for the stream")},
        {"cannot set up the decoder", tr("cannot set up the decoder")},
        {"cannot scale the picture", tr("cannot scale the picture")},
        {"out of memory", tr("out of memory")},
        {"no stream: the group is gone", tr("no stream: the group is gone")},
    };
    for (const Prefix& p : whole)
        if (error == p.english)
            return p.translated;
    return error;
}

void GroupTile::mousePressEvent(QMouseEvent* e)
{
    // Taken, so that the release comes here too.
    e->accept();
}

void GroupTile::mouseReleaseEvent(QMouseEvent* e)
{
    // Presses on the buttons and the box never come here; the rest of the
    // tile is its picture and its words.
    if (e->button() == Qt::LeftButton && rect().contains(e->pos()) && isEnabled())
        Q_EMIT clicked(row_.group, e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
    QFrame::mouseReleaseEvent(e);
}
