// The board on a full disk: a small tmpfs, filled up, as the working
// directory. A board that cannot be saved is never dropped without the user's
// yes, every failure to save shows on the board, saving is retried until it
// works, and pictures and PDFs that cannot be written say so. Runs in a mount
// namespace of its own (unshare -m, as root): the tmpfs goes with the process.
#include "BoardFileTestUtil.h"
#include "BoardForm.h"
#include "BoardSaver.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTouchEvent>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace btest;
using namespace bftest;

namespace {

// A mount namespace of one's own (not the one of the process that started
// this one): mounts here are nobody else's.
bool privateMountNamespace()
{
    struct stat self, parent;
    const QByteArray parentNs = "/proc/" + QByteArray::number(static_cast<int>(::getppid())) + "/ns/mnt";
    return ::stat("/proc/self/ns/mnt", &self) == 0 && ::stat(parentNs.constData(), &parent) == 0 &&
           self.st_ino != parent.st_ino;
}

class BoardDisk : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        ASSERT_TRUE(privateMountNamespace()) << "run through CTest (unshare -m --propagation private)";
        ASSERT_TRUE(tmp.isValid());
        mountPoint = tmp.filePath("disk");
        ASSERT_TRUE(QDir().mkpath(mountPoint));
        ASSERT_EQ(::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=1m"), 0)
            << std::strerror(errno);
        mounted = true;
        oldDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(mountPoint));
    }

    void TearDown() override
    {
        BoardTest::TearDown();
        QDir::setCurrent(oldDir);
        if (mounted)
            ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    }

    // Fills the disk to the last byte with one file.
    void fill()
    {
        QFile f(filler());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
        for (int chunk = 65536; chunk >= 1; chunk /= 2)
            while (f.write(QByteArray(chunk, 'x')) == chunk) {
            }
        f.close();
        // Nothing more fits, not even a byte in a new file.
        QFile probe(QDir(mountPoint).filePath("probe"));
        ASSERT_TRUE(probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        EXPECT_NE(probe.write("x", 1), 1);
        probe.close();
        probe.remove();
    }
    void makeRoom() { ASSERT_TRUE(QFile::remove(filler())); }
    QString filler() const { return QDir(mountPoint).filePath("filler"); }

    // Board files on the disk (any folder) that hold a page with n strokes
    // or more.
    int filesWithStrokes(size_t n) const
    {
        int found = 0;
        QStringList dirs{mountPoint, QDir(mountPoint).filePath("boards")};
        for (const QString& d : dirs)
            for (const QFileInfo& fi : QDir(d).entryInfoList({"*.tvboard"}, QDir::Files)) {
                BoardFile::Contents c;
                if (!BoardFile::read(fi.absoluteFilePath(), c, nullptr))
                    continue;
                for (const auto& p : c.pages)
                    if (p->strokes.size() >= n) {
                        ++found;
                        break;
                    }
            }
        return found;
    }


    // An older board on the disk: one white page without ink.
    QString olderBoard()
    {
        std::unique_ptr<Page> white(new Page(QString(), BT_WHITE, 0, 0));
        const QString path = QDir(mountPoint).filePath("older.tvboard");
        QString err;
        EXPECT_TRUE(BoardFile::writeAtomic(path, BoardFile::encode({white.get()}, 0, BT_WHITE), &err))
            << err.toStdString();
        return path;
    }

    QTemporaryDir tmp;
    QString mountPoint;
    QString oldDir;
    bool mounted = false;
};

}  // namespace

TEST_F(BoardDisk, ReopeningNeverDropsABoardThatIsNotOnDisk)
{
    const QString older = olderBoard();
    fill();
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);
    QStringList messages;
    QObject::connect(w, &BoardWidget::boardMessage, [&](const QString& m) { messages << m; });
    // The drawing cannot be saved: the flush says so.
    EXPECT_FALSE(w->saver()->flush(tsupport::SLOW_MS));

    w->openBoard(older);
    // Nothing asks the user here (a bare board): the drawing stays where it
    // is, and a message says why the file was not opened.
    const bool onBoard = pages.size() == 1 && pages[0]->strokes.size() == 1;
    EXPECT_TRUE(onBoard || filesWithStrokes(1) > 0) << "the drawing is gone";
    EXPECT_TRUE(onBoard);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().contains("cannot be saved")) << messages.last().toStdString();

    // Room again: saving is tried again by itself, no new stroke needed.
    makeRoom();
    ASSERT_TRUE(waitFor([&] { return filesWithStrokes(1) == 1; })) << "the failed save was not tried again";
    // Now the board is on disk and may go.
    EXPECT_TRUE(w->openBoard(older));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0]->strokes.empty());
    EXPECT_EQ(pages[0]->bkgType, BT_WHITE);
    EXPECT_EQ(filesWithStrokes(1), 1);
}

TEST_F(BoardDisk, TheUserMayAgreeToLoseABoardThatCannotBeSaved)
{
    const QString older = olderBoard();
    fill();
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);
    QStringList asked;
    bool answer = false;
    w->setDropQuestion([&](const QString& text) {
        asked << text;
        return answer;
    });
    EXPECT_FALSE(w->openBoard(older));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains("cannot be saved")) << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains(older)) << asked[0].toStdString();
    EXPECT_EQ(pages[0]->strokes.size(), 1u);
    // Opening a document asks the same way.
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString png = tmp.filePath("picture.png");  // off the full disk
    ASSERT_TRUE(picture.save(png));
    EXPECT_FALSE(w->openDocument(png));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(pages[0]->strokes.size(), 1u);
    // Told and agreed: the board goes.
    answer = true;
    EXPECT_TRUE(w->openBoard(older));
    EXPECT_EQ(asked.size(), 3);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0]->strokes.empty());
}

TEST_F(BoardDisk, EveryFailureToWriteShowsOnTheBoardWindow)
{
    fill();
    resetBoardState();
    auto* form = new BoardForm();
    form->resize(900, 600);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form, tsupport::SLOW_MS));
    BoardWidget* w = boardWidget;
    auto visibleBoxes = [&](const char* words) {
        int n = 0;
        for (QMessageBox* box : form->findChildren<QMessageBox*>())
            n += box->isVisible() && box->text().contains(words);
        return n;
    };
    zigzag(w, 0, 200, 200, 1000);
    w->saver()->changed();
    // The failed save, on the board itself, without blocking it.
    ASSERT_TRUE(waitFor([&] { return visibleBoxes("cannot be saved") == 1; }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Failing again (it is tried every few seconds) adds no second box.
    zigzag(w, 1, 200, 300, 3000);
    w->saver()->saveNow();
    QTest::qWait(3 * BoardSaver::RETRY_MS);
    EXPECT_EQ(visibleBoxes("cannot be saved"), 1);

    // The page as a picture and the pages as a PDF cannot be written either.
    EXPECT_TRUE(w->savePage().isEmpty());
    EXPECT_EQ(visibleBoxes("page was not saved"), 1);
    EXPECT_TRUE(w->savePdf().isEmpty());
    EXPECT_EQ(visibleBoxes("PDF was not saved"), 1);
    // No broken file stays behind.
    const QDir boards(QDir(mountPoint).filePath("boards"));
    EXPECT_TRUE(boards.entryList({"*.png", "*.pdf"}, QDir::Files).isEmpty()) << boards.entryList().join(' ').toStdString();

    // Room again: the board is saved without a new stroke, and the box that
    // said it could not be goes.
    makeRoom();
    ASSERT_TRUE(waitFor([&] { return filesWithStrokes(2) == 1; }));
    ASSERT_TRUE(waitFor([&] { return visibleBoxes("cannot be saved") == 0; }));
    EXPECT_FALSE(w->saver()->failing());
    EXPECT_FALSE(w->savePage().isEmpty());
    delete form;
    resetBoardState();
}
