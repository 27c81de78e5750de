#include "LockCard.h"

#include "Classroom.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cstdio>

const char* const LockCard::TITLE = "Tavlo lock";

LockCard::LockCard(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint)
{
    setWindowTitle(TITLE);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    connect(&regrab_, &QTimer::timeout, this, [this] {
        if (!grabbed_) {
            cover();
            grab();
        }
    });
}

void LockCard::lock(const QString& text)
{
    text_ = text.isEmpty() ? QString::fromUtf8(Classroom::LOCK_TEXT_DEFAULT) : text;
    const bool already = locked_;
    locked_ = true;
    cover();
    update();
    grab();
    regrab_.start(REGRAB_MS);
    if (!already) {
        std::printf("Locked: %s\n", text_.toUtf8().constData());
        std::fflush(stdout);
    }
}

void LockCard::unlock()
{
    if (!locked_)
        return;
    locked_ = false;
    regrab_.stop();
    if (QWindow* w = windowHandle()) {
        w->setKeyboardGrabEnabled(false);
        w->setMouseGrabEnabled(false);
    }
    grabbed_ = false;
    grabSaid_ = -1;
    hide();
    std::printf("Unlocked\n");
    std::fflush(stdout);
}

// Over every screen, on top.
void LockCard::cover()
{
    QRect all;
    for (const QScreen* s : QGuiApplication::screens())
        all = all.united(s->geometry());
    setGeometry(all);
    show();
    raise();
}

void LockCard::grab()
{
    QWindow* w = windowHandle();
    // Both, every time: a grab held already is simply kept.
    const bool keyboard = w && w->setKeyboardGrabEnabled(true);
    const bool pointer = w && w->setMouseGrabEnabled(true);
    const int said = keyboard && pointer ? 1 : 0;
    if (said != grabSaid_) {
        // Pinned by the tests: the first line says the input is taken.
        if (said)
            std::printf("Lock: keyboard and pointer taken\n");
        else
            std::printf("Lock: the %s is held by another program, trying again\n", keyboard ? "pointer" : "keyboard");
        std::fflush(stdout);
        grabSaid_ = said;
    }
    grabbed_ = keyboard && pointer;
}

void LockCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0x12, 0x2a, 0x4a));
    p.setRenderHint(QPainter::Antialiasing);
    // The text as large as fits, centred, on one screen's middle at least.
    const QRect area = rect().adjusted(width() / 10, height() / 6, -width() / 10, -height() / 6);
    QFont f = font();
    int size = std::max(12, height() / 8);
    f.setPixelSize(size);
    p.setPen(Qt::white);
    for (; size > 12; size = size * 9 / 10) {
        f.setPixelSize(size);
        const QRect need =
            QFontMetrics(f).boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, text_);
        if (area.contains(need))
            break;
    }
    f.setPixelSize(size);
    p.setFont(f);
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text_);
}
