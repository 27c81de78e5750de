// Where the terminal finds team.bin: the folder --config-dir names (the
// installed terminal's /etc/tavlo), which is only ever read, or else the
// working directory. And the programs' command lines as processes: bad
// arguments stop them before they start anything, --help and --version
// answer without a display. Runs in a network namespace of its own.
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace tsupport;

namespace {

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// The group number of the next announcement that reaches host.
int announcedGroup(UdpPeer& host)
{
    const auto d = host.receive(SLOW_MS);
    if (!d)
        return -1;
    const int at = d->indexOf("\"id\":");
    return at < 0 ? -1 : d->mid(at + 5).split(',').first().trimmed().toInt();
}

// The environment of a program started from a text console: no display.
QProcessEnvironment noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

}  // namespace

TEST(ConfigDir, NamedFolderWinsOverTheWorkingDirectory)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    UdpPeer host(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host.ok());
    TeamDir work("127.0.0.2", 7);
    // The classroom's folder, given relative to the working directory.
    ASSERT_TRUE(QDir(work.path()).mkdir("classroom"));
    QFile::copy(TeamDir("127.0.0.2", 8).file("team.bin"), work.file("classroom/team.bin"));
    {
        Terminal t(work.path(), xs.env(), {"--quiet", "--config-dir", "classroom"});
        ASSERT_TRUE(t.started());
        EXPECT_EQ(announcedGroup(host), 8) << t.err().toStdString();
        t.terminate();
        ASSERT_TRUE(t.waitForExit(SLOW_MS));
    }
    while (host.receive(300)) {
    }
    // Started by hand in the same folder without the option: the working
    // directory's file.
    Terminal t(work.path(), xs.env(), {"--quiet"});
    ASSERT_TRUE(t.started());
    EXPECT_EQ(announcedGroup(host), 7) << t.err().toStdString();
}

TEST(ConfigDir, MissingFileInTheNamedFolderStopsAndNothingIsWritten)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    TeamDir work(QByteArray{});
    TeamDir config(QByteArray{});
    Terminal t(work.path(), xs.env(), {"--config-dir", config.path()});
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForExit(SLOW_MS));
    EXPECT_FALSE(t.crashed());
    EXPECT_EQ(t.exitCode(), 1);
    const QByteArray err = t.err();
    EXPECT_TRUE(err.contains("Config file NOT exist!\n")) << err.toStdString();
    EXPECT_TRUE(err.contains("tavlo: the configuration file is " + config.path().toUtf8() + "/team.bin\n"))
        << err.toStdString();
    EXPECT_FALSE(t.out().contains("SendTo"));
    // Neither the named folder nor the working directory got a default file:
    // the installed terminal never writes into /etc.
    EXPECT_EQ(entries(config.path()), QStringList());
    EXPECT_EQ(entries(work.path()), QStringList());
}

TEST(ConfigDir, ConfigurationThatIsNoFileInTheNamedFolderStops)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    TeamDir work("127.0.0.2", 3);
    TeamDir config(QByteArray{});
    ASSERT_TRUE(QDir(config.path()).mkdir("team.bin"));
    Terminal t(work.path(), xs.env(), {"--config-dir", config.path()});
    ASSERT_TRUE(t.waitForExit(SLOW_MS));
    EXPECT_EQ(t.exitCode(), 1);
    EXPECT_TRUE(t.err().contains("Write Config File ERROR")) << t.err().toStdString();
    EXPECT_FALSE(t.out().contains("SendTo"));
}

TEST(ConfigDir, BadArgumentsStopTheTerminalBeforeItStarts)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    TeamDir work("127.0.0.2", 3);
    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{"--quite"}, "tavlo: unknown option '--quite'\n"},
        {{"--config-dir"}, "tavlo: --config-dir needs a value (DIR)\n"},
        {{"--quiet", "classroom"}, "tavlo: unexpected argument 'classroom'\n"},
        {{"--quiet", "--quiet"}, "tavlo: --quiet given twice\n"},
    };
    for (const Case& c : cases) {
        Terminal t(work.path(), xs.env(), c.args);
        ASSERT_TRUE(t.waitForExit(SLOW_MS)) << c.args.join(' ').toStdString();
        EXPECT_EQ(t.exitCode(), 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(t.err().startsWith(c.error)) << t.err().toStdString();
        EXPECT_TRUE(t.err().contains("Try 'tavlo --help' for more information.")) << t.err().toStdString();
        EXPECT_FALSE(t.out().contains("SendTo")) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(entries(work.path()), QStringList{"team.bin"});
}

TEST(ConfigDir, EveryProgramAnswersHelpAndVersionWithoutADisplay)
{
    struct Program {
        QString name;
        QStringList options;  // each must start a line of the help
    };
    const Program programs[] = {
        {"tavlo", {"--config-dir DIR", "--quiet", "--whiteboard [FILE]"}},
        {"tavlo-host", {"--bind ADDR", "--count N", "--timeout SECONDS", "--to ADDR", "--group N", "--ip A"}},
        {"tavlo-console", {"--bind ADDR", "--no-share", "--stdin"}},
    };
    for (const Program& p : programs) {
        const QString path = buildDir() + "/" + p.name;
        int code = -1;
        const QString version = QString::fromUtf8(run(path, {"--version"}, noDisplay(), SLOW_MS, &code));
        EXPECT_EQ(code, 0) << p.name.toStdString();
        EXPECT_EQ(version, p.name + " " + TAVLO_PROJECT_VERSION + "\n");

        const QString help = QString::fromUtf8(run(path, {"--help"}, noDisplay(), SLOW_MS, &code));
        EXPECT_EQ(code, 0) << p.name.toStdString();
        EXPECT_TRUE(help.startsWith("usage: " + p.name + " ")) << help.toStdString();
        for (const QString& o : p.options + QStringList{"-h, --help", "--version"})
            EXPECT_TRUE(help.contains(QRegularExpression("\\n  " + QRegularExpression::escape(o) + "  +\\S")))
                << p.name.toStdString() << " " << o.toStdString() << "\n" << help.toStdString();
    }
    // The terminal's help says where its files are.
    const QString help = QString::fromUtf8(run(tavloPath(), {"-h"}, noDisplay()));
    EXPECT_TRUE(help.contains("\nFiles:\n  team.bin ")) << help.toStdString();
    EXPECT_TRUE(help.contains(QRegularExpression("\\n  /\\S*/tavlo/team.bin  +\\S"))) << help.toStdString();
    EXPECT_TRUE(help.contains(QRegularExpression("\\n  /\\S*/xdg/autostart/tavlo.desktop  +\\S")))
        << help.toStdString();
}

TEST(ConfigDir, ConsoleRefusesBadArguments)
{
    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{"--bind"}, "tavlo-console: --bind needs a value (ADDR)\n"},
        {{"--bind", "classroom"}, "tavlo-console: --bind: 'classroom' is not a literal IPv4 or IPv6 address\n"},
        {{"--bind", "127.1"}, "tavlo-console: --bind: '127.1' is not a literal IPv4 or IPv6 address\n"},
        {{"--share"}, "tavlo-console: unknown option '--share'\n"},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.setProcessEnvironment(noDisplay());
        p.start(buildDir() + "/tavlo-console", c.args + QStringList{"-platform", "offscreen"});
        ASSERT_TRUE(p.waitForFinished(SLOW_MS));
        EXPECT_EQ(p.exitCode(), 2) << c.args.join(' ').toStdString();
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.startsWith(c.error)) << err.toStdString();
        EXPECT_FALSE(p.readAllStandardOutput().contains("listening"));
    }
}
