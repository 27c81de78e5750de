#include "BoardWidget.h"

#include "BackgroundCache.h"
#include "BoardFile.h"
#include "BoardFolder.h"
#include "BoardPrivate.h"
#include "BoardSaver.h"
#include "RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QUndoStack>
#include <cstdio>

// ---------------------------------------------------------------------------
// Board files and documents: saving as one draws, opening, replacing
// ---------------------------------------------------------------------------

namespace {

// How long the board waits for the disk before it counts a board as not
// saved (a hung network folder must not hang the board).
const int DROP_FLUSH_MS = 10000;

}  // namespace

void BoardWidget::setAutosave(bool on)
{
    if (on && saver_ == nullptr) {
        saver_ = new BoardSaver([] { return BoardFile::encode(pages, pageIdx, bkgType); }, BoardFolder::path(),
                                this);
        for (const QString& f : opened_)
            saver_->keep(f);
        connect(saver_, &BoardSaver::saveFailed, this, [this](const QString& path, const QString& error) {
            emit saveTrouble(tr("The board cannot be saved: %1. It is tried again every few seconds; "
                                "until then nothing new is on disk.")
                                 .arg(error));
        });
        connect(saver_, &BoardSaver::saveRecovered, this, [this](const QString&) { emit saveRecovered(); });
    } else if (!on && saver_ != nullptr) {
        delete saver_;  // saves what is pending first
        saver_ = nullptr;
    }
}

BoardSaver* BoardWidget::saver() const
{
    return saver_;
}

void BoardWidget::setDropQuestion(std::function<bool(const QString&)> question)
{
    dropQuestion_ = std::move(question);
}

void BoardWidget::boardChanged()
{
    if (saver_ != nullptr)
        saver_->changed();
}

bool BoardWidget::mayDropBoard(const QString& what)
{
    if (saver_ == nullptr || saver_->flush(DROP_FLUSH_MS))
        return true;
    QString why = saver_->lastError();
    if (why.isEmpty())
        why = tr("the disk does not answer");
    std::printf("OpenBoard: the board on screen is not saved: %s\n", why.toLocal8Bit().constData());
    const QString question = tr("The board on screen cannot be saved (%1). If %2 is opened now, what is on the "
                                "board is lost. Open it anyway?")
                                 .arg(why, what);
    if (dropQuestion_ && dropQuestion_(question))
        return true;
    emit boardMessage(tr("%1 was not opened: the board on screen cannot be saved (%2), so it stays.").arg(what, why));
    return false;
}

void BoardWidget::replaceBoard(std::vector<Page*> newPages, int idx, BkgType newType)
{
    undoStack_->clear();
    liveStroke = nullptr;
    livePage = nullptr;
    for (Page* p : pages)
        delete p;
    pages = std::move(newPages);
    page = nullptr;
    pageIdx = -1;
    bkgType = newType;
    if (pages.empty())
        newPage(QString(), pageable);
    else
        loadPage(static_cast<unsigned int>(clampTo(idx, 0, static_cast<int>(pages.size()) - 1)));
    if (saver_ != nullptr)
        saver_->startNewFile();
    drawWin();
    update();
    emit pagesChanged();
}

bool BoardWidget::openBoard(const QString& path)
{
    endStroke();
    BoardFile::Contents c;
    QString error;
    const bool ok = BoardFile::read(path, c, &error);
    const QString shown = QFileInfo(path).absoluteFilePath();
    // What the board holds now is on disk before it is replaced.
    if (!mayDropBoard(shown))
        return false;
    std::vector<Page*> read;
    if (ok) {
        for (auto& p : c.pages)
            read.push_back(p.release());
        opened_ << shown;
        if (saver_ != nullptr)
            saver_->keep(shown);
        std::printf("OpenBoard: %s\n", shown.toLocal8Bit().constData());
    } else {
        std::printf("OpenBoard FAILED: %s: %s\n", shown.toLocal8Bit().constData(), error.toLocal8Bit().constData());
    }
    replaceBoard(std::move(read), c.pageIdx, ok ? c.newPageType : bkgType);
    if (!ok)
        emit boardMessage(tr("The board file %1 cannot be opened: %2. The board starts empty.").arg(shown, error));
    return ok;
}

bool BoardWidget::openDocument(const QString& path)
{
    endStroke();
    const QString shown = QFileInfo(path).absoluteFilePath();
    bool pdf = false;
    QString error;
    const int count = BackgroundCache::pageCount(shown, &pdf, &error);
    if (count < 1) {
        std::printf("OpenDocument FAILED: %s: %s\n", shown.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        emit boardMessage(tr("%1 cannot be opened: %2.").arg(shown, error));
        return false;
    }
    if (!mayDropBoard(shown))
        return false;
    // Each page refers to the document: the board file stays small and is
    // written as fast as a board of colour pages.
    std::vector<Page*> docPages;
    for (int i = 0; i < count; ++i) {
        Page* p = new Page(shown, BT_IMG, 0, gridSizeIdx);
        p->bkgPage = pdf ? i : -1;
        docPages.push_back(p);
    }
    std::printf("OpenDocument: %s (%d %s)\n", shown.toLocal8Bit().constData(), count, count == 1 ? "page" : "pages");
    replaceBoard(std::move(docPages), 0, bkgType == BT_IMG ? BT_GREEN : bkgType);
    // The first page on screen at once; saved as soon as it is, so that the
    // board of the document is there to reopen even before the first stroke.
    boardChanged();
    emit documentOpened(count);
    return true;
}

bool BoardWidget::openFile(const QString& path)
{
    // A board file by its name or its first bytes; anything else is a
    // document. What cannot be read at all goes to openBoard, which says why.
    QFile f;
    if (path.endsWith(QLatin1String(".tvboard")) || !RegularFile::open(path, BoardFile::MAX_BYTES, f, nullptr) ||
        f.peek(sizeof BoardFile::MAGIC) == QByteArray(BoardFile::MAGIC, sizeof BoardFile::MAGIC))
        return openBoard(path);
    f.close();
    return openDocument(path);
}

bool BoardWidget::openRecentBoard()
{
    const QString dir = saver_ != nullptr ? saver_->folder() : BoardFolder::path();
    const QString newest = BoardSaver::newestBoard(dir, saver_ != nullptr ? saver_->path() : QString());
    if (newest.isEmpty()) {
        std::printf("OpenBoard: no saved board in %s\n", dir.toLocal8Bit().constData());
        emit boardMessage(tr("There is no saved board in %1.").arg(dir));
        return false;
    }
    return openBoard(newest);
}

void BoardWidget::askForDocument()
{
    endStroke();
    emit documentWanted();
}
