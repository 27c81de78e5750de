// A board that draws by itself and saves as it draws, for the tests that end
// it with SIGKILL. Usage: tavlo-board-crash-helper DIR COUNT
// Draws COUNT strokes, one every 15 ms, printing "DRAWN <n>" after each
// pen-up, then idles until killed. COUNT 0: draws without end and saves
// after every stroke, so that the writer is nearly always writing.
#include "BoardSaver.h"
#include "BoardWidget.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    if (argc < 3 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: tavlo-board-crash-helper DIR COUNT\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    BoardWidget w;
    w.resize(400, 300);
    w.show();
    w.newPage(QString(), true);
    w.setAutosave(true);
    int drawn = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (count > 0 && drawn >= count) {
            timer.stop();
            return;
        }
        const float y = 10 + (drawn % 28) * 10;
        const long t0 = 1000 + drawn * 1000L;
        touchModel = PEN;
        w.penDown(10, y, t0);
        for (int i = 1; i <= 30; ++i)
            w.penMove(10 + 12 * i, y + (i % 4) * 2, t0 + 5 * i);
        w.penUp(370, y, t0 + 200);
        w.finishPenStroke();
        touchModel = IDEL;
        if (drawn % 40 == 39)
            w.newPage(QString(), true);
        ++drawn;
        if (count == 0)
            w.saver()->saveNow();
        std::printf("DRAWN %d\n", drawn);
    });
    timer.start(15);
    return app.exec();
}
