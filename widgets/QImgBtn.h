#ifndef TAVLO_QIMGBTN_H
#define TAVLO_QIMGBTN_H

#include <QIcon>
#include <QPixmap>
#include <QPushButton>

// A push button drawn only by pictures (normal, hover, pressed), shown as its
// own frameless, translucent, always-on-top tool window.
class QImgBtn : public QPushButton {
    Q_OBJECT
public:
    // pixmap: a row of three valid pictures, normal, hover, pressed (not owned).
    QImgBtn(QWidget* parent, QPixmap** pixmap);
    ~QImgBtn() override;

    QPixmap** pixmap;
    QIcon* icons[4] = {nullptr, nullptr, nullptr, nullptr};

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEvent* e) override;
    void leaveEvent(QEvent* e) override;
};

#endif
