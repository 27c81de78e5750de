// The programs' command lines: what is accepted and refused, and what
// --help and --version say.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

// The terminal's shape: a flag, a value, an optional value, and files.
CommandLine terminalLike()
{
    CommandLine cl("prog", "What prog is.");
    cl.addOption("--config-dir", "read from DIR", "DIR", CommandLine::RequiredValue);
    cl.addOption("--quiet", "say less");
    cl.addOption("--whiteboard", "open the board, from FILE", "FILE", CommandLine::OptionalValue);
    cl.addFile("/etc/prog/team.bin", "the configuration");
    return cl;
}

}  // namespace

TEST(CommandLine, AcceptsEveryFormOfItsOptions)
{
    struct Case {
        QStringList args;
        QMap<QString, QString> expected;
    };
    const Case cases[] = {
        {{}, {}},
        {{"--quiet"}, {{"--quiet", ""}}},
        {{"--config-dir", "/etc/prog"}, {{"--config-dir", "/etc/prog"}}},
        {{"--config-dir=/etc/prog"}, {{"--config-dir", "/etc/prog"}}},
        // A value may start with '-' when it is required.
        {{"--config-dir", "-odd-"}, {{"--config-dir", "-odd-"}}},
        {{"--whiteboard"}, {{"--whiteboard", ""}}},
        {{"--whiteboard", "lesson.tvboard"}, {{"--whiteboard", "lesson.tvboard"}}},
        {{"--whiteboard=lesson.tvboard"}, {{"--whiteboard", "lesson.tvboard"}}},
        // An optional value is not taken from the next option.
        {{"--whiteboard", "--quiet"}, {{"--whiteboard", ""}, {"--quiet", ""}}},
        {{"--quiet", "--whiteboard", "b.tvboard", "--config-dir", "d"},
         {{"--quiet", ""}, {"--whiteboard", "b.tvboard"}, {"--config-dir", "d"}}},
    };
    for (const Case& c : cases) {
        CommandLine cl = terminalLike();
        const std::string what = c.args.join(' ').toStdString();
        ASSERT_TRUE(cl.parse(c.args)) << what << ": " << cl.errorText().toStdString();
        for (const QString& name : {"--config-dir", "--quiet", "--whiteboard"}) {
            EXPECT_EQ(cl.isSet(name), c.expected.contains(name)) << what << " " << name.toStdString();
            EXPECT_EQ(cl.value(name), c.expected.value(name)) << what << " " << name.toStdString();
        }
    }
}

TEST(CommandLine, RefusesWhatItDoesNotKnowAndSaysWhy)
{
    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{"--quite"}, "unknown option '--quite'"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"--config-dir"}, "--config-dir needs a value (DIR)"},
        {{"--config-dir="}, "--config-dir needs a value (DIR)"},
        {{"--config-dir", ""}, "--config-dir needs a value (DIR)"},
        {{"--quiet", "--quiet"}, "--quiet given twice"},
        {{"--config-dir", "a", "--config-dir=b"}, "--config-dir given twice"},
        {{"lesson.tvboard"}, "unexpected argument 'lesson.tvboard'"},
        {{"--quiet", "-q"}, "unexpected argument '-q'"},
        {{"--"}, "unexpected argument '--'"},
    };
    for (const Case& c : cases) {
        CommandLine cl = terminalLike();
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_FALSE(cl.parse(c.args)) << what;
        const QString err = cl.errorText();
        EXPECT_EQ(err, QString("prog: %1\nTry 'prog --help' for more information.\n").arg(c.error))
            << what << ": " << err.toStdString();
    }
}

TEST(CommandLine, ParsingAgainForgetsTheLastArguments)
{
    CommandLine cl = terminalLike();
    ASSERT_TRUE(cl.parse({"--quiet", "--config-dir", "d"}));
    ASSERT_TRUE(cl.parse({"--whiteboard"}));
    EXPECT_FALSE(cl.isSet("--quiet"));
    EXPECT_FALSE(cl.isSet("--config-dir"));
    EXPECT_TRUE(cl.isSet("--whiteboard"));
}

TEST(CommandLine, HelpListsEveryOptionOnALineOfItsOwnAndTheFiles)
{
    const QString help = terminalLike().helpText();
    const QStringList lines = help.split('\n');
    EXPECT_EQ(lines.first(), "usage: prog [OPTION]...");
    EXPECT_EQ(lines[1], "What prog is.");
    // Each option once, at the start of its line, its value named and its
    // text beside it in one column.
    const QStringList expected = {
        "  --config-dir DIR     read from DIR",
        "  --quiet              say less",
        "  --whiteboard [FILE]  open the board, from FILE",
        "  -h, --help           print this help and exit",
        "  --version            print the version and exit",
    };
    const int first = lines.indexOf("Options:") + 1;
    ASSERT_GT(first, 0) << help.toStdString();
    EXPECT_EQ(lines.mid(first, expected.size()), expected) << help.toStdString();
    const int files = lines.indexOf("Files:");
    ASSERT_GT(files, first) << help.toStdString();
    EXPECT_EQ(lines[files + 1], "  /etc/prog/team.bin  the configuration");

    // A program without files has no such section; its usage lines stand
    // one under the other.
    CommandLine host("host", "Sends things.");
    host.addUsage("listen [--bind ADDR]");
    host.addUsage("stop --to ADDR");
    host.addOption("--bind", "from here", "ADDR", CommandLine::RequiredValue);
    host.addOption("--to", "to there", "ADDR", CommandLine::RequiredValue);
    EXPECT_EQ(host.usageText(), "usage: host listen [--bind ADDR]\n       host stop --to ADDR\n");
    EXPECT_FALSE(host.helpText().contains("Files:"));
    EXPECT_TRUE(host.helpText().startsWith(host.usageText()));
}

TEST(CommandLine, VersionIsTheProjectVersion)
{
    EXPECT_EQ(CommandLine::version(), QString(TAVLO_PROJECT_VERSION));
    EXPECT_EQ(terminalLike().versionText(), QString("prog %1\n").arg(TAVLO_PROJECT_VERSION));
}

TEST(CommandLine, HelpAndVersionAreFoundAnywhereAmongTheArguments)
{
    const CommandLine cl = terminalLike();
    auto answers = [&cl](std::vector<const char*> args) {
        args.insert(args.begin(), "prog");
        return cl.answerHelpOrVersion(static_cast<int>(args.size()), const_cast<char**>(args.data()));
    };
    EXPECT_FALSE(answers({}));
    EXPECT_FALSE(answers({"--quiet", "--config-dir", "d"}));
    EXPECT_FALSE(answers({"--helper"}));
    EXPECT_TRUE(answers({"--help"}));
    EXPECT_TRUE(answers({"-h"}));
    EXPECT_TRUE(answers({"--quiet", "--version"}));
    EXPECT_TRUE(answers({"--nonsense", "--help"}));
}
