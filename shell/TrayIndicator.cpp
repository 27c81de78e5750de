#include "TrayIndicator.h"

#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QSystemTrayIcon>

TrayIndicator::TrayIndicator(QSystemTrayIcon* tray, std::function<int()> count, std::function<int()> lookers,
                             QObject* parent)
    : QObject(parent), tray_(tray), count_(std::move(count)), lookers_(std::move(lookers))
{
    normalIcon_ = tray_->icon();
    normalToolTip_ = tray_->toolTip();
    watchedIcon_ = watchedIcon(normalIcon_);
    connect(&timer_, &QTimer::timeout, this, &TrayIndicator::poll);
}

void TrayIndicator::start()
{
    poll();
    timer_.start(POLL_MS);
}

QString TrayIndicator::watchedToolTip(int n)
{
    return QString::fromUtf8("本机屏幕正在被观看（%1）").arg(n);
}

QString TrayIndicator::lookingText()
{
    return QString::fromUtf8("老师正在查看");
}

QString TrayIndicator::toolTip(int n, bool looking, const QString& normal)
{
    QStringList lines;
    if (n > 0)
        lines << watchedToolTip(n);
    if (looking)
        lines << lookingText();
    return lines.isEmpty() ? normal : lines.join('\n');
}

QIcon TrayIndicator::watchedIcon(const QIcon& base)
{
    const int size = 64;
    QPixmap pix = base.pixmap(size, size);
    if (pix.isNull()) {
        pix = QPixmap(size, size);
        pix.fill(Qt::transparent);
    }
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(QColor(0xe0, 0x10, 0x10));
    const int d = pix.width() / 2;
    p.drawEllipse(pix.width() - d - 2, pix.height() - d - 2, d, d);
    p.end();
    return QIcon(pix);
}

void TrayIndicator::poll()
{
    const int n = count_ ? count_() : 0;
    const bool watched = n > 0;
    const bool looking = lookers_ && lookers_() > 0;
    if (watched == watched_ && (!watched || n == shownCount_) && looking == looking_)
        return;
    if (watched != watched_)
        tray_->setIcon(watched ? watchedIcon_ : normalIcon_);
    tray_->setToolTip(toolTip(n, looking, normalToolTip_));
    watched_ = watched;
    looking_ = looking;
    shownCount_ = watched ? n : 0;
}
