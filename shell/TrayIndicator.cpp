#include "TrayIndicator.h"

#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

TrayIndicator::TrayIndicator(QSystemTrayIcon* tray, std::function<int()> count, QObject* parent)
    : QObject(parent), tray_(tray), count_(std::move(count))
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
    if (watched == watched_ && (!watched || n == shownCount_))
        return;
    if (watched != watched_)
        tray_->setIcon(watched ? watchedIcon_ : normalIcon_);
    tray_->setToolTip(watched ? watchedToolTip(n) : normalToolTip_);
    watched_ = watched;
    shownCount_ = watched ? n : 0;
}
