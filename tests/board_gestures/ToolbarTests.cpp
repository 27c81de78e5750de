// The board window's toolbar: every button is its shortcut, touches and
// clicks on the toolbar never draw, collapsing, moving and full screen keep
// the ink, and the shortcuts keep working. Real event routing through the
// window where it matters (which widget a touch or a click reaches).
#include "BoardForm.h"
#include "BoardTestSupport.h"
#include "BoardToolbar.h"
#include "PageStrip.h"
#include "QImgBtn.h"

#include <QAction>
#include <QFileDialog>

#include <QDir>
#include <QLabel>
#include <QSet>
#include <QTemporaryDir>
#include <map>
#include <utility>

using namespace boardtest;

namespace {

using Keys = std::vector<std::pair<int, int>>;  // key, modifiers

// What each button must deliver: its shortcut.
const std::map<QString, Keys>& shortcuts()
{
    static const std::map<QString, Keys> table = {
        {"pen_soft", {{Qt::Key_P, 0}, {Qt::Key_S, 0}}},
        {"pen_hard", {{Qt::Key_P, 0}, {Qt::Key_H, 0}}},
        {"colour_0", {{Qt::Key_1, 0}}},
        {"colour_1", {{Qt::Key_2, 0}}},
        {"colour_2", {{Qt::Key_3, 0}}},
        {"colour_3", {{Qt::Key_4, 0}}},
        {"colour_4", {{Qt::Key_5, 0}}},
        {"colour_5", {{Qt::Key_6, 0}}},
        {"size_0", {{Qt::Key_7, 0}}},
        {"size_1", {{Qt::Key_8, 0}}},
        {"size_2", {{Qt::Key_9, 0}}},
        {"eraser_rect", {{Qt::Key_E, 0}}},
        {"eraser_free", {{Qt::Key_T, 0}}},
        {"undo", {{Qt::Key_Z, Qt::ControlModifier}}},
        {"redo", {{Qt::Key_Y, Qt::ControlModifier}}},
        {"clear", {{Qt::Key_Delete, 0}}},
        {"page_new", {{Qt::Key_N, Qt::ControlModifier}}},
        {"page_prior", {{Qt::Key_PageUp, 0}}},
        {"page_next", {{Qt::Key_PageDown, 0}}},
        {"background", {{Qt::Key_B, 0}}},
        {"grid", {{Qt::Key_G, 0}}},
        {"grid_size", {{Qt::Key_G, Qt::ShiftModifier}}},
        {"save_png", {{Qt::Key_S, Qt::ControlModifier}}},
        {"save_pdf", {{Qt::Key_P, Qt::ControlModifier}}},
        {"reopen", {{Qt::Key_O, Qt::ControlModifier}}},
        {"open_document", {{Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier}}},
        {"full_screen", {{Qt::Key_F11, 0}}},
    };
    return table;
}

// Records the key presses that reach the board.
class KeyRecorder : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            keys.push_back({k->key(), static_cast<int>(k->modifiers())});
        }
        return false;
    }
    Keys keys;
};

// Everything a button or key may change, and what the board shows.
struct Snapshot {
    int tool, model, colour, size, bkg, grid, gridSize, pageIdx;
    std::vector<size_t> strokes;  // per page
    QSize view;
    bool fullScreen;
    QImage shown;
    QImage saved;  // the page a save wrote, if any

    bool operator==(const Snapshot& o) const
    {
        return tool == o.tool && model == o.model && colour == o.colour && size == o.size && bkg == o.bkg &&
               grid == o.grid && gridSize == o.gridSize && pageIdx == o.pageIdx && strokes == o.strokes &&
               view == o.view && fullScreen == o.fullScreen && shown == o.shown && saved == o.saved;
    }
};

// Every point of every stroke of every page.
std::vector<std::vector<QPointF>> allInk()
{
    std::vector<std::vector<QPointF>> ink;
    for (Page* p : pages)
        for (Stroke* s : p->strokes) {
            ink.emplace_back();
            for (Segment* seg : s->segments)
                for (StrokePoint* sp : seg->points)
                    ink.back().push_back(QPointF(sp->GetX(), sp->GetY()));
        }
    return ink;
}

// The board of a whole window (form and toolbar) instead of a bare widget;
// strokes (fingerStroke) go to the board itself.
class Toolbar : public BoardTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        open();
    }

    void TearDown() override
    {
        close();
        QDir::setCurrent(oldCwd);
    }

    void open()
    {
        resetBoardState();
        boardClock = fakeClock;
        form = new BoardForm();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form, 60000));
        QCoreApplication::processEvents();
        board = boardWidget;
        bar = form->findChild<BoardToolbar*>();
        ASSERT_NE(bar, nullptr);
    }

    void close()
    {
        EXPECT_TRUE(waitForSpringBacks());
        delete form;
        form = nullptr;
        board = nullptr;
        resetBoardState();
    }

    // Two pages with ink, the second one shown, a choice of tool, pen,
    // colour and size that every button changes.
    void prepare()
    {
        fingerStroke(QPointF(200, 400), QPointF(600, 450));
        QTest::keyClick(board, Qt::Key_N, Qt::ControlModifier);
        fingerStroke(QPointF(250, 300), QPointF(700, 500));
        fingerStroke(QPointF(250, 500), QPointF(700, 300));
        QTest::keyClick(board, Qt::Key_H);
        QTest::keyClick(board, Qt::Key_2);
        QTest::keyClick(board, Qt::Key_8);
        QTest::keyClick(board, Qt::Key_T);
    }

    Snapshot snapshot(const QStringList& before)
    {
        QCoreApplication::processEvents();
        Snapshot s{eraserStatus, penModelIdx, penColorIdx, penSizeIdx, page ? page->getBkgType() : -1,
                   gridTypeIdx, gridSizeIdx, pageIdx, {}, board->size(), form->isFullScreen(),
                   board->grab().toImage(), QImage()};
        for (Page* p : pages)
            s.strokes.push_back(p->strokes.size());
        const QDir boards(dir.filePath("boards"));
        for (const QString& f : boards.entryList({"*.png"}))
            if (!before.contains(f)) {
                s.saved = QImage(boards.filePath(f));
                QFile::remove(boards.filePath(f));
            }
        return s;
    }

    // The board after prepare(), the operation (button or keys), and a
    // stroke across the page that shows the chosen tool, pen, colour and size.
    Snapshot run(const QString& name, bool viaButton)
    {
        close();
        open();
        prepare();
        const QStringList before = QDir(dir.filePath("boards")).entryList({"*.png"});
        if (viaButton) {
            QTest::mouseClick(bar->button(name), Qt::LeftButton);
        } else {
            for (const auto& k : shortcuts().at(name))
                QTest::keyClick(board, static_cast<Qt::Key>(k.first), Qt::KeyboardModifiers(k.second));
        }
        QCoreApplication::processEvents();
        fingerStroke(QPointF(150, 350), QPointF(650, 350));
        return snapshot(before);
    }

    QTemporaryDir dir;
    QString oldCwd;
    BoardForm* form = nullptr;
    BoardToolbar* bar = nullptr;
};

TEST_F(Toolbar, PicturesAreSeventyPixelsThreeStatesAndAllDifferent)
{
    QSet<QByteArray> normals;
    for (const QString& name : bar->buttonNames()) {
        QImage pic[3];
        for (int s = 0; s < 3; ++s) {
            pic[s] = QImage(QString(":/toolbar/%1_%2.png").arg(name).arg(s));
            ASSERT_EQ(pic[s].size(), QSize(70, 70)) << name.toStdString() << " " << s;
        }
        EXPECT_NE(pic[0], pic[1]) << name.toStdString();
        EXPECT_NE(pic[1], pic[2]) << name.toStdString();
        // The corners stay clear for the selection mark.
        EXPECT_EQ(qAlpha(pic[0].pixel(1, 35)), 0) << name.toStdString();
        const QImage n = pic[0].convertToFormat(QImage::Format_ARGB32);
        normals.insert(QByteArray(reinterpret_cast<const char*>(n.constBits()), n.sizeInBytes()));
        // Shown at its own size: the button on screen is the picture.
        QImgBtn* b = bar->button(name);
        EXPECT_EQ(b->size(), QSize(70, 70));
        EXPECT_EQ(b->iconSize(), QSize(70, 70));
        EXPECT_FALSE(b->isWindow()) << name.toStdString();
        // The row of pictures the button points to lives as long as it does.
        for (int s = 0; s < 3; ++s)
            EXPECT_EQ(b->pixmap[s]->toImage().convertToFormat(QImage::Format_ARGB32),
                      pic[s].convertToFormat(QImage::Format_ARGB32))
                << name.toStdString() << " " << s;
    }
    EXPECT_EQ(normals.size(), bar->buttonNames().size());
}

TEST_F(Toolbar, EveryButtonTriggersTheActionsThatCarryItsShortcut)
{
    QStringList expected;
    for (const auto& e : shortcuts())
        expected << e.first;
    QStringList names = bar->buttonNames();
    names.removeAll("toolbar");
    names.removeAll("pages");  // the window's strip of pages: no key
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);

    // The keys that trigger each action of the board, in order.
    Keys triggered;
    std::vector<QMetaObject::Connection> links;
    for (QAction* a : board->actions())
        links.push_back(QObject::connect(a, &QAction::triggered, [&triggered, a] {
            const int k = a->shortcut()[0];
            triggered.push_back({k & ~Qt::KeyboardModifierMask, k & Qt::KeyboardModifierMask});
        }));
    // No key event reaches the board from a button.
    KeyRecorder rec;
    board->installEventFilter(&rec);
    for (const auto& e : shortcuts()) {
        triggered.clear();
        QTest::mouseClick(bar->button(e.first), Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(triggered, e.second) << e.first.toStdString();
        EXPECT_TRUE(rec.keys.empty()) << e.first.toStdString();
        if (QWidget* dialog = form->documentDialog())
            dialog->close();
    }
    board->removeEventFilter(&rec);
    for (const auto& l : links)
        QObject::disconnect(l);
    if (form->isFullScreen())
        QTest::keyClick(board, Qt::Key_F11);

    // And the pages button shows and hides the strip of pages.
    ASSERT_NE(bar->button("pages"), nullptr);
    EXPECT_FALSE(form->pageStrip()->isVisible());
    QTest::mouseClick(bar->button("pages"), Qt::LeftButton);
    EXPECT_TRUE(form->pageStrip()->isVisible());
    QTest::mouseClick(bar->button("pages"), Qt::LeftButton);
    EXPECT_FALSE(form->pageStrip()->isVisible());
}

// Redo, reopen and the PDF are checked by the key above: the board has
// those operations behind those keys or not at all.
TEST_F(Toolbar, EachButtonDoesWhatItsShortcutDoesOnStateAndPixels)
{
    for (const auto& e : shortcuts()) {
        const QString& name = e.first;
        if (name == "redo" || name == "reopen" || name == "save_pdf" || name == "open_document")
            continue;
        const Snapshot key = run(name, false);
        const Snapshot button = run(name, true);
        EXPECT_TRUE(key == button) << name.toStdString();
        if (name == "save_png") {
            EXPECT_FALSE(button.saved.isNull());
        } else if (name == "full_screen") {
            EXPECT_TRUE(button.fullScreen);
        } else if (name == "colour_3") {
            EXPECT_EQ(button.colour, 3);
        }
    }
}

TEST_F(Toolbar, TouchesAndClicksOnTheToolbarNeverDraw)
{
    const size_t ink = page->strokes.size();
    QPoint gap = bar->mapTo(form, QPoint(2, 2));
    ASSERT_EQ(form->childAt(gap), bar);

    // A finger on the toolbar's background that slides onto the board.
    QTest::touchEvent(form, touchScreen()).press(0, gap, form);
    QTest::touchEvent(form, touchScreen()).move(0, QPoint(500, 400), form);
    QTest::touchEvent(form, touchScreen()).move(0, QPoint(600, 500), form);
    QTest::touchEvent(form, touchScreen()).release(0, QPoint(600, 500), form);
    QCoreApplication::processEvents();
    EXPECT_EQ(page->strokes.size(), ink);
    EXPECT_EQ(touchModel, IDEL);

    // A tap on a button picks its colour and draws nothing (the slide
    // above moved the toolbar).
    const QPoint colour = bar->button("colour_2")->geometry().center() + bar->pos();
    QTest::touchEvent(form, touchScreen()).press(0, colour, form);
    QTest::touchEvent(form, touchScreen()).release(0, colour, form);
    QCoreApplication::processEvents();
    EXPECT_EQ(penColorIdx, 2);
    EXPECT_EQ(page->strokes.size(), ink);

    // The mouse on a button and on the background.
    QWindow* win = form->windowHandle();
    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, bar->button("size_0")->geometry().center() + bar->pos());
    EXPECT_EQ(penSizeIdx, 0);
    bar->moveToEdge(BoardToolbar::Top, 0.5);
    gap = bar->mapTo(form, QPoint(2, 2));
    QTest::mousePress(win, Qt::LeftButton, Qt::NoModifier, gap);
    QTest::mouseMove(win, QPoint(300, 400));
    QTest::mouseMove(win, QPoint(500, 620));
    QTest::mouseRelease(win, Qt::LeftButton, Qt::NoModifier, QPoint(500, 620));
    QCoreApplication::processEvents();
    EXPECT_EQ(page->strokes.size(), ink);
    EXPECT_EQ(touchModel, IDEL);
    EXPECT_EQ(inkPixels(QRect(0, 0, VIEW_WIDTH, VIEW_HEIGHT)), 0);
    // That was a drag of the toolbar: it went to the nearest edge.
    EXPECT_EQ(bar->edge(), BoardToolbar::Bottom);
    EXPECT_EQ(bar->geometry().bottom(), form->height() - 1);
}

TEST_F(Toolbar, AStrokeThatRunsUnderTheToolbarGoesOn)
{
    // Up to 10 pixels below the toolbar's top edge, under its buttons.
    const int under = bar->geometry().top() + 10;
    ASSERT_EQ(form->childAt(QPoint(300, under))->parentWidget(), bar);
    QWindow* win = form->windowHandle();
    QTest::mousePress(win, Qt::LeftButton, Qt::NoModifier, QPoint(300, 450));
    for (int y = 440; y >= under; y -= 10) {
        now() += 8;
        QTest::mouseMove(win, QPoint(300, y));
    }
    QTest::mouseMove(win, QPoint(300, under));
    now() += 8;
    QTest::mouseMove(win, QPoint(400, 450));
    now() += 8;
    QTest::mouseRelease(win, Qt::LeftButton, Qt::NoModifier, QPoint(400, 450));
    QCoreApplication::processEvents();
    ASSERT_EQ(page->strokes.size(), 1u);
    std::vector<std::vector<QPointF>> ink = allInk();
    float top = 1e9;
    for (const QPointF& p : ink[0])
        top = std::min<float>(top, p.y());
    EXPECT_LE(top, under + 1);
    EXPECT_NEAR(ink[0].back().x(), 400, 1);

    // The same with a finger.
    now() += 1000;
    QTest::touchEvent(form, touchScreen()).press(1, QPoint(700, 450), form);
    for (int y = 440; y >= under; y -= 10) {
        now() += 8;
        QTest::touchEvent(form, touchScreen()).move(1, QPoint(700, y), form);
    }
    QTest::touchEvent(form, touchScreen()).move(1, QPoint(700, under), form);
    now() += 8;
    QTest::touchEvent(form, touchScreen()).move(1, QPoint(800, 450), form);
    now() += 8;
    QTest::touchEvent(form, touchScreen()).release(1, QPoint(800, 450), form);
    QCoreApplication::processEvents();
    ASSERT_EQ(page->strokes.size(), 2u);
    ink = allInk();
    top = 1e9;
    for (const QPointF& p : ink[1])
        top = std::min<float>(top, p.y());
    EXPECT_LE(top, under + 1);
    EXPECT_NEAR(ink[1].back().x(), 800, 1);
}

TEST_F(Toolbar, CollapsingMovingAndFullScreenKeepEveryPagesInk)
{
    prepare();
    const auto ink = allInk();
    ASSERT_EQ(pages.size(), 2u);
    std::vector<QImage> exported;
    for (int i = 0; i < 2; ++i) {
        QPixmap* pm = board->savePageToPixmap(i);
        exported.push_back(pm->toImage());
        delete pm;
    }
    const QRect boardGeometry = board->geometry();
    const float rate = xRate, left = xLeft, top = xTop;
    auto sameInk = [&](const char* step) {
        QCoreApplication::processEvents();
        EXPECT_EQ(allInk(), ink) << step;
        EXPECT_EQ(pages.size(), 2u) << step;
        EXPECT_EQ(pageIdx, 1) << step;
        EXPECT_FLOAT_EQ(xRate, rate) << step;
        EXPECT_FLOAT_EQ(xLeft, left) << step;
        EXPECT_FLOAT_EQ(xTop, top) << step;
        for (int i = 0; i < 2; ++i) {
            QPixmap* pm = board->savePageToPixmap(i);
            const QImage img = pm->toImage();
            delete pm;
            // The page's own area (an export follows the view's size).
            const QRect common = img.rect() & exported[i].rect();
            EXPECT_EQ(img.copy(common), exported[i].copy(common)) << step << " page " << i;
        }
    };
    QWindow* win = form->windowHandle();
    const QPoint handle = bar->button("toolbar")->geometry().center() + bar->pos();

    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, handle);
    EXPECT_TRUE(bar->isCollapsed());
    EXPECT_EQ(bar->size(), QSize(78, 78));
    EXPECT_FALSE(bar->button("undo")->isVisible());
    EXPECT_EQ(board->geometry(), boardGeometry);
    sameInk("collapsed");

    // Dragged by its button to the left edge: no click, still collapsed.
    const QPoint h2 = bar->button("toolbar")->geometry().center() + bar->pos();
    QTest::mousePress(win, Qt::LeftButton, Qt::NoModifier, h2);
    QTest::mouseMove(win, h2 + QPoint(0, 100));
    QTest::mouseMove(win, QPoint(20, 320));
    QTest::mouseRelease(win, Qt::LeftButton, Qt::NoModifier, QPoint(20, 320));
    EXPECT_EQ(bar->edge(), BoardToolbar::Left);
    EXPECT_EQ(bar->x(), 0);
    EXPECT_TRUE(bar->isCollapsed());
    EXPECT_EQ(board->geometry(), boardGeometry);
    sameInk("moved");

    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, bar->button("toolbar")->geometry().center() + bar->pos());
    EXPECT_FALSE(bar->isCollapsed());
    EXPECT_TRUE(bar->button("undo")->isVisible());
    // In columns along the left edge, inside the window.
    EXPECT_GT(bar->height(), bar->width());
    EXPECT_LE(bar->geometry().bottom(), form->height() - 1);
    sameInk("expanded");

    QTest::mouseClick(bar->button("full_screen"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->isFullScreen());
    EXPECT_EQ(board->size(), form->size());
    EXPECT_EQ(QSize(VIEW_WIDTH, VIEW_HEIGHT), form->size());
    EXPECT_EQ(bar->x(), 0);
    sameInk("full screen");

    QTest::keyClick(board, Qt::Key_F11);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isFullScreen());
    EXPECT_EQ(form->size(), QSize(1109, 641));
    EXPECT_EQ(QSize(VIEW_WIDTH, VIEW_HEIGHT), QSize(1109, 641));
    sameInk("back");
}

TEST_F(Toolbar, ShortcutsKeepWorkingAndTheSelectionFollowsThem)
{
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form, 60000));
    QWindow* win = form->windowHandle();
    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, bar->button("colour_1")->geometry().center() + bar->pos());
    EXPECT_EQ(penColorIdx, 1);
    EXPECT_TRUE(bar->selected().contains("colour_1"));
    // The board keeps the keyboard: keys typed into the window reach it.
    EXPECT_EQ(QApplication::focusWidget(), board);
    QTest::keyClick(win, Qt::Key_4);
    QTest::keyClick(win, Qt::Key_E);
    QTest::keyClick(win, Qt::Key_7);
    EXPECT_EQ(penColorIdx, 3);
    EXPECT_EQ(eraserStatus, ES_ERASER_RECT);
    EXPECT_EQ(penSizeIdx, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->selected(), QStringList({"eraser_rect", "colour_3", "size_0"}));

    // On screen: a selected button stands on the bright mark, the others not.
    QTest::qWait(1);
    const QImage shown = bar->grab().toImage();
    auto mark = [&](const char* name) {
        const QRect g = bar->button(name)->geometry();
        return shown.pixel(g.left() + 1, g.center().y()) == qRgb(0xf2, 0xb1, 0x34);
    };
    EXPECT_TRUE(mark("colour_3"));
    EXPECT_TRUE(mark("eraser_rect"));
    EXPECT_TRUE(mark("size_0"));
    EXPECT_FALSE(mark("colour_1"));
    EXPECT_FALSE(mark("pen_soft"));

    // Pages: the label follows the keys and the buttons.
    QTest::keyClick(win, Qt::Key_P);
    fingerStroke(QPointF(200, 400), QPointF(500, 400));
    QTest::keyClick(win, Qt::Key_N, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->pageLabel()->text(), "page 2 of 2");
    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier, bar->button("page_prior")->geometry().center() + bar->pos());
    EXPECT_EQ(bar->pageLabel()->text(), "page 1 of 2");
    EXPECT_EQ(pageIdx, 0);
}

}  // namespace
