#include "BoardActions.h"

#include "BoardWidget.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>

BoardActions::BoardActions(BoardWidget* board) : QObject(board), board_(board)
{
    BoardWidget* b = board;
    auto on = [](QAction* a, auto f) { QObject::connect(a, &QAction::triggered, a, f); };

    on(add("tool_pen", tr("Pen"), {"P"}), [b] { b->setTool(ES_PEN); });
    on(add("tool_eraser_rect", tr("Rectangle eraser"), {"E"}), [b] { b->setTool(ES_ERASER_RECT); });
    on(add("tool_eraser_free", tr("Free-form eraser"), {"T"}), [b] { b->setTool(ES_ERASER_TRAP); });
    on(add("pen_soft", tr("Soft pen"), {"S"}), [b] { b->setPenModel(0); });
    on(add("pen_hard", tr("Hard pen"), {"H"}), [b] { b->setPenModel(1); });
    static const char* const colours[6] = {QT_TR_NOOP("Red"),     QT_TR_NOOP("Blue"),    QT_TR_NOOP("Green"),
                                           QT_TR_NOOP("Yellow"),  QT_TR_NOOP("Magenta"), QT_TR_NOOP("White")};
    for (int i = 0; i < 6; ++i)
        on(add(QString("colour_%1").arg(i), tr(colours[i]), {QString::number(i + 1)}), [b, i] { b->setPenColour(i); });
    static const char* const sizes[3] = {QT_TR_NOOP("Small pen"), QT_TR_NOOP("Medium pen"), QT_TR_NOOP("Large pen")};
    for (int i = 0; i < 3; ++i)
        on(add(QString("size_%1").arg(i), tr(sizes[i]), {QString::number(i + 7)}), [b, i] { b->setPaintThickness(i); });
    on(add("undo", tr("Undo"), {"Ctrl+Z"}), [b] { b->undo(); });
    on(add("redo", tr("Redo"), {"Ctrl+Y", "Ctrl+Shift+Z"}), [b] { b->redo(); });
    on(add("clear", tr("Clear the page"), {"Del"}), [b] { b->clear(); });
    on(add("page_new", tr("New page"), {"Ctrl+N"}), [b] { b->newPage(QString(), pageable); });
    on(add("page_prior", tr("Previous page"), {"PgUp"}), [b] { b->priorPage(); });
    on(add("page_next", tr("Next page"), {"PgDown"}), [b] { b->nextPage(); });
    on(add("page_delete", tr("Delete the page"), {"Ctrl+Del"}), [b] { b->deletePage(); });
    on(add("page_duplicate", tr("Duplicate the page"), {"Ctrl+D"}), [b] { b->duplicatePage(); });
    on(add("page_earlier", tr("Move the page earlier"), {"Ctrl+Shift+PgUp"}), [b] { b->movePage(-1); });
    on(add("page_later", tr("Move the page later"), {"Ctrl+Shift+PgDown"}), [b] { b->movePage(1); });
    on(add("background", tr("Background"), {"B"}), [b] { b->cycleBackground(); });
    on(add("grid", tr("Grid"), {"G"}), [b] { b->cycleGrid(); });
    on(add("grid_size", tr("Grid size"), {"Shift+G"}), [b] { b->cycleGridSize(); });
    on(add("save_png", tr("Save the page as a picture"), {"Ctrl+S"}), [b] { b->savePage(); });
    on(add("save_pdf", tr("Save all pages as a PDF"), {"Ctrl+P"}), [b] { b->savePdf(); });
    on(add("reopen", tr("Reopen the last board"), {"Ctrl+O"}), [b] { b->openRecentBoard(); });
    on(add("open_document", tr("Open a PDF or picture"), {"Ctrl+Shift+O"}), [b] { b->askForDocument(); });
    on(add("full_screen", tr("Full screen"), {"F11"}), [b] { b->toggleFullScreen(); });
}

QAction* BoardActions::add(const QString& name, const QString& text, const QStringList& keys)
{
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    QList<QKeySequence> shortcuts;
    for (const QString& k : keys)
        shortcuts << QKeySequence(k, QKeySequence::PortableText);
    a->setShortcuts(shortcuts);
    // Active while the board's window is: the buttons around the board never
    // take the focus from it, and a message box beside it is a window of
    // its own.
    a->setShortcutContext(Qt::WindowShortcut);
    board_->addAction(a);
    actions_.push_back(a);
    return a;
}

QAction* BoardActions::action(const QString& name) const
{
    for (QAction* a : actions_)
        if (a->objectName() == name)
            return a;
    return nullptr;
}

QStringList BoardActions::names() const
{
    QStringList out;
    for (QAction* a : actions_)
        out << a->objectName();
    return out;
}

bool BoardActions::trigger(QKeyEvent* event) const
{
    // The keypad's digits are the digits.
    const int mods = static_cast<int>(event->modifiers() & ~Qt::KeypadModifier);
    const QKeySequence pressed(event->key() | mods);
    for (QAction* a : actions_)
        for (const QKeySequence& k : a->shortcuts())
            if (k == pressed) {
                if (a->isEnabled())
                    a->trigger();
                return true;
            }
    return false;
}
