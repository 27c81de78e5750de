#include "QImgBtn.h"

QImgBtn::QImgBtn(QWidget* parent, QPixmap** pixmap) : QPushButton(parent)
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    this->pixmap = pixmap;
    for (int i = 0; i < 3; ++i)
        icons[i] = new QIcon(*pixmap[i]);
    setIcon(*icons[0]);
    setIconSize(QSize(70, 70));
    setFlat(true);
}

QImgBtn::~QImgBtn()
{
    for (QIcon* icon : icons)
        delete icon;
}

void QImgBtn::mousePressEvent(QMouseEvent* e)
{
    setIcon(*icons[2]);
    QPushButton::mousePressEvent(e);
}

void QImgBtn::mouseReleaseEvent(QMouseEvent* e)
{
    setIcon(*icons[1]);
    QPushButton::mouseReleaseEvent(e);
}

void QImgBtn::enterEvent(QEvent* e)
{
    setIcon(*icons[1]);
    QPushButton::enterEvent(e);
}

void QImgBtn::leaveEvent(QEvent* e)
{
    setIcon(*icons[0]);
    QPushButton::leaveEvent(e);
}
