// Where the board writes: one folder, "boards" under the working directory
// unless the program names another; automatic saves pruned to the newest 50
// or 500 MB, never a board the user opened or the one being saved into.
#include "BoardFileTestUtil.h"
#include "BoardFolder.h"
#include "BoardSaver.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace btest;
using namespace bftest;

namespace {

const QDateTime T0 = QDateTime::fromSecsSinceEpoch(1700000000);
const qint64 MB = 1000 * 1000;

std::vector<BoardFolder::Entry> saves(int count, qint64 bytes)
{
    std::vector<BoardFolder::Entry> out;
    for (int i = 0; i < count; ++i)
        out.push_back({QString("/b/board-%1.tvboard").arg(i, 3, 10, QChar('0')), bytes, T0.addSecs(i)});
    return out;
}

class BoardFolderTest : public FolderBoardTest {
protected:
    void TearDown() override
    {
        FolderBoardTest::TearDown();
        BoardFolder::setPath(QString());
    }

    // A file of the given size (sparse beyond its first bytes) modified at
    // when.
    static void file(const QString& path, const QByteArray& bytes, qint64 size, const QDateTime& when)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        if (size > bytes.size())
            ASSERT_TRUE(f.resize(size));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
};

}  // namespace

TEST(BoardFolderPrune, TheNewestFiftyOrFiveHundredMegabytesStay)
{
    EXPECT_EQ(BoardFolder::MAX_AUTOMATIC_SAVES, 50);
    EXPECT_EQ(BoardFolder::MAX_AUTOMATIC_BYTES, 500 * MB);
    // By count: the five oldest of 55 go.
    QStringList gone = BoardFolder::pruneList(saves(55, MB), {}, 50, 500 * MB);
    EXPECT_EQ(gone, (QStringList{"/b/board-004.tvboard", "/b/board-003.tvboard", "/b/board-002.tvboard",
                                 "/b/board-001.tvboard", "/b/board-000.tvboard"}));
    // By size first: 30 files of 20 MB, 25 fit.
    EXPECT_EQ(BoardFolder::pruneList(saves(30, 20 * MB), {}, 50, 500 * MB).size(), 5);
    // Exactly at the limits all stay.
    EXPECT_TRUE(BoardFolder::pruneList(saves(50, 10 * MB), {}, 50, 500 * MB).isEmpty());
    // The newest are kept, not the smallest: after one that does not fit,
    // no older one stays, however small.
    std::vector<BoardFolder::Entry> mixed = saves(3, MB);
    mixed[1].bytes = 499 * MB;
    EXPECT_EQ(BoardFolder::pruneList(mixed, {}, 50, 500 * MB), QStringList{"/b/board-000.tvboard"});
    // What the user opened and the file being saved into neither go nor
    // count; files that are no automatic saves are not touched.
    std::vector<BoardFolder::Entry> all = saves(52, MB);
    all.push_back({"/b/lesson.tvboard", MB, T0.addSecs(-100)});
    all.push_back({"/b/board-notes.png", MB, T0.addSecs(-100)});
    gone = BoardFolder::pruneList(all, {"/b/board-000.tvboard", "/b/board-051.tvboard"}, 50, 500 * MB);
    EXPECT_TRUE(gone.isEmpty()) << gone.join(' ').toStdString();
    gone = BoardFolder::pruneList(all, {"/b/board-000.tvboard"}, 50, 500 * MB);
    EXPECT_EQ(gone, QStringList{"/b/board-001.tvboard"});
}

TEST_F(BoardFolderTest, BoardsGoIntoTheBoardsFolderAndTheOldestAutomaticSavesGo)
{
    // 55 automatic saves of earlier sessions, a board saved under a name of
    // its own, and an exported picture.
    const QDir boards(tmp.filePath("boards"));
    ASSERT_TRUE(QDir().mkpath(boards.path()));
    std::unique_ptr<Page> green(new Page(QString(), BT_GREEN, 1, 2));
    const QByteArray empty = BoardFile::encode({green.get()}, 0, BT_GREEN);
    const QDateTime start = QDateTime::currentDateTime().addDays(-30);
    for (int i = 0; i < 55; ++i)
        file(boards.filePath(QString("board-202001%1-080000-000.tvboard").arg(i + 1, 2, 10, QChar('0'))), empty, 0,
             start.addSecs(3600 * i));
    file(boards.filePath("lesson.tvboard"), empty, 0, start.addDays(-1));
    file(boards.filePath("board-20200101-080000-000.png"), QByteArray("png"), 0, start.addDays(-1));
    // The oldest automatic save, opened by name.
    const QString opened = boards.filePath("board-20200101-080000-000.tvboard");

    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    ASSERT_TRUE(w->openBoard(opened));
    zigzag(w, 0, 20, 20, 1000);
    ASSERT_TRUE(w->saver()->flush(tsupport::SLOW_MS));

    // Nothing in the working directory but the folder.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList());
    // The session's file is in the folder.
    const QStringList automatic = boards.entryList({"board-*.tvboard"}, QDir::Files, QDir::Name);
    const QString session = QFileInfo(w->saver()->path()).fileName();
    EXPECT_EQ(QFileInfo(w->saver()->path()).absolutePath(), boards.absolutePath());
    EXPECT_TRUE(automatic.contains(session));
    // Fifty automatic saves besides it and the one opened: the newest.
    EXPECT_TRUE(automatic.contains(QFileInfo(opened).fileName()));
    EXPECT_EQ(automatic.size(), 52) << automatic.join(' ').toStdString();
    for (int i = 2; i <= 5; ++i)
        EXPECT_FALSE(automatic.contains(QString("board-202001%1-080000-000.tvboard").arg(i, 2, 10, QChar('0'))));
    EXPECT_TRUE(automatic.contains("board-20200106-080000-000.tvboard"));
    // The named board and the picture stay.
    EXPECT_TRUE(QFileInfo::exists(boards.filePath("lesson.tvboard")));
    EXPECT_TRUE(QFileInfo::exists(boards.filePath("board-20200101-080000-000.png")));

    // A saved board of 600 MB (sparse here) is over the size limit by itself
    // when the next session starts: it goes with everything older, but not
    // the board that session saves into.
    file(boards.filePath("board-20300101-000000-000.tvboard"), empty, 600 * MB, QDateTime::currentDateTime());
    resetBoardState();
    w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);
    ASSERT_TRUE(w->saver()->flush(tsupport::SLOW_MS));
    EXPECT_EQ(boards.entryList({"board-*.tvboard"}, QDir::Files), QStringList{QFileInfo(w->saver()->path()).fileName()});
    EXPECT_TRUE(QFileInfo::exists(boards.filePath("lesson.tvboard")));
}

TEST_F(BoardFolderTest, TheFolderIsOneSettingForBoardsPicturesAndPdfs)
{
    const QString elsewhere = tmp.filePath("data/tavlo/boards");
    BoardFolder::setPath(elsewhere);
    EXPECT_EQ(BoardFolder::path(), elsewhere);
    BoardWidget* w = makeBoard(400, 300);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);
    ASSERT_TRUE(w->saver()->flush(tsupport::SLOW_MS));
    EXPECT_EQ(QFileInfo(w->saver()->path()).absolutePath(), elsewhere);
    EXPECT_EQ(QFileInfo(w->savePage()).absolutePath(), elsewhere);
    EXPECT_EQ(QFileInfo(w->savePdf()).absolutePath(), elsewhere);
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("boards")));
    // Ctrl+O looks there too.
    w->setAutosave(false);
    w->setAutosave(true);
    zigzag(w, 1, 20, 80, 2000);
    ASSERT_TRUE(w->saver()->flush(tsupport::SLOW_MS));
    ASSERT_TRUE(w->openRecentBoard());
    EXPECT_EQ(pages[0]->strokes.size(), 1u);

    // A folder that cannot be made (a file stands in its place) fails the
    // save, which says so.
    BoardFolder::setPath(QString());
    EXPECT_EQ(BoardFolder::path(), tmp.filePath("boards"));
    file(tmp.filePath("boards"), QByteArray("not a folder"), 0, QDateTime::currentDateTime());
    QStringList failures;
    resetBoardState();
    w = makeBoard(400, 300);
    w->setAutosave(true);
    QObject::connect(w->saver(), &BoardSaver::saveFailed, [&](const QString&, const QString& e) { failures << e; });
    zigzag(w, 0, 20, 20, 1000);
    EXPECT_FALSE(w->saver()->flush(tsupport::SLOW_MS));
    QCoreApplication::processEvents();
    EXPECT_FALSE(failures.isEmpty());
    EXPECT_TRUE(w->savePage().isEmpty());
}
