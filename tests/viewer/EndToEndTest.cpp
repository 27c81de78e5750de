// The whole road: one terminal shares its screen, a second terminal (in a
// second network namespace, on a second X server) is told to show it.
#include "ClockPattern.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

using namespace tsupport;
using namespace vsupport;

namespace {

QString painterPath() { return tsupport::buildDir() + "/tavlo-test-painter"; }

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace";
        source = std::make_unique<tsupport::XServer>(1920, 1080, true);
        shown = std::make_unique<tsupport::XServer>(1280, 720, true);
        ASSERT_TRUE(source->ok() && shown->ok());
        net = std::make_unique<PeerNet>(QStringList{"10.213.0.2"});
        ASSERT_TRUE(net->ok());
        // Both terminals' host address is local; their announcements must
        // not come back to them as stops.
        ASSERT_TRUE(dropAnnouncementsTo("127.0.0.2"));
        ASSERT_TRUE(dropAnnouncementsTo("127.0.0.2", net->pid()));
        sharerDir = std::make_unique<tsupport::TeamDir>("127.0.0.2", 1);
        viewerDir = std::make_unique<tsupport::TeamDir>("127.0.0.2", 2);
    }
    void TearDown() override
    {
        viewer.reset();
        sharer.reset();
        if (painter.state() != QProcess::NotRunning) {
            painter.kill();
            painter.waitForFinished(tsupport::SLOW_MS);
        }
    }

    void paint(const QStringList& args)
    {
        if (painter.state() != QProcess::NotRunning) {
            painter.kill();
            painter.waitForFinished(tsupport::SLOW_MS);
        }
        painter.setProcessEnvironment(source->env());
        painter.start(painterPath(), args);
        ASSERT_TRUE(painter.waitForStarted(tsupport::SLOW_MS));
        ASSERT_TRUE(painter.waitForReadyRead(tsupport::SLOW_MS));  // "painted"
    }
    void startTerminals()
    {
        // A tick starts screen sharing before it prints its line: once the
        // line shows, the sharer serves its screen.
        sharer = std::make_unique<tsupport::Terminal>(sharerDir->path(), source->env());
        ASSERT_TRUE(sharer->waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
        viewer = std::make_unique<tsupport::Terminal>(
            viewerDir->path(), shown->env(),
            QStringList{"-t", QString::number(net->pid()), "-n", tsupport::tavloPath()}, "nsenter");
        ASSERT_TRUE(viewer->waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
    }
    void command(const QByteArray& json)
    {
        tsupport::UdpPeer host(QHostAddress(PeerNet::localAddress()), 0);
        ASSERT_TRUE(host.send(json, QHostAddress("10.213.0.2"), 55555));
    }
    void showSharer() { command(R"({"messageId":2,"groupId":1,"ip":"10.213.0.1"})"); }

    std::unique_ptr<tsupport::XServer> source, shown;
    std::unique_ptr<PeerNet> net;
    std::unique_ptr<tsupport::TeamDir> sharerDir, viewerDir;
    std::unique_ptr<tsupport::Terminal> sharer, viewer;
    QProcess painter;
};

TEST_F(EndToEndTest, SecondTerminalShowsTheFirstTerminalsScreen)
{
    paint({"color", "3080c0"});
    startTerminals();
    showSharer();
    auto win = tsupport::waitForWindow(shown->env(), "多屏", tsupport::SLOW_MS);
    ASSERT_TRUE(win.has_value()) << viewer->out().right(2000).constData();
    EXPECT_EQ(win->x, 0);
    EXPECT_EQ(win->y, 0);
    EXPECT_EQ(win->width, 1280);
    EXPECT_EQ(win->height, 720);
    EXPECT_TRUE(waitForColour(shown->env(), QColor(0x30, 0x80, 0xc0), tsupport::SLOW_MS));

    command(R"({"messageId":1})");
    EXPECT_TRUE(tsupport::waitForNoWindow(shown->env(), "多屏", tsupport::SLOW_MS));
    EXPECT_TRUE(sharer->running());
    EXPECT_TRUE(viewer->running());
}

TEST_F(EndToEndTest, PictureThatChangesEveryFrameArrivesWholeAndWithoutDecodingErrors)
{
    paint({"clock", "moving"});
    startTerminals();
    showSharer();
    ASSERT_TRUE(tsupport::waitForWindow(shown->env(), "多屏", tsupport::SLOW_MS).has_value());
    // The viewer's screen is stretched 1920 -> 1280: read the pattern from a
    // screenshot scaled back to the source's size. Screenshots are taken
    // until five different pictures have been seen (the picture keeps
    // changing), however slowly they come; from the first whole picture on,
    // at least four screenshots in five must show a whole one (the rest
    // may have met a picture on its way to the screen).
    int whole = 0, broken = 0;
    QSet<quint32> seen;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (seen.size() < 5 && !deadline.hasExpired()) {
        const QImage shot = tsupport::screenshot(shown->env());
        ASSERT_FALSE(shot.isNull());
        const QImage grey = shot.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_Grayscale8);
        const auto r = clockpattern::read(grey.constBits(), grey.bytesPerLine());
        if (r.valid) {
            ++whole;
            seen.insert(r.seq);
        } else if (whole > 0) {
            ++broken;
        }
        tsupport::pause(100);
    }
    EXPECT_GE(seen.size(), 5);
    EXPECT_LE(broken * 5, whole + broken) << whole << " whole pictures, " << broken << " broken";
    const QByteArray err = viewer->err();
    EXPECT_FALSE(err.contains("error while decoding")) << err.right(2000).constData();
    EXPECT_FALSE(err.contains("concealing")) << err.right(2000).constData();
    EXPECT_FALSE(viewer->out().contains("runtime error"));
}

}  // namespace
