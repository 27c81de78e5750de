// Saving as one draws, reopening (Ctrl+O, a named file, damaged files), redo
// and the PDF of all pages.
#include "BoardFileTestUtil.h"
#include "BoardSaver.h"
#include "TestSupport.h"

#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>

using namespace btest;
using namespace bftest;

namespace {

class BoardSaveTest : public FolderBoardTest {
protected:

    static void key(BoardWidget* w, int k, Qt::KeyboardModifiers mods = Qt::ControlModifier)
    {
        QKeyEvent ev(QEvent::KeyPress, k, mods);
        QCoreApplication::sendEvent(w, &ev);
    }


    // The board folder: "boards" under the working directory.
    QString boards() const { return tmp.filePath("boards"); }
    QString boardsFile(const QString& name) const { return QDir(boards()).filePath(name); }

    QStringList boardFiles() const
    {
        return QDir(boards()).entryList(QStringList{"board-*.tvboard"}, QDir::Files, QDir::Name);
    }

    static QByteArray bytesOf(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // A file in the board folder.
    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(boards());
        const QString path = boardsFile(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

};

int strokeCount(const BoardFile::Contents& c)
{
    int n = 0;
    for (const auto& p : c.pages)
        n += static_cast<int>(p->strokes.size());
    return n;
}

}  // namespace

// ---- saving as one draws ------------------------------------------------------

TEST_F(BoardSaveTest, PenUpsAndPageOperationsAreSavedWithoutAsking)
{
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    EXPECT_TRUE(boardFiles().isEmpty());  // an untouched board leaves no file
    drawRichBoard(w);
    BoardSaver* saver = w->saver();
    ASSERT_NE(saver, nullptr);
    const std::vector<QImage> shown = renderAll(w);
    const QByteArray expected = BoardFile::encode(pages, pageIdx, bkgType);
    // No flush: the saver's own timer and writer must get it there.
    ASSERT_TRUE(waitFor([&] { return bytesOf(saver->path()) == expected; }));
    ASSERT_EQ(boardFiles().size(), 1);
    const QRegularExpression name("^board-\\d{8}-\\d{6}-\\d{3}\\.tvboard$");
    EXPECT_TRUE(QFileInfo(saver->path()).fileName().contains(name));

    // A page operation alone is saved too.
    w->setGridType(1);
    ASSERT_TRUE(waitFor([&] {
        BoardFile::Contents c;
        return BoardFile::read(saver->path(), c, nullptr) && c.pages[2]->gridType == 1;
    }));
    w->undo();
    ASSERT_TRUE(waitFor([&] { return bytesOf(saver->path()) == BoardFile::encode(pages, pageIdx, bkgType); }));
    EXPECT_EQ(boardFiles().size(), 1);  // always the one file of this session
}

TEST_F(BoardSaveTest, PendingChangeIsWrittenWhenSavingStops)
{
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);
    w->saver()->saveNow();  // names the file
    const QString path = w->saver()->path();
    zigzag(w, 1, 20, 80, 2000);  // scheduled, not yet written
    const QByteArray expected = BoardFile::encode(pages, pageIdx, bkgType);
    w->setAutosave(false);
    EXPECT_EQ(bytesOf(path), expected);
}

TEST_F(BoardSaveTest, SlowDiskNeverHoldsUpTheGuiThread)
{
    // A writer stuck in a write: saves return at once, newer images replace
    // the one waiting, and when the disk comes back only the newest is
    // written after the stuck one.
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    int entered = 0;
    QList<QByteArray> written;
    QStringList failures;
    int version = 0;
    BoardSaver saver([&] { return QByteArray::number(++version); }, tmp.path(), nullptr,
                     [&](const QString&, const QByteArray& bytes, QString* error) {
                         std::unique_lock<std::mutex> lock(m);
                         ++entered;
                         cv.notify_all();
                         cv.wait(lock, [&] { return release; });
                         written << bytes;
                         if (bytes == "3") {
                             *error = "disk full";
                             return false;
                         }
                         return true;
                     });
    QObject::connect(&saver, &BoardSaver::saveFailed, [&](const QString&, const QString& e) { failures << e; });
    auto letGo = [&] {
        {
            std::lock_guard<std::mutex> lock(m);
            release = true;
        }
        cv.notify_all();
    };
    // However the test ends, the writer is let go before the saver waits for it.
    struct AtEnd {
        std::function<void()> f;
        ~AtEnd() { f(); }
    } atEnd{letGo};
    saver.saveNow();  // taken by the writer, which blocks
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::milliseconds(tsupport::SLOW_MS), [&] { return entered == 1; }));
    }
    EXPECT_FALSE(saver.flush(200));  // still writing: flush gives up, nothing hangs
    saver.saveNow();
    saver.saveNow();
    saver.changed();
    saver.saveNow();  // "4" replaces "2" and "3" while they wait
    letGo();
    ASSERT_TRUE(saver.flush(tsupport::SLOW_MS));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(written, (QList<QByteArray>{"1", "4"}));
    EXPECT_EQ(saver.writes(), 2);
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(BoardSaveTest, FailedWriteIsReportedAndRetriedByTheNextChange)
{
    std::atomic<int> calls{0};
    QStringList failures;
    BoardSaver saver([] { return QByteArray("board"); }, tmp.path(), nullptr,
                     [&](const QString& path, const QByteArray& bytes, QString* error) {
                         if (calls++ == 0) {
                             *error = "disk full";
                             return false;
                         }
                         return BoardFile::writeAtomic(path, bytes, error);
                     });
    QObject::connect(&saver, &BoardSaver::saveFailed, [&](const QString&, const QString& e) { failures << e; });
    saver.changed();
    ASSERT_TRUE(waitFor([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures, QStringList{"disk full"});
    EXPECT_EQ(saver.writes(), 0);
    saver.changed();
    ASSERT_TRUE(waitFor([&] { return saver.writes() == 1; }));
    EXPECT_EQ(bytesOf(saver.path()), QByteArray("board"));
}

TEST_F(BoardSaveTest, KilledWhileIdleLosesNothing)
{
    QProcess helper;
    helper.setProgram(QStringLiteral(BOARD_CRASH_HELPER));
    helper.setArguments({tmp.path(), "60"});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    helper.setProcessEnvironment(env);
    helper.start();
    ASSERT_TRUE(helper.waitForStarted(tsupport::SLOW_MS));
    QByteArray out;
    ASSERT_TRUE(waitFor([&] {
        helper.waitForReadyRead(10);
        out += helper.readAllStandardOutput();
        return out.contains("DRAWN 60\n");
    }));
    // Only the saver can bring all 60 strokes to disk now; then the plug is pulled.
    ASSERT_TRUE(waitFor([&] {
        const QStringList files = boardFiles();
        BoardFile::Contents c;
        return files.size() == 1 && BoardFile::read(boardsFile(files[0]), c, nullptr) && strokeCount(c) == 60;
    }));
    ::kill(static_cast<pid_t>(helper.processId()), SIGKILL);
    helper.waitForFinished(tsupport::SLOW_MS);

    BoardWidget* w = makeBoard(400, 300);
    ASSERT_TRUE(w->openRecentBoard());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0]->strokes.size(), 40u);
    EXPECT_EQ(pages[1]->strokes.size(), 20u);
    EXPECT_EQ(pageIdx, 1);
}

TEST_F(BoardSaveTest, KilledWhileSavingLeavesAReadableFile)
{
    // However a save is interrupted, the board file is the old one or the
    // new one, never a mix.
    for (int round = 0; round < 6; ++round) {
        QProcess helper;
        helper.setProgram(QStringLiteral(BOARD_CRASH_HELPER));
        helper.setArguments({tmp.path(), "0"});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        helper.setProcessEnvironment(env);
        helper.start();
        ASSERT_TRUE(helper.waitForStarted(tsupport::SLOW_MS));
        const QByteArray stop = QByteArray("DRAWN ") + QByteArray::number(60 + 17 * round) + "\n";
        QByteArray out;
        ASSERT_TRUE(waitFor([&] {
            helper.waitForReadyRead(10);
            out += helper.readAllStandardOutput();
            return out.contains(stop) && !boardFiles().isEmpty();
        }));
        ::kill(static_cast<pid_t>(helper.processId()), SIGKILL);
        helper.waitForFinished(tsupport::SLOW_MS);
        for (const QString& f : boardFiles()) {
            BoardFile::Contents c;
            QString err;
            EXPECT_TRUE(BoardFile::read(boardsFile(f), c, &err)) << f.toStdString() << ": " << err.toStdString();
            EXPECT_GT(strokeCount(c), 0);
        }
    }
    // A temporary file of a dead writer goes when saving starts again; one
    // of a live process stays.
    const QString dead = boardsFile("board-20200101-000000-000.tvboard.tmp-999999999-0");
    const QString live = boardsFile(QString("board-1.tvboard.tmp-%1-0").arg(QCoreApplication::applicationPid()));
    writeFile(QFileInfo(dead).fileName(), "x");
    writeFile(QFileInfo(live).fileName(), "x");
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_TRUE(QFileInfo::exists(live));
    // Those the killed helpers left behind are gone too.
    const QString ours = QString(".tmp-%1-").arg(QCoreApplication::applicationPid());
    for (const QString& f : QDir(boards()).entryList(QStringList{"*.tmp-*"}, QDir::Files))
        EXPECT_TRUE(f.contains(ours)) << f.toStdString();
}

// ---- reopening ------------------------------------------------------------------

TEST_F(BoardSaveTest, CtrlOReopensTheNewestOtherBoardAndLosesNothing)
{
    BoardWidget* w = makeBoard(400, 300);
    drawRichBoard(w);
    const std::vector<QImage> lesson = renderAll(w);
    const QByteArray lessonBytes = BoardFile::encode(pages, pageIdx, bkgType);
    const QString older = writeFile("board-20200101-080000-000.tvboard", BoardFile::encode({}, -1, BT_GREEN));
    const QString newest = writeFile("board-20200101-090000-000.tvboard", lessonBytes);
    for (const auto& aged : {std::make_pair(older, -3600), std::make_pair(newest, -60)}) {
        QFile f(aged.first);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QDateTime when = QDateTime::currentDateTime().addSecs(aged.second);
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }

    // A fresh start with autosave, some ink, then Ctrl+O.
    resetBoardState();
    w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 1, 30, 30, 1000);
    const QByteArray sessionInk = BoardFile::encode(pages, pageIdx, bkgType);
    key(w, Qt::Key_O);
    ASSERT_EQ(pages.size(), 3u);
    const std::vector<QImage> reopened = renderAll(w);
    for (size_t i = 0; i < lesson.size(); ++i)
        EXPECT_TRUE(reopened[i] == lesson[i]) << "page " << i;
    // The ink drawn before the Ctrl+O is in this session's first file.
    const QStringList files = boardFiles();
    ASSERT_EQ(files.size(), 3);
    QString sessionFile;
    for (const QString& f : files)
        if (boardsFile(f) != older && boardsFile(f) != newest)
            sessionFile = boardsFile(f);
    EXPECT_EQ(bytesOf(sessionFile), sessionInk);

    // Drawing on the reopened board writes a new file; neither the opened
    // file nor the first session file is touched.
    zigzag(w, 0, 60, 200, 9000);
    w->saver()->flush();
    EXPECT_EQ(boardFiles().size(), 4);
    EXPECT_EQ(bytesOf(newest), lessonBytes);
    EXPECT_EQ(bytesOf(sessionFile), sessionInk);
    EXPECT_EQ(bytesOf(w->saver()->path()), BoardFile::encode(pages, pageIdx, bkgType));

    // Ctrl+O again skips the file being saved into: the newest other one.
    const QString current = w->saver()->path();
    ASSERT_TRUE(w->openRecentBoard());
    EXPECT_EQ(BoardFile::encode(pages, pageIdx, bkgType), sessionInk);
    EXPECT_EQ(bytesOf(current).isEmpty(), false);
}

TEST_F(BoardSaveTest, DamagedForeignOrMissingFilesGiveAMessageAndAnEmptyBoard)
{
    BoardWidget* w = makeBoard(400, 300);
    drawRichBoard(w);
    const QByteArray good = BoardFile::encode(pages, pageIdx, bkgType);
    QByteArray flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 1);
    QByteArray newer = good;
    newer[8] = 9;
    const std::vector<std::pair<QString, QByteArray>> cases = {
        {"truncated.tvboard", good.left(good.size() / 3)},
        {"flipped.tvboard", flipped},
        {"newer.tvboard", newer},
        {"foreign.tvboard", QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")},
        {"empty.tvboard", QByteArray()},
    };
    w->setAutosave(true);
    for (const auto& c : cases) {
        const QString path = writeFile(c.first, c.second);
        QStringList messages;
        QObject::connect(w, &BoardWidget::boardMessage, [&](const QString& m) { messages << m; });
        EXPECT_FALSE(w->openBoard(path)) << c.first.toStdString();
        ASSERT_EQ(messages.size(), 1) << c.first.toStdString();
        EXPECT_TRUE(messages[0].contains(path)) << messages[0].toStdString();
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_TRUE(pages[0]->strokes.empty());
        // Drawing on goes to another file; the damaged one stays as it was.
        zigzag(w, 0, 20, 20, 1000);
        w->saver()->flush();
        EXPECT_NE(w->saver()->path(), path);
        EXPECT_EQ(bytesOf(path), c.second) << c.first.toStdString();
        QObject::disconnect(w, &BoardWidget::boardMessage, nullptr, nullptr);
    }
    QStringList messages;
    QObject::connect(w, &BoardWidget::boardMessage, [&](const QString& m) { messages << m; });
    EXPECT_FALSE(w->openBoard(tmp.filePath("missing.tvboard")));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("missing.tvboard")));
}

TEST_F(BoardSaveTest, CtrlOWithoutASavedBoardLeavesTheBoardAlone)
{
    BoardWidget* w = makeBoard(400, 300);
    zigzag(w, 0, 20, 20, 1000);
    QStringList messages;
    QObject::connect(w, &BoardWidget::boardMessage, [&](const QString& m) { messages << m; });
    key(w, Qt::Key_O);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(pages[0]->strokes.size(), 1u);
}

// ---- redo -------------------------------------------------------------------------

TEST_F(BoardSaveTest, RedoBringsBackWhatUndoTookUntilNewInk)
{
    BoardWidget* w = makeBoard(400, 300);
    zigzag(w, 0, 20, 20, 1000);
    zigzag(w, 1, 20, 80, 2000);
    zigzag(w, 0, 20, 140, 3000);
    w->drawWin();  // as a re-render shows the three strokes
    const QImage full = composed(w);
    const std::vector<Stroke*> drawn = pages[0]->strokes;
    key(w, Qt::Key_Z);
    key(w, Qt::Key_Z);
    EXPECT_EQ(pages[0]->strokes.size(), 1u);
    key(w, Qt::Key_Y);
    EXPECT_EQ(pages[0]->strokes.size(), 2u);
    EXPECT_EQ(pages[0]->strokes[1], drawn[1]);
    key(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages[0]->strokes, drawn);
    EXPECT_TRUE(composed(w) == full);
    key(w, Qt::Key_Y);  // nothing left to redo
    EXPECT_EQ(pages[0]->strokes, drawn);

    // One history for the board: undo on another page shows the page it
    // changes, and redo brings the stroke back there.
    w->newPage(QString(), true);
    ASSERT_EQ(pageIdx, 1);
    key(w, Qt::Key_Z);  // the new page goes
    key(w, Qt::Key_Z);  // the third stroke of the first page
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(pages[0]->strokes.size(), 2u);
    key(w, Qt::Key_Y);
    EXPECT_EQ(pages[0]->strokes, drawn);

    // New ink on the page (an eraser stroke too) ends it.
    key(w, Qt::Key_Z);
    zigzag(w, 1, 200, 200, 5000);
    key(w, Qt::Key_Y);
    EXPECT_EQ(pages[0]->strokes.size(), 3u);
    EXPECT_NE(pages[0]->strokes[2], drawn[2]);
    key(w, Qt::Key_Z);
    key(w, Qt::Key_Z);
    rectErase(w, 30, 30, 6000);
    key(w, Qt::Key_Y);
    EXPECT_EQ(pages[0]->strokes.back()->type, TT_E_RECT);
    // Delete ends it as well.
    key(w, Qt::Key_Z);
    w->clear();
    key(w, Qt::Key_Y);
    EXPECT_TRUE(pages[0]->strokes.empty());
}

// ---- PDF ----------------------------------------------------------------------------

TEST_F(BoardSaveTest, CtrlPWritesEveryPageIntoOnePdf)
{
    BoardWidget* w = makeBoard(400, 300);
    drawRichBoard(w);
    const std::vector<QImage> images = renderAll(w);
    key(w, Qt::Key_P);
    const QStringList pdfs = QDir(boards()).entryList(QStringList{"board-*.pdf"}, QDir::Files);
    ASSERT_EQ(pdfs.size(), 1);
    const QByteArray pdf = bytesOf(boardsFile(pdfs[0]));
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page "), 3)
        << pdf.left(2000).toStdString();
    // Each page has the size of its image, one pixel to one point.
    QList<QSizeF> boxes;
    const QRegularExpression mediaBox("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]");
    QRegularExpressionMatchIterator it = mediaBox.globalMatch(QString::fromLatin1(pdf.constData(), pdf.size()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        boxes << QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble());
    }
    ASSERT_EQ(boxes.size(), 3) << pdf.left(3000).toStdString();
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_NEAR(boxes[i].width(), images[i].width(), 0.01);
        EXPECT_NEAR(boxes[i].height(), images[i].height(), 0.01);
    }
    const QString second = w->savePdf();
    EXPECT_NE(second, boardsFile(pdfs[0]));
    EXPECT_TRUE(QFileInfo(second).isFile());
}
