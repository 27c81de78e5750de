#include "BoardWidget.h"

#include "BoardFile.h"
#include "BoardPdf.h"
#include "BoardPrivate.h"
#include "BoardSaver.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

// ---------------------------------------------------------------------------
// Board files, redo and the PDF of all pages
// ---------------------------------------------------------------------------

void BoardWidget::setAutosave(bool on)
{
    if (on && saver_ == nullptr) {
        saver_ = new BoardSaver([] { return BoardFile::encode(pages, pageIdx, bkgType); }, QDir::currentPath(),
                                this);
    } else if (!on && saver_ != nullptr) {
        delete saver_;  // saves what is pending first
        saver_ = nullptr;
    }
}

BoardSaver* BoardWidget::saver() const
{
    return saver_;
}

void BoardWidget::boardChanged()
{
    if (saver_ != nullptr)
        saver_->changed();
}

bool BoardWidget::openBoard(const QString& path)
{
    endStroke();
    BoardFile::Contents c;
    QString error;
    const bool ok = BoardFile::read(path, c, &error);
    // What the board holds now is on disk before it is replaced.
    if (saver_ != nullptr)
        saver_->flush();

    for (Page* p : pages)
        delete p;
    pages.clear();
    page = nullptr;
    pageIdx = -1;
    const QString shown = QFileInfo(path).absoluteFilePath();
    if (ok) {
        for (auto& p : c.pages)
            pages.push_back(p.release());
        bkgType = c.newPageType;
        std::printf("OpenBoard: %s\n", shown.toLocal8Bit().constData());
    } else {
        std::printf("OpenBoard FAILED: %s: %s\n", shown.toLocal8Bit().constData(),
                    error.toLocal8Bit().constData());
    }
    if (pages.empty())
        newPage(QString(), pageable);
    else
        loadPage(static_cast<unsigned int>(c.pageIdx));
    if (saver_ != nullptr)
        saver_->startNewFile();
    drawWin();
    update();
    if (!ok)
        emit boardMessage(QString("The board file %1 cannot be opened: %2. The board starts empty.")
                              .arg(shown, error));
    return ok;
}

bool BoardWidget::openRecentBoard()
{
    const QString dir = QDir::currentPath();
    const QString newest = BoardSaver::newestBoard(dir, saver_ != nullptr ? saver_->path() : QString());
    if (newest.isEmpty()) {
        std::printf("OpenBoard: no saved board in %s\n", dir.toLocal8Bit().constData());
        emit boardMessage(QString("There is no saved board in %1.").arg(dir));
        return false;
    }
    return openBoard(newest);
}

void BoardWidget::redo()
{
    if (page == nullptr || page->undone.empty())
        return;
    page->strokes.push_back(page->undone.back());
    page->undone.pop_back();
    drawWin();
    update();
    boardChanged();
}

QString BoardWidget::savePdf()
{
    if (pages.empty())
        return QString();
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
    QString path = QDir::current().absoluteFilePath(QString("board-%1.pdf").arg(stamp));
    for (int i = 1; QFileInfo::exists(path); ++i)
        path = QDir::current().absoluteFilePath(QString("board-%1-%2.pdf").arg(stamp).arg(i));
    QString error;
    if (!BoardPdf::write(path, static_cast<int>(pages.size()), [this](int i) { return savePageToPixmap(i); },
                         &error)) {
        std::printf("SavePdf FAILED: %s: %s\n", path.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return QString();
    }
    std::printf("SavePdf: %s\n", path.toLocal8Bit().constData());
    return path;
}
